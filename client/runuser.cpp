#include "client/runuser.h"
#include "common/security.h"
#include <shlobj.h>
#include <sddl.h>
#include <string.h>
#include <wchar.h>

TRunUsers RunUsers;
bool (*SecondRunUserForTests)(TRunUser *user) = NULL;

namespace {

void ClearUser(TRunUser *user)
{
    memset(user, 0, sizeof *user);
}

// The user's folders, as the shell gives them for its token.
void ReadFolders(TRunUser *user)
{
    const struct {
        int csidl;
        WCHAR *path;
    } folders[] = {
        {CSIDL_DESKTOPDIRECTORY, user->Desktop},
        {CSIDL_PROGRAMS, user->Programs},
        {CSIDL_LOCAL_APPDATA, user->LocalAppData},
    };
    for (const auto &folder : folders)
        if (SHGetFolderPathW(NULL, folder.csidl, user->Token, SHGFP_TYPE_CURRENT, folder.path) != S_OK)
            folder.path[0] = 0;
}

// The account that owns the session's shell, when it is not the one this process
// runs as: its token, and its registry as it is loaded while it is logged on.
bool OpenShellOwner(TRunUser *user)
{
    HWND shell = GetShellWindow();
    DWORD processId = 0;
    if (shell == NULL || GetWindowThreadProcessId(shell, &processId) == 0)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    HANDLE own = NULL;
    HANDLE token = NULL;
    BYTE ownSid[SECURITY_MAX_SID_SIZE];
    BYTE shellSid[SECURITY_MAX_SID_SIZE];
    bool other = process != NULL && OpenProcessToken(process, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, &token) &&
                 OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) && GetTokenAccount(own, ownSid) &&
                 GetTokenAccount(token, shellSid) && !EqualSid(ownSid, shellSid);
    if (own != NULL)
        CloseHandle(own);
    if (process != NULL)
        CloseHandle(process);
    if (!other) {
        if (token != NULL)
            CloseHandle(token);
        return false;
    }
    ClearUser(user);
    user->Token = token;
    WCHAR *text = NULL;
    if (ConvertSidToStringSidW((PSID)shellSid, &text) &&
        RegOpenKeyExW(HKEY_USERS, text, 0, KEY_ALL_ACCESS, &user->Registry) == ERROR_SUCCESS)
        user->OwnsRegistry = true;
    else
        user->Registry = NULL;
    LocalFree(text);
    ReadFolders(user);
    return true;
}

}  // namespace

void OpenRunningUser(TRunUser *user)
{
    ClearUser(user);
    user->Registry = HKEY_CURRENT_USER;
    ReadFolders(user);
}

void CloseRunUser(TRunUser *user)
{
    if (user->OwnsRegistry && user->Registry != NULL)
        RegCloseKey(user->Registry);
    if (user->Token != NULL)
        CloseHandle(user->Token);
    ClearUser(user);
}

void OpenRunUsers(TRunUsers *users)
{
    OpenRunningUser(&users->Users[0]);
    users->Count = 1;
    TRunUser *second = &users->Users[1];
    ClearUser(second);
    if (SecondRunUserForTests != NULL ? SecondRunUserForTests(second) : OpenShellOwner(second))
        users->Count = 2;
}

void CloseRunUsers(TRunUsers *users)
{
    for (int i = 0; i < users->Count; i++)
        CloseRunUser(&users->Users[i]);
    users->Count = 0;
}

bool GetVirtualStoreCopy(const TRunUser *user, const WCHAR *path, WCHAR *copy, DWORD chars)
{
    WCHAR windows[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    size_t base = wcslen(user->LocalAppData);
    // The copies are of the system's volume alone.
    if (length < 3 || length >= MAX_PATH || base == 0 || path[0] == 0 || path[1] != L':' || path[2] != L'\\' ||
        (path[0] | 0x20) != (windows[0] | 0x20) || windows[1] != L':')
        return false;
    static const WCHAR store[] = L"\\VirtualStore\\";
    size_t rest = wcslen(path + 3);
    size_t storeChars = sizeof store / sizeof store[0] - 1;
    if (base + storeChars + rest + 1 > chars)
        return false;
    memcpy(copy, user->LocalAppData, base * sizeof(WCHAR));
    memcpy(copy + base, store, storeChars * sizeof(WCHAR));
    memcpy(copy + base + storeChars, path + 3, (rest + 1) * sizeof(WCHAR));
    return true;
}
