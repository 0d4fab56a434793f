#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "client/runuser.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>
#include <wchar.h>

void RemoveScreenSaver()
{
    int size = WindowsPathSize;
    char *windows = (char *)AllocScratch(size);
    char *profile = windows != NULL ? (char *)AllocScratch(size) : NULL;
    char *saver = profile != NULL ? (char *)AllocScratch(size) : NULL;
    char *value = saver != NULL ? (char *)AllocScratch(size) : NULL;
    if (value != NULL) {
        // Without the whole Windows directory both paths would be relative to the
        // current drive: nothing is then done.
        UINT length = GetWindowsDirectoryA(windows, size);
        bool haveWindows = length > 0 && length < (UINT)size;
        // A Windows directory at the root of its volume already ends with the separator.
        const char *separator = haveWindows && length == 3 && windows[2] == '\\' ? "" : "\\";
        if (haveWindows && JoinPath(profile, size, windows, separator, "SYSTEM.INI") &&
            JoinPath(saver, size, windows, separator, "KOVRAL32.SCR")) {
            GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", value, size, profile);
            if (strstr(value, saver) != NULL) {
                WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", NULL, profile);
                SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, NULL, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
            }
            ForceDeleteRecordedFile(TargetScreenSaverFile, saver);
        }
    }
    FreeScratch(value);
    FreeScratch(saver);
    FreeScratch(profile);
    FreeScratch(windows);
}

// Another user's active screen saver, as SYSTEM.INI's "boot" section keeps it
// for each user (Windows maps its key SCRNSAVE.EXE to the user's Control
// Panel\Desktop): when it names the client's, it goes and screen saving is
// switched off for that user, as the setting is saved. The file itself is the
// step's for the account the process runs as.
void RemoveScreenSaverSettingOf(const TRunUser *user)
{
    WCHAR saver[MAX_PATH + 16];
    UINT length = GetWindowsDirectoryW(saver, MAX_PATH);
    HKEY desktop = NULL;
    if (user->Registry == NULL || length == 0 || length >= MAX_PATH ||
        RegOpenKeyExW(user->Registry, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &desktop) !=
            ERROR_SUCCESS)
        return;
    wcscpy(saver + length, &L"\\KOVRAL32.SCR"[saver[length - 1] == L'\\' ? 1 : 0]);
    WCHAR value[1024];
    DWORD size = sizeof value - sizeof(WCHAR);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(desktop, L"SCRNSAVE.EXE", NULL, &type, (BYTE *)value, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value[size / sizeof(WCHAR)] = 0;
        if (wcsstr(value, saver) != NULL) {
            RegDeleteValueW(desktop, L"SCRNSAVE.EXE");
            RegSetValueExW(desktop, L"ScreenSaveActive", 0, REG_SZ, (const BYTE *)L"0", 2 * sizeof(WCHAR));
        }
    }
    RegCloseKey(desktop);
}
