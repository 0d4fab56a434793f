#include "common/shellfolder.h"
#include "common/paths.h"
#include <string.h>
#include <wchar.h>

// Some shells cannot make an item-ID list of a folder redirected to a share
// (\\server\share\...); the folder's path is then asked for directly.

bool GetShellFolderPath(IMalloc *shellMalloc, int csidl, char *path, size_t size)
{
    // The shell writes up to MAX_PATH bytes, whatever the caller's buffer.
    char found[MAX_PATH];
    LPITEMIDLIST list = NULL;
    bool ok;
    if (SHGetSpecialFolderLocation(NULL, csidl, &list) == S_OK) {
        ok = SHGetPathFromIDListA(list, found) != FALSE;
        shellMalloc->Free(list);
    } else {
        ok = SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, found) == S_OK;
    }
    return ok && found[0] != '\0' && JoinPath(path, size, found, NULL);
}

bool GetShellFolderPathW(IMalloc *shellMalloc, int csidl, WCHAR *path, size_t size)
{
    WCHAR found[MAX_PATH];
    LPITEMIDLIST list = NULL;
    bool ok;
    if (SHGetSpecialFolderLocation(NULL, csidl, &list) == S_OK) {
        ok = SHGetPathFromIDListW(list, found) != FALSE;
        shellMalloc->Free(list);
    } else {
        ok = SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, found) == S_OK;
    }
    size_t length = ok ? wcslen(found) : 0;
    if (length == 0 || length >= size)
        return false;
    memcpy(path, found, (length + 1) * sizeof(WCHAR));
    return true;
}

bool IsExactAnsiForm(const WCHAR *wide, char *path, size_t size)
{
    BOOL usedDefault = FALSE;
    bool utf8 = GetACP() == CP_UTF8;  // no default character and no best fit there
    int length = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide, -1, path,
                                     (int)size, NULL, utf8 ? NULL : &usedDefault);
    return length > 1 && !usedDefault;
}
