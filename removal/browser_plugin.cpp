#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>

// Netscape Navigator registers itself as a local COM server; the default value of
// this key is the path of its executable.
static const char BrowserServerKey[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";

// Reads the browser executable's path from its open registration key into path
// (size bytes). True only for a string value read whole, with its terminator.
static bool ReadRegisteredBrowser(HKEY key, char *path, int size)
{
    LONG length = size;
    if (RegQueryValueA(key, NULL, path, &length) != ERROR_SUCCESS || length <= 0 || length > size ||
        memchr(path, '\0', length) == NULL)
        return false;
    // The call hands back whatever bytes the default value holds; a number or a
    // binary value is no path.
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, NULL, NULL, &type, NULL, NULL) != ERROR_SUCCESS)
        return false;
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Reads the path of the browser's settings file from WIN.INI into path (size
// bytes). A value that fills the buffer may have been cut and counts as unread.
static bool ReadBrowserSettingsFile(char *path, int size)
{
    DWORD length = GetProfileStringA("netscape", "ini", "C:\\NETSCAPE\\NETSCAPE.INI", path, size);
    return length + 1 < (DWORD)size;
}

void RemoveBrowserPlugin()
{
    int size = WindowsPathSize;
    char *pluginPath = (char *)AllocScratch(size);
    char *directory = pluginPath != NULL ? (char *)AllocScratch(size) : NULL;
    char *drive = directory != NULL ? (char *)AllocScratch(size) : NULL;
    if (drive != NULL) {
        // The browser's executable, or failing a registration its settings file,
        // lives in the folder whose Plugins subfolder holds the plug-in.
        HKEY key = NULL;
        bool haveSource;
        if (RegOpenKeyA(HKEY_CLASSES_ROOT, BrowserServerKey, &key) == ERROR_SUCCESS) {
            haveSource = ReadRegisteredBrowser(key, pluginPath, size);
        } else {
            key = NULL;
            haveSource = ReadBrowserSettingsFile(pluginPath, size);
        }
        if (haveSource && IsAbsolutePath(pluginPath) &&
            SplitPath(pluginPath, drive, size, directory, size, NULL, 0, NULL, 0) &&
            JoinPath(pluginPath, size, drive, directory, "Plugins\\", "NPDVQ32.DLL")) {
            ForceDeleteRecordedFile(TargetPluginFile, pluginPath);
        }
        if (key != NULL)
            RegCloseKey(key);
    }
    FreeScratch(drive);
    FreeScratch(directory);
    FreeScratch(pluginPath);
}
