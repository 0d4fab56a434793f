#include "removal/removal.h"
#include "removal/restart.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <shlobj.h>
#include <string.h>

// A recorded file: deleted once more through its directory, or settled.
static void HandleFileTarget(TRestartPlan *plan, const TRecordedFile *file, TTally *tally)
{
    if (file->Directory == INVALID_HANDLE_VALUE)
        return;
    TListedName listed = {file->Name, file->Chars, INVALID_FILE_ATTRIBUTES, 0};
    DeleteListedEntry(plan, file->Directory, &listed, tally);
}

// When a recorded shortcut stayed, the shortcut step may have stopped at it
// before reaching others of the client's: the desktop is listed once more, and
// those not recorded are deleted through the directory the recorded ones went
// through.
static void HandleUnreachedShortcuts(TRestartPlan *plan, HANDLE desktopDirectory, TTally *tally)
{
    DWORD size = (DWORD)WindowsPathSize;
    char *desktop = size > 0 ? (char *)AllocScratch(size) : NULL;
    char *pattern = desktop != NULL ? (char *)AllocScratch(size) : NULL;
    char *shortcut = pattern != NULL ? (char *)AllocScratch(size) : NULL;
    char *target = shortcut != NULL ? (char *)AllocScratch(size) : NULL;
    IMalloc *shellMalloc = NULL;
    if (target == NULL || SHGetMalloc(&shellMalloc) != S_OK ||
        !GetShellFolderPath(shellMalloc, CSIDL_DESKTOP, desktop, size) ||
        !JoinPath(pattern, size, desktop, "\\*.lnk")) {
        tally->Left = true;
    } else {
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA(pattern, &entry);
        if (listing != INVALID_HANDLE_VALUE) {
            do {
                if (!GetListedShortcut(desktop, &entry, shortcut, size) || IsRecordedShortcut(shortcut))
                    continue;
                ResolveShortcut(NULL, shortcut, target);
                WCHAR name[MAX_PATH];
                const char *last = strrchr(shortcut, '\\');  // the name the listing reached it by
                int chars = IsClientTarget(target) && last != NULL
                                ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, last + 1, -1, name, MAX_PATH)
                                : 0;
                TListedName listed = {name, (DWORD)(chars - 1), INVALID_FILE_ATTRIBUTES, 0};
                if (chars > 1)
                    DeleteListedEntry(plan, desktopDirectory, &listed, tally);
            } while (FindNextFileA(listing, &entry));
            FindClose(listing);
        }
    }
    if (shellMalloc != NULL)
        shellMalloc->Release();
    FreeScratch(target);
    FreeScratch(shortcut);
    FreeScratch(pattern);
    FreeScratch(desktop);
}

static void HandleTreeTarget(TRestartPlan *plan, const TRecordedTree *tree, TTally *tally)
{
    if (tree->Top != INVALID_HANDLE_VALUE)
        RemoveOpenTree(tree->Top, tree->CloseToOthers, plan, tally);
}

TLeftovers RemoveLeftovers()
{
    TTally tally = {false, !RemovalRecord.Open || RemovalRecord.Incomplete};
    TRestartPlan plan;
    if (!OpenRestartPlan(&plan)) {
        tally.Left = true;
    } else {
        HandleFileTarget(&plan, &RemovalRecord.PluginFile, &tally);
        HandleFileTarget(&plan, &RemovalRecord.ScreenSaverFile, &tally);
        for (int i = 0; i < RemovalRecord.ShortcutCount; i++)
            HandleFileTarget(&plan, &RemovalRecord.Shortcuts[i], &tally);
        if (RemovalRecord.ShortcutCount > 0)
            HandleUnreachedShortcuts(&plan, RemovalRecord.Shortcuts[0].Directory, &tally);
        HandleTreeTarget(&plan, &RemovalRecord.ProgramGroup, &tally);
        HandleTreeTarget(&plan, &RemovalRecord.InstallDirectory, &tally);
    }
    CloseRestartPlan(&plan, &tally);
    return tally.Left ? LeftBehind : tally.Scheduled ? LeftForRestart : NothingLeft;
}
