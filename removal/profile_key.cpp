#include "removal/removal.h"
#include "client/clientpath.h"

void DeleteClientProfileKey()
{
    WriteProfileStringA("DVQ", "ExePath", NULL);
}

void DeleteVirtualProfileKeyOf(const TRunUser *user)
{
    // Only a copy that is there loses the key: deleting a key from one that is
    // not would make it.
    WCHAR winIni[2 * MAX_PATH];
    if (GetVirtualWinIni(user, winIni, 2 * MAX_PATH) && GetFileAttributesW(winIni) != INVALID_FILE_ATTRIBUTES)
        WritePrivateProfileStringW(L"DVQ", L"ExePath", NULL, winIni);
}
