#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/entryname.h"
#include "common/paths.h"
#include <wchar.h>

// True when the directory at the installation directory's path is still the one
// that the check approved: opened there without following a link, it has the
// approved identity. The look asks for no right that the approved handle, not
// shared for deletion, would refuse.
static bool IsApprovedDirectory(const char *directory)
{
    WCHAR path[600];
    HANDLE found = INVALID_HANDLE_VALUE;
    if (IsTreeDirectory(directory) && GetVerbatimPath(directory, NULL, path, 600)) {
        path[wcslen(path) - 1] = 0;
        if (!IsLinkByName(path))
            OpenPath(path, FILE_READ_ATTRIBUTES, ShareAll, FILE_DIRECTORY_FILE, true, &found);
    }
    TEntryFacts facts;
    DWORD volume = 0;
    bool same = found != INVALID_HANDLE_VALUE && ReadEntryFacts(found, &facts) && ReadEntryVolume(found, &volume) &&
                !(facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) && volume == ApprovedDirectory.Volume &&
                facts.FileId == ApprovedDirectory.FileId;
    if (found != INVALID_HANDLE_VALUE)
        CloseHandle(found);
    return same;
}

void RemoveInstallDirectory()
{
    if (ClientPath == NULL)
        return;
    char drive[3];
    char folder[256];
    char directory[520];
    // A directory part that does not fit is not removed, and neither is anything
    // whose place depends on a current drive or directory.
    if (!SplitPath(ClientPath, drive, sizeof drive, folder, sizeof folder, NULL, 0, NULL, 0) ||
        !JoinPath(directory, sizeof directory, drive, folder) || !IsAbsolutePath(directory))
        return;
    if (ApprovedDirectory.Top == INVALID_HANDLE_VALUE) {
        // Only a directory gone from a volume that is there is removed already.
        // One that could not be reached, or was never approved, stays as it is.
        if (ApprovedDirectory.Unreachable || !ApprovedDirectory.Missing)
            RecordUnreachedTarget();
        return;
    }
    // The approved directory is removed through a handle of its own, and only
    // while the path still leads to it: one renamed away and replaced stays.
    HANDLE top = INVALID_HANDLE_VALUE;
    if (!IsApprovedDirectory(directory) ||
        !DuplicateHandle(GetCurrentProcess(), ApprovedDirectory.Top, GetCurrentProcess(), &top, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        RecordUnreachedTarget();
        return;
    }
    RemoveRecordedTree(TargetInstallDirectory, top, true);
}
