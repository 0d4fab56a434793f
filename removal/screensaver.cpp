#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>

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
