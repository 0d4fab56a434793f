#include "tests/support/wine.h"
#include <winioctl.h>

namespace {

std::wstring Wide(const std::string &text)
{
    WCHAR wide[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH * 2);
    return wide;
}

}  // namespace

std::string UnixPath(const std::string &windowsPath)
{
    auto unixFileName = (char *(CDECL *)(LPCWSTR))(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                          "wine_get_unix_file_name");
    char *name = unixFileName != NULL ? unixFileName(Wide(windowsPath).c_str()) : NULL;
    if (name == NULL)
        return "";
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

bool RunUnix(std::vector<std::string> args)
{
    auto spawn = (LONG(CDECL *)(char *const *argv, int wait))(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                                    "__wine_unix_spawnvp");
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(NULL);
    return spawn != NULL && spawn(argv.data(), TRUE) == 0;
}

// Wine's mount manager defines and removes drive letters, as its configuration
// tool does: the letter becomes a link in the prefix's dosdevices folder.
struct TMountmgrUnixDrive {
    ULONG size, type, fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset, device_offset, label_offset;
};
const DWORD IoctlDefineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

bool DefineWineDrive(char letter, const std::string &unixPath, UINT type)
{
    char root[4] = {letter, ':', '\\', '\0'};
    // A letter that is not there is removed already: no file can change volume.
    if (unixPath.empty() && GetFileAttributesA(root) == INVALID_FILE_ATTRIBUTES)
        return true;
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(sizeof(TMountmgrUnixDrive) + unixPath.size() + 1, '\0');
    TMountmgrUnixDrive *drive = (TMountmgrUnixDrive *)buffer.data();
    drive->size = (ULONG)buffer.size();
    drive->type = unixPath.empty() ? DRIVE_NO_ROOT_DIR : type;
    drive->letter = (WCHAR)(letter | 0x20);
    drive->mount_point_offset = unixPath.empty() ? 0 : sizeof(TMountmgrUnixDrive);
    unixPath.copy(buffer.data() + sizeof(TMountmgrUnixDrive), unixPath.size());
    DWORD returned = 0;
    BOOL done = DeviceIoControl(manager, IoctlDefineUnixDrive, buffer.data(), (DWORD)buffer.size(), NULL, 0,
                                &returned, NULL);
    CloseHandle(manager);
    // The letter is there (or gone) for this process once its root answers so.
    for (int i = 0; done && i < 100; i++) {
        if ((GetFileAttributesA(root) != INVALID_FILE_ATTRIBUTES) == !unixPath.empty()) {
            // Wine reads its list of drives again only when the clock's second
            // changes, and that list decides which volume (serial number) a file
            // is on. Until the next second a file under the new letter could
            // report either volume, and identities compared across the change
            // would differ.
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            ULONGLONG ticks = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
            Sleep((DWORD)(1000 - ticks / 10000 % 1000) + 20);
            return true;
        }
        Sleep(50);
    }
    return false;
}

TLinkedFolder::TLinkedFolder(const std::string &folder, const std::string &target)
    : unixFolder(UnixPath(folder)), unixTarget(UnixPath(target))
{
    bool moved = !unixFolder.empty() && !unixTarget.empty() && RunUnix({"/bin/mv", unixFolder, unixTarget});
    ready = moved && RunUnix({"/bin/ln", "-s", unixTarget, unixFolder});
    if (moved && !ready)
        RunUnix({"/bin/mv", unixTarget, unixFolder});
    if (!ready)
        unixTarget.clear();
}

TLinkedFolder::~TLinkedFolder()
{
    if (!unixTarget.empty() && RunUnix({"/bin/rm", "-f", unixFolder}))
        RunUnix({"/bin/mv", unixTarget, unixFolder});
}
