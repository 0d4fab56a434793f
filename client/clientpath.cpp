#include "client/clientpath.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <windows.h>

int InstallPathSize = 0;
int WindowsPathSize = 0;
char *ClientPath = NULL;
TApprovedDirectory ApprovedDirectory = {INVALID_HANDLE_VALUE, false, false, 0, 0};

bool ReadClientPath(char *buffer, int size)
{
    GetProfileStringA("DVQ", "ExePath", "", buffer, size);
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

void ReleaseApprovedDirectory()
{
    if (ApprovedDirectory.Top != INVALID_HANDLE_VALUE)
        CloseHandle(ApprovedDirectory.Top);
    ApprovedDirectory.Top = INVALID_HANDLE_VALUE;
    ApprovedDirectory.Missing = false;
    ApprovedDirectory.Unreachable = false;
}

void FreePathBuffers()
{
    ReleaseApprovedDirectory();
    FreeScratch(ClientPath);
    ClientPath = NULL;
}
