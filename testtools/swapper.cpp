// Another program that may change the installation directory, and does so at a
// moment the caller chooses: it waits for the named event EVENT, makes its
// change, then signals EVENT.done and prints what it did.
//
//   swapper.exe EVENT subdirs DIR VICTIM AWAY
//       every subdirectory of DIR that can be renamed is moved into AWAY and a
//       link to VICTIM put in its place (as a user who may change DIR would:
//       through the system's own rename, which a directory held open without
//       delete sharing refuses)
//   swapper.exe EVENT replace DIR VICTIM AWAY
//       DIR (when it is there) is moved into AWAY below the system, by its Unix
//       name, and a link to VICTIM put in its place; the folders above DIR are
//       made when missing
//
// Links are Unix symbolic links, which Wine shows as Windows links. Exit code 0
// when the change was made (or tried), 2 on bad arguments or when EVENT never
// came.
#include "tests/support/wine.h"
#include <stdio.h>
#include <string>

static std::wstring Wide(const char *text)
{
    WCHAR wide[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH * 2);
    return wide;
}

// The Unix name of a Windows path whose last folders may not be there yet.
static std::string UnixName(const std::string &path)
{
    std::string unix = UnixPath(path);
    size_t cut = path.rfind('\\');
    if (!unix.empty() || cut == std::string::npos)
        return unix;
    std::string above = UnixName(path.substr(0, cut));
    return above.empty() ? "" : above + "/" + path.substr(cut + 1);
}

static bool Link(const std::string &victim, const std::string &place)
{
    return RunUnix({"/bin/ln", "-s", UnixPath(victim), UnixName(place)});
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: swapper EVENT subdirs|replace DIR VICTIM AWAY\n");
        return 2;
    }
    std::string event = argv[1], mode = argv[2], dir = argv[3], victim = argv[4], away = argv[5];
    HANDLE go = CreateEventA(NULL, TRUE, FALSE, event.c_str());
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, (event + ".done").c_str());
    if (go == NULL || done == NULL || WaitForSingleObject(go, 120000) != WAIT_OBJECT_0)
        return 2;
    int swapped = 0;
    if (mode == "subdirs") {
        // Listed through a handle shared for everything: the un-installer holds the
        // directory open, not shared for deletion, and Wine's own listing asks for
        // that sharing.
        HANDLE directory = CreateFileW(Wide(dir.c_str()).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
        static char block[65536];
        FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
        while (directory != INVALID_HANDLE_VALUE && GetFileInformationByHandleEx(directory, kind, block, sizeof block)) {
            kind = FileIdBothDirectoryInfo;
            for (FILE_ID_BOTH_DIR_INFO *entry = (FILE_ID_BOTH_DIR_INFO *)block;;
                 entry = (FILE_ID_BOTH_DIR_INFO *)((char *)entry + entry->NextEntryOffset)) {
                std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
                std::string narrow(name.begin(), name.end());
                if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
                    if (MoveFileW((Wide(dir.c_str()) + L"\\" + name).c_str(),
                                  (Wide(away.c_str()) + L"\\" + name).c_str()) &&
                        Link(victim, dir + "\\" + narrow))
                        swapped++;
                    else
                        fprintf(stderr, "swapper: %s not swapped (error %lu)\n", narrow.c_str(), GetLastError());
                }
                if (entry->NextEntryOffset == 0)
                    break;
            }
        }
        if (directory != INVALID_HANDLE_VALUE)
            CloseHandle(directory);
    } else if (mode == "replace") {
        std::string unixDir = UnixName(dir);
        std::string parent = unixDir.substr(0, unixDir.rfind('/'));
        RunUnix({"/bin/mkdir", "-p", parent});
        RunUnix({"/bin/mv", unixDir, UnixPath(away) + "/" + unixDir.substr(unixDir.rfind('/') + 1)});
        swapped = Link(victim, dir) ? 1 : 0;
    } else {
        return 2;
    }
    printf("swapped %d\n", swapped);
    fflush(stdout);
    SetEvent(done);
    return 0;
}
