#include "client/clientpath.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <string.h>
#include <wchar.h>
#include <windows.h>

int InstallPathSize = 0;
int WindowsPathSize = 0;
char *ClientPath = NULL;
TApprovedDirectory ApprovedDirectory = {INVALID_HANDLE_VALUE, false, false, 0, 0};
static_assert(MaxRunUsers == 2, "an approval for each user's copy");
TApprovedCopy ApprovedCopies[MaxRunUsers] = {{{INVALID_HANDLE_VALUE, false, false, 0, 0}, {0}},
                                             {{INVALID_HANDLE_VALUE, false, false, 0, 0}, {0}}};

bool GetVirtualWinIni(const TRunUser *user, WCHAR *path, DWORD chars)
{
    WCHAR winIni[MAX_PATH + 16];
    UINT length = GetWindowsDirectoryW(winIni, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wcscpy(winIni + length, &L"\\win.ini"[winIni[length - 1] == L'\\' ? 1 : 0]);
    return GetVirtualStoreCopy(user, winIni, path, chars);
}

bool ReadClientPath(char *buffer, int size)
{
    GetProfileStringA("DVQ", "ExePath", "", buffer, size);
    for (int i = 0; buffer[0] == '\0' && i < RunUsers.Count; i++) {
        WCHAR winIni[2 * MAX_PATH];
        WCHAR value[MAX_PATH * 2];
        const DWORD valueChars = sizeof value / sizeof value[0];
        DWORD length = GetVirtualWinIni(&RunUsers.Users[i], winIni, 2 * MAX_PATH)
                           ? GetPrivateProfileStringW(L"DVQ", L"ExePath", L"", value, valueChars, winIni)
                           : 0;
        // A value that fills the buffer may have been cut, and one that the code
        // page changes names something else.
        char ansi[MAX_PATH * 4];
        if (length == 0 || length + 1 >= valueChars || !IsExactAnsiForm(value, ansi, sizeof ansi) ||
            strlen(ansi) + 1 > (size_t)size)
            continue;
        memcpy(buffer, ansi, strlen(ansi) + 1);
    }
    return buffer[0] != '\0';
}

// The longest file-name component of the volume that path lives on; 0 when it
// cannot be queried. A path without a drive asks about the current drive.
static DWORD MaxComponentLength(const char *path)
{
    char drive[3];
    char root[4];
    DWORD length = 0;
    if (!SplitPath(path, drive, sizeof drive, NULL, 0, NULL, 0, NULL, 0))
        return 0;
    JoinPath(root, sizeof root, drive, "\\");
    if (!GetVolumeInformationA(drive[0] != '\0' ? root : NULL, NULL, 0, NULL, &length, NULL, NULL, 0))
        return 0;
    return length;
}

// Four bytes a name character, as the client's installer sized its buffers; never
// less than the longest path the ANSI file API takes, which the platform's own
// calls (shell folders, directory listings) may write in full.
static int PathSizeFor(DWORD componentLength)
{
    if (componentLength == 0)
        return 1040;
    if (componentLength > 8192)
        componentLength = 8192;
    int size = (int)componentLength * 4;
    return size < MAX_PATH ? MAX_PATH : size;
}

bool InitPathBuffers()
{
    char path[780];
    InstallPathSize = 0;
    WindowsPathSize = 0;
    if (!ReadClientPath(path, sizeof path))
        return false;
    InstallPathSize = PathSizeFor(MaxComponentLength(path));
    UINT windowsLength = GetWindowsDirectoryA(path, sizeof path);
    bool haveWindows = windowsLength > 0 && windowsLength < sizeof path;
    WindowsPathSize = PathSizeFor(haveWindows ? MaxComponentLength(path) : 0);
    ClientPath = (char *)AllocScratch(InstallPathSize);
    if (ClientPath == NULL) {
        FreePathBuffers();
        return false;
    }
    return true;
}

static void ReleaseApproval(TApprovedDirectory *approval)
{
    if (approval->Top != INVALID_HANDLE_VALUE)
        CloseHandle(approval->Top);
    approval->Top = INVALID_HANDLE_VALUE;
    approval->Missing = approval->Unreachable = false;
}

void ReleaseApprovedDirectory()
{
    for (int i = 0; i < MaxRunUsers; i++)
        ReleaseApproval(&ApprovedCopies[i].Approval);
    ReleaseApproval(&ApprovedDirectory);
}

void FreePathBuffers()
{
    ReleaseApprovedDirectory();
    FreeScratch(ClientPath);
    ClientPath = NULL;
}
