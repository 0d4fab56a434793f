#include "client/removalrecord.h"
#include "common/ntfile.h"
#include "common/scratch.h"
#include <string.h>

TRemovalRecord RemovalRecord;

static void ClearRecord()
{
    memset(&RemovalRecord, 0, sizeof RemovalRecord);
    RemovalRecord.PluginFile.Directory = RemovalRecord.ScreenSaverFile.Directory = INVALID_HANDLE_VALUE;
}

void OpenRemovalRecord()
{
    CloseRemovalRecord();
    RemovalRecord.Open = true;
}

static void ReleaseFile(TRecordedFile *file)
{
    FreeScratch(file->Name);
    if (file->Directory != INVALID_HANDLE_VALUE)
        CloseHandle(file->Directory);
}

bool RecordFileTarget(TRemovalTarget kind, HANDLE directory, const WCHAR *name, DWORD chars)
{
    if (!RemovalRecord.Open)
        return false;
    TRecordedFile *file = kind == TargetPluginFile        ? &RemovalRecord.PluginFile
                          : kind == TargetScreenSaverFile ? &RemovalRecord.ScreenSaverFile
                          : kind == TargetShortcut && RemovalRecord.ShortcutCount < MaxRecordedShortcuts
                              ? &RemovalRecord.Shortcuts[RemovalRecord.ShortcutCount]
                              : NULL;
    if (kind == TargetShortcut && IsRecordedShortcut(directory, name, chars))
        return false;
    WCHAR *nameCopy = file != NULL ? (WCHAR *)AllocScratch((chars + 1) * sizeof(WCHAR)) : NULL;
    if (nameCopy == NULL) {
        RemovalRecord.Incomplete = true;
        return false;
    }
    memcpy(nameCopy, name, chars * sizeof(WCHAR));
    nameCopy[chars] = 0;
    if (kind == TargetShortcut) {
        RemovalRecord.ShortcutCount++;
    } else if (file->Directory != INVALID_HANDLE_VALUE) {
        // A step that runs once records one file of its kind; a second one
        // replaces the first only in a run that calls the step twice.
        ReleaseFile(file);
    }
    file->Directory = directory;
    file->Name = nameCopy;
    file->Chars = chars;
    return true;
}

bool RecordTreeTarget(TRemovalTarget kind, HANDLE top, bool closeToOthers)
{
    if (!RemovalRecord.Open || (kind != TargetProgramGroup && kind != TargetInstallDirectory))
        return false;
    if (RemovalRecord.TreeCount == MaxRecordedTrees) {
        RemovalRecord.Incomplete = true;
        return false;
    }
    TRecordedTree *tree = &RemovalRecord.Trees[RemovalRecord.TreeCount++];
    tree->Top = top;
    tree->CloseToOthers = closeToOthers;
    return true;
}

void RecordUnreachedTarget()
{
    if (RemovalRecord.Open)
        RemovalRecord.Incomplete = true;
}

// True when the two open directories are one, as far as can be told: one whose
// identity cannot be read counts as another.
static bool IsSameDirectory(HANDLE a, HANDLE b)
{
    ULONGLONG idA = 0, idB = 0;
    DWORD volumeA = 0, volumeB = 0;
    return ReadEntryId(a, &idA) && ReadEntryId(b, &idB) && ReadEntryVolume(a, &volumeA) &&
           ReadEntryVolume(b, &volumeB) && idA == idB && volumeA == volumeB;
}

bool IsRecordedShortcut(HANDLE directory, const WCHAR *name, DWORD chars)
{
    for (int i = 0; i < RemovalRecord.ShortcutCount; i++) {
        const TRecordedFile *file = &RemovalRecord.Shortcuts[i];
        if (file->Chars == chars && memcmp(file->Name, name, chars * sizeof(WCHAR)) == 0 &&
            IsSameDirectory(file->Directory, directory))
            return true;
    }
    return false;
}

void CloseRemovalRecord()
{
    if (RemovalRecord.Open) {
        ReleaseFile(&RemovalRecord.PluginFile);
        ReleaseFile(&RemovalRecord.ScreenSaverFile);
        for (int i = 0; i < RemovalRecord.ShortcutCount; i++)
            ReleaseFile(&RemovalRecord.Shortcuts[i]);
        for (int i = 0; i < RemovalRecord.TreeCount; i++)
            CloseHandle(RemovalRecord.Trees[i].Top);
    }
    ClearRecord();
}
