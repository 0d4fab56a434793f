#include "common/shellfolder.h"
#include "common/paths.h"
#include <string.h>
#include <wchar.h>

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

bool GetShellFolderPathW(IMalloc *shellMalloc, int csidl, WCHAR *path, size_t size)
{
    LPITEMIDLIST list = NULL;
    if (SHGetSpecialFolderLocation(NULL, csidl, &list) != S_OK)
        return false;
    WCHAR found[MAX_PATH];
    bool ok = SHGetPathFromIDListW(list, found) != FALSE;
    shellMalloc->Free(list);
    size_t length = ok ? wcslen(found) : 0;
    if (length == 0 || length >= size)
        return false;
    memcpy(path, found, (length + 1) * sizeof(WCHAR));
    return true;
}
