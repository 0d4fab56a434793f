#include "removal/removal.h"
#include "common/paths.h"
#include <string.h>

// A handle to the file when it has other hard links, whose attributes are the
// file's own and would change with it; INVALID_HANDLE_VALUE otherwise.
static HANDLE OpenWhenLinked(const char *path)
{
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    BY_HANDLE_FILE_INFORMATION info;
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1)
        return file;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

void ForceDeleteFile(const char *path)
{
    // A name without its drive and root (or share) would be looked for along the
    // search path by OpenFile, and could delete a file of another program.
    size_t root = FullPathRootLength(path);
    if (root == 0)
        return;
    DWORD attributes = GetFileAttributesA(path);
    // A file that nothing protects is deleted at once.
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & AttributesInTheWay) && DeleteFileA(path))
        return;
    HANDLE linked = attributes != INVALID_FILE_ATTRIBUTES ? OpenWhenLinked(path) : INVALID_HANDLE_VALUE;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    // OpenFile takes at most OFS_MAXPATHNAME - 1 characters and drive paths only; a
    // longer path, a share, or a file that OpenFile could not delete, is deleted
    // directly rather than left behind.
    OFSTRUCT info;
    if (root != 3 || strlen(path) >= OFS_MAXPATHNAME || OpenFile(path, &info, OF_DELETE) == HFILE_ERROR)
        DeleteFileA(path);
    if (linked != INVALID_HANDLE_VALUE) {
        // The other links keep the attributes they had.
        FILE_BASIC_INFO basic;
        memset(&basic, 0, sizeof basic);
        basic.FileAttributes = attributes;
        SetFileInformationByHandle(linked, FileBasicInfo, &basic, sizeof basic);
        CloseHandle(linked);
    }
}
