#include "removal/removal.h"
#include <string.h>

void ForceDeleteFile(const char *path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    // OpenFile names at most OFS_MAXPATHNAME - 1 characters; a longer path is
    // deleted directly rather than left behind.
    if (strlen(path) < OFS_MAXPATHNAME) {
        OFSTRUCT info;
        OpenFile(path, &info, OF_DELETE);
    } else {
        DeleteFileA(path);
    }
}
