#include "removal/removal.h"
#include "removal/restart.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/scratch.h"
#include <string.h>
#include <wchar.h>

// A recorded file: deleted once more through its directory, or settled.
static void HandleFileTarget(TRestartPlan *plan, const TRecordedFile *file, TTally *tally)
{
    if (file->Directory == INVALID_HANDLE_VALUE)
        return;
    TListedName listed = {file->Name, file->Chars, INVALID_FILE_ATTRIBUTES, 0};
    DeleteListedEntry(plan, file->Directory, &listed, tally);
}

// When a recorded shortcut stayed, the shortcut step may have stopped at it
// before reaching others of the client's: the desktop is listed once more,
// through the directory the recorded ones went through, and those not recorded
// are deleted there too.
static void HandleUnreachedShortcuts(TRestartPlan *plan, HANDLE desktop, TTally *tally)
{
    // The desktop's path, for the shell to read the shortcuts by; in its plain
    // form when it has one.
    WCHAR *path = plan->Path;
    if (!GetEntryPath(desktop, path, PlanPathChars)) {
        tally->Left = true;
        return;
    }
    size_t length = wcslen(path);
    if (length < MAX_PATH && wcsncmp(path, L"\\\\?\\", 4) == 0 && path[5] == L':')
        memmove(path, path + 4, (length - 3) * sizeof(WCHAR));
    // The listing below overwrites the plan's scratch with paths of its own.
    WCHAR *copy = (WCHAR *)AllocScratch((DWORD)(wcslen(path) + 1) * sizeof(WCHAR));
    if (copy == NULL) {
        tally->Left = true;
        return;
    }
    memcpy(copy, path, (wcslen(path) + 1) * sizeof(WCHAR));
    RemoveClientShortcutsIn(desktop, copy, plan, tally);
    FreeScratch(copy);
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
        for (int i = 0; i < RemovalRecord.TreeCount; i++)
            RemoveOpenTree(RemovalRecord.Trees[i].Top, RemovalRecord.Trees[i].CloseToOthers, &plan, &tally);
    }
    CloseRestartPlan(&plan, &tally);
    return tally.Left ? LeftBehind : tally.Scheduled ? LeftForRestart : NothingLeft;
}
