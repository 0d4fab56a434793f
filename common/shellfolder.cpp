#include "common/shellfolder.h"
#include "common/paths.h"

bool GetShellFolderPath(IMalloc *shellMalloc, int csidl, char *path, size_t size)
{
    LPITEMIDLIST list = NULL;
    if (SHGetSpecialFolderLocation(NULL, csidl, &list) != S_OK)
        return false;
    // The shell writes up to MAX_PATH bytes, whatever the caller's buffer.
    char found[MAX_PATH];
    bool ok = SHGetPathFromIDListA(list, found) != FALSE;
    shellMalloc->Free(list);
    return ok && JoinPath(path, size, found, NULL);
}
