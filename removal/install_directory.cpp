#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/entryname.h"
#include "common/paths.h"
#include <wchar.h>

// True when the directory at path (a full wide path without its trailing
// backslash) is still the one that the check approved: opened there without
// following a link, it has the approved identity. The look asks for no right
// that the approved handle, not shared for deletion, would refuse.
static bool IsStillApproved(const WCHAR *path, const TApprovedDirectory *approval)
{
    HANDLE found = INVALID_HANDLE_VALUE;
    if (!IsLinkByName(path))
        OpenPath(path, FILE_READ_ATTRIBUTES, ShareAll, FILE_DIRECTORY_FILE, true, &found);
    TEntryFacts facts;
    DWORD volume = 0;
    bool same = found != INVALID_HANDLE_VALUE && ReadEntryFacts(found, &facts) && ReadEntryVolume(found, &volume) &&
                !(facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) && volume == approval->Volume &&
                facts.FileId == approval->FileId;
    if (found != INVALID_HANDLE_VALUE)
        CloseHandle(found);
    return same;
}

// Removes an approved directory found at path through a handle of its own, and
// only while the path still leads to it: one renamed away and replaced stays.
static void RemoveApproved(const WCHAR *path, const TApprovedDirectory *approval)
{
    HANDLE top = INVALID_HANDLE_VALUE;
    if (!IsStillApproved(path, approval) ||
        !DuplicateHandle(GetCurrentProcess(), approval->Top, GetCurrentProcess(), &top, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        RecordUnreachedTarget();
        return;
    }
    RemoveRecordedTree(TargetInstallDirectory, top, true);
}

void RemoveInstallDirectory()
{
    if (ClientPath == NULL)
        return;
    char drive[3];
    char folder[256];
    char directory[520];
    WCHAR path[600];
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
    } else if (!IsTreeDirectory(directory) || !GetVerbatimPath(directory, NULL, path, 600)) {
        RecordUnreachedTarget();
    } else {
        path[wcslen(path) - 1] = 0;
        RemoveApproved(path, &ApprovedDirectory);
    }
    // The VirtualStore copies of the users, each as the check approved it.
    for (int i = 0; i < MaxRunUsers; i++) {
        const TApprovedCopy *copy = &ApprovedCopies[i];
        if (copy->Approval.Top != INVALID_HANDLE_VALUE)
            RemoveApproved(copy->Path, &copy->Approval);
    }
}
