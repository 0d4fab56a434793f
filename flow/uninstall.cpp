#include "flow/uninstall.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "client/runuser.h"
#include "flow/protected.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "removal/removal.h"
#include "resources/resource.h"
#include <objbase.h>
#include <string.h>

static HINSTANCE Instance;
static char Caption[256];

// Formats a message whose only directives are %s (taking arg1, then arg2) and %%,
// into a heap buffer as long as the whole text, so that no path is ever cut.
static char *FormatText(const char *format, const char *arg1, const char *arg2)
{
    const char *args[2] = {arg1 != NULL ? arg1 : "", arg2 != NULL ? arg2 : ""};
    DWORD size = (DWORD)(strlen(format) + strlen(args[0]) + strlen(args[1]) + 1);
    char *text = (char *)AllocScratch(size);
    if (text == NULL)
        return NULL;
    char *out = text;
    int next = 0;
    for (const char *p = format; *p != '\0'; p++) {
        if (p[0] == '%' && p[1] == 's' && next < 2) {
            size_t length = strlen(args[next]);
            memcpy(out, args[next++], length);
            out += length;
            p++;
        } else {
            if (p[0] == '%' && p[1] == '%')
                p++;
            *out++ = *p;
        }
    }
    *out = '\0';
    return text;
}

// Shows message id in a box with no owner window and the program's caption; a
// message with arguments is formatted first. Returns the box's answer, or 0 when
// no box could be shown.
static int ShowMessage(UINT id, UINT flags, const char *arg1 = NULL, const char *arg2 = NULL)
{
    char format[256] = {0};
    if (LoadStringA(Instance, id, format, sizeof format) == 0)
        return 0;
    if (arg1 == NULL)
        return MessageBoxA(NULL, format, Caption, flags);
    char *text = FormatText(format, arg1, arg2);
    if (text == NULL)
        return 0;
    int answer = MessageBoxA(NULL, text, Caption, flags);
    FreeScratch(text);
    return answer;
}

void RunRemoval(const char *drive, const char *directory)
{
    OpenRemovalRecord();
    RemoveBrowserPlugin();
    RemoveScreenSaver();
    for (int i = 1; i < RunUsers.Count; i++)
        RemoveScreenSaverSettingOf(&RunUsers.Users[i]);
    DeleteClientProfileKey();
    for (int i = 0; i < RunUsers.Count; i++)
        DeleteVirtualProfileKeyOf(&RunUsers.Users[i]);
    RemoveRegistration();
    for (int i = 0; i < RunUsers.Count; i++) {
        if (i > 0)
            RemoveUserRegistration(RunUsers.Users[i].Registry);
        RemoveVirtualRegistration(RunUsers.Users[i].Registry);
    }
    for (int i = 0; i < RunUsers.Count; i++)
        RemoveDesktopShortcutsOf(&RunUsers.Users[i]);
    for (int i = 0; i < RunUsers.Count; i++)
        RemoveProgramGroupOf(&RunUsers.Users[i]);
    RemoveInstallDirectory();
    TLeftovers leftovers = RemoveLeftovers();
    CloseRemovalRecord();
    // What was deleted through the handles is gone once the last of them closes.
    ReleaseApprovedDirectory();
    if (leftovers == NothingLeft)
        ShowMessage(IDS_REMOVED, MB_OK);
    else if (leftovers == LeftForRestart)
        ShowMessage(IDS_REMOVED_AT_RESTART, MB_OK);
    else
        ShowMessage(IDS_NOT_ALL_REMOVED, MB_OK, drive, directory);
}

// Asks, removes or refuses for the client located in ClientPath.
static void ConfirmAndRemove()
{
    char drive[3] = {0};
    char *directory = (char *)AllocScratch(InstallPathSize);
    if (directory == NULL) {
        // What cannot be checked is refused; its directory is shown when it fits
        // here, and left out when it does not.
        char shown[MAX_PATH];
        SplitPath(ClientPath, drive, sizeof drive, shown, sizeof shown, NULL, 0, NULL, 0);
        ShowMessage(IDS_PROTECTED_DIRECTORY, MB_OK, drive, shown);
        return;
    }
    SplitPath(ClientPath, drive, sizeof drive, directory, InstallPathSize, NULL, 0, NULL, 0);
    if (CheckInstallDirectory(ClientPath, &ApprovedDirectory))
        ShowMessage(IDS_PROTECTED_DIRECTORY, MB_OK, drive, directory);
    else if (ShowMessage(IDS_CONFIRM, MB_YESNO | MB_ICONQUESTION, ClientPath) == IDYES &&
             ShowMessage(IDS_CONFIRM_DIRECTORY, MB_YESNO | MB_ICONSTOP, drive, directory) == IDYES)
        RunRemoval(drive, directory);
    FreeScratch(directory);
}

int RunUninstall(HINSTANCE instance)
{
    Instance = instance;
    memset(Caption, 0, sizeof Caption);
    LoadStringA(Instance, IDS_TITLE, Caption, sizeof Caption);

    HWND client = FindWindowA("SolvarineMainWndClass", NULL);
    if (client != NULL) {
        if (ShowMessage(IDS_RUNNING, MB_YESNO) == IDNO)
            return 0;
        PostMessageA(client, WM_CLOSE, 0, 0);
    }

    HRESULT com = CoInitialize(NULL);
    OpenRunUsers(&RunUsers);
    if (InitPathBuffers() && ReadClientPath(ClientPath, InstallPathSize))
        ConfirmAndRemove();
    else
        ShowMessage(IDS_NOT_FOUND, MB_OK);
    if (SUCCEEDED(com))
        CoUninitialize();
    FreePathBuffers();
    CloseRunUsers(&RunUsers);
    return 0;
}
