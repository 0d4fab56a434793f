#include "removal/removal.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

// At most this many passes over the desktop, each deleting at most one shortcut.
static const int MaxShortcutPasses = 20;

// True when the shell left a string in buffer that is certainly whole: it ends
// before the last byte. A string that fills the buffer may have been cut (the
// shell copies what fits, with or without a terminator), so it is not taken.
static bool HoldsWholeString(const char *buffer, DWORD size)
{
    const void *end = memchr(buffer, '\0', size);
    return end != NULL && (DWORD)((const char *)end - buffer) < size - 1;
}

HRESULT ResolveShortcut(HWND ownerWindow, const char *linkPath, char *targetPath)
{
    DWORD size = (DWORD)WindowsPathSize;
    targetPath[0] = '\0';
    WCHAR *wideLinkPath = (WCHAR *)AllocScratch(size * sizeof(WCHAR));
    char *path = (char *)AllocScratch(size);
    char *description = (char *)AllocScratch(size);
    IShellLinkA *shellLink = NULL;
    IPersistFile *persistFile = NULL;
    HRESULT result = E_OUTOFMEMORY;
    if (wideLinkPath != NULL && path != NULL && description != NULL) {
        WIN32_FIND_DATAA findData;
        result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  (void **)&shellLink);
        if (FAILED(result))
            shellLink = NULL;
        if (SUCCEEDED(result)) {
            result = shellLink->QueryInterface(IID_IPersistFile, (void **)&persistFile);
            if (FAILED(result))
                persistFile = NULL;
        }
        // A link path longer than the wide buffer would be loaded cut: refused.
        if (SUCCEEDED(result) && MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideLinkPath, (int)size) == 0)
            result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        if (SUCCEEDED(result))
            result = persistFile->Load(wideLinkPath, STGM_READ);
        // No user interface; a target that has moved is searched for.
        if (SUCCEEDED(result))
            result = shellLink->Resolve(ownerWindow, SLR_NO_UI | SLR_ANY_MATCH);
        if (SUCCEEDED(result)) {
            // A shortcut without a path may leave the buffer as it was.
            path[0] = '\0';
            result = shellLink->GetPath(path, (int)size, &findData, SLGP_SHORTPATH);
        }
        if (SUCCEEDED(result)) {
            description[0] = '\0';
            result = shellLink->GetDescription(description, (int)size);
        }
        if (SUCCEEDED(result) && !HoldsWholeString(path, size))
            result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        if (SUCCEEDED(result)) {
            // Some shells give the long form whatever the flag asks; the short form
            // of an existing target is made here. A target that is not there keeps
            // the form the shell gave.
            DWORD shortLength = GetShortPathNameA(path, targetPath, size);
            if (shortLength == 0 || shortLength >= size)
                JoinPath(targetPath, size, path, NULL);
        }
    }
    FreeScratch(description);
    FreeScratch(path);
    FreeScratch(wideLinkPath);
    if (persistFile != NULL)
        persistFile->Release();
    if (shellLink != NULL)
        shellLink->Release();
    return result;
}

bool IsClientTarget(const char *targetPath)
{
    char name[_MAX_FNAME];
    char extension[_MAX_EXT];
    char fileName[_MAX_FNAME + _MAX_EXT];
    return SplitPath(targetPath, NULL, 0, NULL, 0, name, sizeof name, extension, sizeof extension) &&
           JoinPath(fileName, sizeof fileName, name, extension) && _strcmpi(fileName, "DVQ32.EXE") == 0;
}

bool GetListedShortcut(const char *desktop, const WIN32_FIND_DATAA *entry, char *shortcut, DWORD size)
{
    char name[MAX_PATH];
    return !(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && JoinPath(shortcut, size, desktop, "\\") &&
           GetReachableEntryName(shortcut, entry, name, (int)sizeof name, NULL) &&
           JoinPath(shortcut, size, desktop, "\\", name);
}

// One pass: lists the desktop's shortcuts from the start and copies the first one
// that leads to the client into found. False when there is none.
static bool FindClientShortcut(const char *desktop, const char *pattern, char *shortcut, char *target,
                               char *found, DWORD size)
{
    found[0] = '\0';
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (!GetListedShortcut(desktop, &entry, shortcut, size))
            continue;
        ResolveShortcut(NULL, shortcut, target);
        if (IsClientTarget(target)) {
            JoinPath(found, size, shortcut, NULL);
            break;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return found[0] != '\0';
}

void RemoveDesktopShortcuts()
{
    DWORD size = (DWORD)WindowsPathSize;
    char *desktop = (char *)AllocScratch(size);
    char *found = (char *)AllocScratch(size);
    char *pattern = (char *)AllocScratch(size);
    char *shortcut = (char *)AllocScratch(size);
    char *target = (char *)AllocScratch(size);
    IMalloc *shellMalloc = NULL;
    if (desktop != NULL && found != NULL && pattern != NULL && shortcut != NULL && target != NULL &&
        SHGetMalloc(&shellMalloc) == S_OK && GetShellFolderPath(shellMalloc, CSIDL_DESKTOP, desktop, size) &&
        JoinPath(pattern, size, desktop, "\\*.lnk")) {
        for (int pass = 0; pass < MaxShortcutPasses; pass++) {
            if (!FindClientShortcut(desktop, pattern, shortcut, target, found, size))
                break;
            ForceDeleteFile(found);
            RecordRemovalTarget(TargetShortcut, found);
        }
    }
    FreeScratch(target);
    FreeScratch(shortcut);
    FreeScratch(pattern);
    FreeScratch(found);
    FreeScratch(desktop);
    if (shellMalloc != NULL)
        shellMalloc->Release();
}
