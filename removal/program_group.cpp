#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <shlobj.h>
#include <string.h>

void RemoveProgramGroup()
{
    int size = WindowsPathSize;
    char *group = size > 0 ? (char *)AllocScratch((DWORD)size) : NULL;
    IMalloc *shellMalloc = NULL;
    if (group != NULL && SHGetMalloc(&shellMalloc) == S_OK && shellMalloc != NULL &&
        GetShellFolderPath(shellMalloc, CSIDL_PROGRAMS, group, (size_t)size)) {
        size_t length = strlen(group);
        // A Programs folder at a drive's root already ends with its separator.
        const char *last = CharPrevA(group, group + length);
        const char *separator = length > 0 && last == group + length - 1 && *last == '\\' ? "" : "\\";
        HANDLE top = INVALID_HANDLE_VALUE;
        if (JoinPath(group + length, (size_t)size - length, separator, "Solvarine\\")) {
            TStatus status = OpenTreeTop(group, &top);
            if (status == StatusSuccess)
                RemoveRecordedTree(TargetProgramGroup, top, false);
            else if (!IsGone(status))
                RecordUnreachedTarget();  // a link, or what cannot be opened, stays
        }
    }
    if (shellMalloc != NULL)
        shellMalloc->Release();
    FreeScratch(group);
}
