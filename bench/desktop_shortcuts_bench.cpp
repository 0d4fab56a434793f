// How long the desktop shortcut removal takes when the desktop holds many other
// shortcuts beside the client's: every pass lists the desktop from the start and
// resolves what stands before the next client shortcut.
// Prints milliseconds; makes and removes its shortcuts in the prefix's Desktop.
#include "removal/removal.h"
#include "client/clientpath.h"
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>

static char Desktop[MAX_PATH];

static bool MakeShortcut(const char *name, const char *target)
{
    char link[MAX_PATH];
    WCHAR wideLink[MAX_PATH];
    wsprintfA(link, "%s\\%s", Desktop, name);
    MultiByteToWideChar(CP_ACP, 0, link, -1, wideLink, MAX_PATH);
    IShellLinkA *shellLink = NULL;
    IPersistFile *file = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&shellLink)))
        return false;
    shellLink->SetPath(target);
    bool saved = SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void **)&file)) &&
                 SUCCEEDED(file->Save(wideLink, TRUE));
    if (file != NULL)
        file->Release();
    shellLink->Release();
    return saved;
}

static void ClearShortcuts(int others)
{
    char link[MAX_PATH];
    for (int i = 0; i < others; i++) {
        wsprintfA(link, "%s\\a other %03d.lnk", Desktop, i);
        DeleteFileA(link);
    }
    for (int i = 0; i < 20; i++) {
        wsprintfA(link, "%s\\z client %02d.lnk", Desktop, i);
        DeleteFileA(link);
    }
}

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (to.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
}

int main()
{
    CoInitialize(NULL);
    InstallPathSize = WindowsPathSize = 1020;
    SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, NULL, 0, Desktop);
    const int sizes[] = {0, 20, 100};
    for (int s = 0; s < 3; s++) {
        int others = sizes[s];
        char name[64];
        for (int i = 0; i < others; i++) {
            wsprintfA(name, "a other %03d.lnk", i);
            MakeShortcut(name, "C:\\windows\\notepad.exe");
        }
        for (int i = 0; i < 20; i++) {
            wsprintfA(name, "z client %02d.lnk", i);
            MakeShortcut(name, "C:\\Program Files\\Solvarine\\DVQ32.EXE");
        }
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        RemoveDesktopShortcuts();
        QueryPerformanceCounter(&end);
        double total = Milliseconds(start, end);
        // 20 passes, each resolving the shortcuts listed before the first client
        // one left; how many that is depends on the file system's listing order.
        printf("%3d other + 20 client shortcuts: %8.1f ms for the 20 passes\n", others, total);
        ClearShortcuts(others);
    }
    CoUninitialize();
    return 0;
}
