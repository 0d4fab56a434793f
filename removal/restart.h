// What waits for the next restart, and where it may wait without anybody being
// able to make the restart delete something else in its place.
//
// An entry that is in use and can be moved (a running image, a loaded module) is
// moved into a holding directory that the run makes at the root of the entry's
// volume (a new hidden name each run, closed to everybody but administrators and
// the system), and scheduled there; the holding directory is scheduled after what
// it holds. An entry that cannot be moved (held open without delete sharing) is
// scheduled where it is, only when nobody but administrators and the system can
// change any directory on its path from the volume's root down
// (common/security.h), the directory holding it not even by adding entries.
// Nothing is scheduled that is not in use, that is read-only with other hard
// links, or that is not on a fixed, local volume which keeps security
// descriptors: it stays, and counts as left.
#pragma once
#include "removal/removal.h"

const int MaxHoldings = 4;  // volumes of one run with something held

struct THolding {
    DWORD Volume;       // serial number
    HANDLE Directory;   // INVALID_HANDLE_VALUE when none could be made there
    DWORD Moved;        // entries moved into it
};

struct TRestartPlan {
    THolding Holdings[MaxHoldings];
    int HoldingCount;
    WCHAR *Path;        // scratch for paths, PlanPathChars characters
};

const DWORD PlanPathChars = 32768;

// For tests: while set, scheduling a deletion for the next restart fails, as it
// does for a user who may not change the machine's settings.
extern volatile LONG RefuseRestartDeletion;

bool OpenRestartPlan(TRestartPlan *plan);

// Schedules each holding directory after what it holds (one that holds nothing
// is deleted) and releases the plan; what cannot be scheduled counts as left.
void CloseRestartPlan(TRestartPlan *plan, TTally *tally);

// An entry as a listing named it.
struct TListedName {
    const WCHAR *Name;
    DWORD Chars;
    DWORD Attributes;  // as listed; INVALID_FILE_ATTRIBUTES when not known
    ULONGLONG FileId;  // as listed; 0 when not known
};

// Deletes the entry of the open directory that listed names (a file, or a link
// of any kind), through its own handle, when it is the entry listed. With a plan,
// one that is in use is scheduled for the restart where it may wait; anything
// else that stays counts as left in tally. True when it was deleted.
bool DeleteListedEntry(TRestartPlan *plan, HANDLE directory, const TListedName *listed, TTally *tally);

// Schedules the open directory (or file) where it is, when its path allows it.
bool ScheduleInPlace(TRestartPlan *plan, HANDLE entry);

// True when a status says that the entry is in use by another program.
bool IsInUse(TStatus status);
