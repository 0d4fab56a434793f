#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"

void RemoveInstallDirectory()
{
    if (ClientPath == NULL)
        return;
    char drive[3];
    char folder[256];
    char directory[520];
    // A directory part that does not fit is not removed, and neither is anything
    // whose place depends on a current drive or directory.
    if (SplitPath(ClientPath, drive, sizeof drive, folder, sizeof folder, NULL, 0, NULL, 0) &&
        JoinPath(directory, sizeof directory, drive, folder) && IsAbsolutePath(directory)) {
        RecordRemovalTarget(TargetInstallDirectory, directory);
        RemoveDirectoryTree(directory);
    }
}
