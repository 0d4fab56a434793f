#include "client/removalrecord.h"
#include "common/scratch.h"
#include <string.h>

TRemovalRecord RemovalRecord;

void OpenRemovalRecord()
{
    CloseRemovalRecord();
    RemovalRecord.Open = true;
}

// The slot of a single target of kind, or null for the shortcut list.
static char **SingleSlot(TRemovalTarget kind)
{
    switch (kind) {
    case TargetPluginFile:
        return &RemovalRecord.PluginFile;
    case TargetScreenSaverFile:
        return &RemovalRecord.ScreenSaverFile;
    case TargetProgramGroup:
        return &RemovalRecord.ProgramGroup;
    case TargetInstallDirectory:
        return &RemovalRecord.InstallDirectory;
    default:
        return NULL;
    }
}

bool RecordRemovalTarget(TRemovalTarget kind, const char *path)
{
    if (!RemovalRecord.Open)
        return false;
    char **slot = SingleSlot(kind);
    if (slot != NULL && *slot != NULL && strcmp(*slot, path) == 0)
        return true;
    if (slot == NULL && IsRecordedShortcut(path))
        return true;
    if (slot == NULL && RemovalRecord.ShortcutCount >= MaxRecordedShortcuts) {
        RemovalRecord.Incomplete = true;
        return false;
    }
    size_t size = strlen(path) + 1;
    char *copy = (char *)AllocScratch((DWORD)size);
    if (copy == NULL) {
        RemovalRecord.Incomplete = true;
        return false;
    }
    memcpy(copy, path, size);
    if (slot == NULL) {
        RemovalRecord.Shortcuts[RemovalRecord.ShortcutCount++] = copy;
    } else {
        // A step that runs once records one target of its kind; a second one
        // replaces the first only in a run that calls the step twice.
        FreeScratch(*slot);
        *slot = copy;
    }
    return true;
}

bool IsRecordedShortcut(const char *path)
{
    for (int i = 0; i < RemovalRecord.ShortcutCount; i++)
        if (strcmp(RemovalRecord.Shortcuts[i], path) == 0)
            return true;
    return false;
}

void CloseRemovalRecord()
{
    FreeScratch(RemovalRecord.PluginFile);
    FreeScratch(RemovalRecord.ScreenSaverFile);
    FreeScratch(RemovalRecord.ProgramGroup);
    FreeScratch(RemovalRecord.InstallDirectory);
    for (int i = 0; i < RemovalRecord.ShortcutCount; i++)
        FreeScratch(RemovalRecord.Shortcuts[i]);
    memset(&RemovalRecord, 0, sizeof RemovalRecord);
}
