// What the removal steps of one run could not delete at once, so that it can be
// handled once more before the last message: each file by the directory handle
// its deletion went through, each tree by its top's handle, never by a path
// that could lead elsewhere by then. Recording happens only while a record is
// open: a step run on its own records nothing.
#pragma once
#include <windows.h>

enum TRemovalTarget {
    TargetPluginFile,
    TargetScreenSaverFile,
    TargetShortcut,        // a desktop shortcut to the client; up to MaxRecordedShortcuts
    TargetProgramGroup,
    TargetInstallDirectory,
};

const int MaxRecordedShortcuts = 20;  // the shortcut step deletes at most 20
const int MaxRecordedTrees = 8;       // program groups and installation directories of the run

// A file that stayed: the directory and name its deletion went through.
struct TRecordedFile {
    HANDLE Directory;  // INVALID_HANDLE_VALUE when nothing is recorded
    WCHAR *Name;
    DWORD Chars;
};

// A tree that is not gone: its top, open.
struct TRecordedTree {
    HANDLE Top;          // INVALID_HANDLE_VALUE when nothing is recorded
    bool CloseToOthers;  // its directories are closed to others as they are handled
};

struct TRemovalRecord {
    bool Open;
    bool Incomplete;  // something stayed that could not be recorded, or not be reached
    TRecordedFile PluginFile;
    TRecordedFile ScreenSaverFile;
    TRecordedFile Shortcuts[MaxRecordedShortcuts];
    int ShortcutCount;
    // The program groups and installation directories (with their VirtualStore
    // copies) of the run's users, in the order the steps recorded them.
    TRecordedTree Trees[MaxRecordedTrees];
    int TreeCount;
};
extern TRemovalRecord RemovalRecord;

// Starts an empty record for the run's removal.
void OpenRemovalRecord();

// Records a file of kind that stayed; the record takes the directory handle.
// False, with nothing taken, when no record is open or it could not be recorded
// (which marks the record incomplete). A shortcut already recorded is kept once.
bool RecordFileTarget(TRemovalTarget kind, HANDLE directory, const WCHAR *name, DWORD chars);

// Records a tree (a program group, an installation directory) that is not gone;
// the record takes the handle of its top. False, with nothing taken, as for
// files.
bool RecordTreeTarget(TRemovalTarget kind, HANDLE top, bool closeToOthers);

// Marks that something the run set out to delete stayed and could not be
// reached at all.
void RecordUnreachedTarget();

// True when a shortcut of that name (chars characters, spelled the same) in the
// open directory is recorded: the same name on another user's desktop is
// another shortcut.
bool IsRecordedShortcut(HANDLE directory, const WCHAR *name, DWORD chars);

// Releases everything recorded and closes the record; safe when none is open.
void CloseRemovalRecord();
