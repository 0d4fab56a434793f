#include "removal/removal.h"
#include "common/paths.h"
#include <string.h>

void ForceDeleteFile(const char *path)
{
    // A name without its drive and root would be looked for along the search
    // path by OpenFile, and could delete a file of another program.
    if (!IsAbsolutePath(path))
        return;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    // OpenFile takes at most OFS_MAXPATHNAME - 1 characters; a longer path, or a
    // file that OpenFile could not delete, is deleted directly rather than left
    // behind.
    OFSTRUCT info;
    if (strlen(path) >= OFS_MAXPATHNAME || OpenFile(path, &info, OF_DELETE) == HFILE_ERROR)
        DeleteFileA(path);
}
