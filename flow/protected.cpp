#include "flow/protected.h"
#include "flow/clientpath.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <windows.h>
#include <shlobj.h>
#include <string.h>

// Folders that must survive, with everything above them. The first three are the
// Start menu's Programs, the Desktop and Startup; the others hold what the system
// and the user's other programs keep.
static const int ProtectedShellFolders[] = {
    CSIDL_PROGRAMS, CSIDL_DESKTOP, CSIDL_STARTUP,
    CSIDL_STARTMENU, CSIDL_PROFILE, CSIDL_PERSONAL, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA,
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_COMMON_APPDATA,
    CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTUP,
    CSIDL_COMMON_STARTMENU, CSIDL_FONTS,
};

// The client path must name one file by an absolute path that the ANSI file API
// takes as it stands: no current drive or directory, no "." or ".." and no
// component that the platform would silently trim (trailing dots and spaces), no
// wildcards or stream names, nothing that fills its buffer (it may have been cut
// when read), and a directory part that the removal's buffers hold.
static bool HasRemovableForm(const char *clientPath)
{
    size_t length = strlen(clientPath);
    if (!IsAbsolutePath(clientPath) || length >= MAX_PATH || (int)length >= InstallPathSize - 1)
        return false;
    const char *component = clientPath + 3;
    for (const char *p = component; *p != '\0'; p++) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') {
            p++;
        } else if (*p == '/') {
            return false;
        } else if (*p == '\\') {
            if (!IsPlainName(component, p - component) || p[-1] == '.' || p[-1] == ' ')
                return false;
            component = p + 1;
        }
    }
    return component - (clientPath + 2) <= 255;
}

// Folder path to compare: with a trailing backslash, in its long form when it
// exists (longForm is scratch of the same size). False when it does not fit.
static bool MakeComparable(char *path, char *longForm, DWORD size)
{
    size_t length = strlen(path);
    if (length == 0 || (path[length - 1] != '\\' && !JoinPath(path + length, size - length, "\\", NULL)))
        return false;
    DWORD longLength = GetLongPathNameA(path, longForm, size);
    if (longLength > 0 && longLength < size)
        JoinPath(path, size, longForm, NULL);
    return true;
}

// True when removing directory would remove folder: the same folder, or one that
// holds it. Both end with a backslash, so a prefix always ends at a component.
static bool RemovalReaches(const char *directory, const char *folder)
{
    int length = (int)strlen(directory);
    return (int)strlen(folder) >= length &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, directory, length, folder, length) == CSTR_EQUAL;
}

// Protected folder number index into folder: the Windows directory, the system
// directory, then the shell folders. False when it cannot be had.
static bool GetProtectedFolder(int index, IMalloc *shellMalloc, char *folder, DWORD size)
{
    if (index == 0)
        return GetWindowsDirectoryA(folder, size) - 1u < size - 1;
    if (index == 1)
        return GetSystemDirectoryA(folder, size) - 1u < size - 1;
    return GetShellFolderPath(shellMalloc, ProtectedShellFolders[index - 2], folder, size);
}

bool IsProtectedDirectory(const char *clientPath)
{
    if (!HasRemovableForm(clientPath))
        return true;
    DWORD size = (DWORD)InstallPathSize;
    char *directory = (char *)AllocScratch(size);
    char *folder = (char *)AllocScratch(size);
    char *longForm = (char *)AllocScratch(size);
    IMalloc *shellMalloc = NULL;
    bool isProtected = true;
    char drive[3];
    if (directory != NULL && folder != NULL && longForm != NULL &&
        SplitPath(clientPath, drive, sizeof drive, folder, size, NULL, 0, NULL, 0) &&
        strcmp(folder, "\\") != 0 && JoinPath(directory, size, drive, folder) &&
        MakeComparable(directory, longForm, size) && SHGetMalloc(&shellMalloc) == S_OK) {
        const int folders = 2 + sizeof ProtectedShellFolders / sizeof ProtectedShellFolders[0];
        isProtected = false;
        for (int i = 0; i < folders && !isProtected; i++)
            isProtected = GetProtectedFolder(i, shellMalloc, folder, size) &&
                          MakeComparable(folder, longForm, size) && RemovalReaches(directory, folder);
    }
    if (shellMalloc != NULL)
        shellMalloc->Release();
    FreeScratch(longForm);
    FreeScratch(folder);
    FreeScratch(directory);
    return isProtected;
}
