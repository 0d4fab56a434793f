// What the removal steps of one run set out to delete, so that whatever is still
// there at the end can be handled once more before the last message. Recording
// happens only while a record is open: a step run on its own records nothing.
#pragma once

enum TRemovalTarget {
    TargetPluginFile,
    TargetScreenSaverFile,
    TargetShortcut,        // a desktop shortcut to the client; up to MaxRecordedShortcuts
    TargetProgramGroup,    // a directory path ending with a backslash
    TargetInstallDirectory,
};

const int MaxRecordedShortcuts = 20;  // the shortcut step deletes at most 20

struct TRemovalRecord {
    bool Open;
    bool Incomplete;  // a target could not be recorded (no memory, no room)
    char *PluginFile;
    char *ScreenSaverFile;
    char *ProgramGroup;
    char *InstallDirectory;
    char *Shortcuts[MaxRecordedShortcuts];
    int ShortcutCount;
};
extern TRemovalRecord RemovalRecord;

// Starts an empty record for the run's removal.
void OpenRemovalRecord();

// Copies path as a target of that kind; a path already recorded for the kind is
// kept once. Does nothing when no record is open. False when it could not be
// recorded, which marks the record incomplete.
bool RecordRemovalTarget(TRemovalTarget kind, const char *path);

// True when path is recorded as a shortcut, spelled the same.
bool IsRecordedShortcut(const char *path);

// Releases everything recorded and closes the record; safe when none is open.
void CloseRemovalRecord();
