#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "client/runuser.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <string.h>
#include <wchar.h>

// Opens the client's folder in the Programs folder whose path is programs.
// Where the ANSI code page names that folder exactly, the folder is found as
// an ANSI path of WindowsPathSize bytes; otherwise by its wide path alone.
static TStatus OpenProgramGroup(const WCHAR *programs, HANDLE *top)
{
    *top = INVALID_HANDLE_VALUE;
    char ansi[2 * MAX_PATH];
    if (!IsExactAnsiForm(programs, ansi, sizeof ansi)) {
        WCHAR wide[MAX_PATH + 16];
        size_t length = wcslen(programs);
        if (length >= MAX_PATH)
            return StatusNameInvalid;
        memcpy(wide, programs, length * sizeof(WCHAR));
        wcscpy(wide + length, &L"\\Solvarine"[length > 0 && programs[length - 1] == L'\\' ? 1 : 0]);
        return OpenTreeTopW(wide, top);
    }
    int size = WindowsPathSize;
    char *group = size > 0 ? (char *)AllocScratch((DWORD)size) : NULL;
    TStatus status = StatusNoMemory;
    if (group != NULL && JoinPath(group, (size_t)size, ansi, NULL)) {
        size_t length = strlen(group);
        // A Programs folder at a drive's root already ends with its separator.
        const char *last = CharPrevA(group, group + length);
        const char *separator = length > 0 && last == group + length - 1 && *last == '\\' ? "" : "\\";
        status = JoinPath(group + length, (size_t)size - length, separator, "Solvarine\\")
                     ? OpenTreeTop(group, top)
                     : StatusNameInvalid;
    }
    FreeScratch(group);
    return status;
}

void RemoveProgramGroupOf(const TRunUser *user)
{
    HANDLE top = INVALID_HANDLE_VALUE;
    TStatus status = user->Programs[0] != 0 ? OpenProgramGroup(user->Programs, &top) : StatusNotFound;
    if (status == StatusSuccess)
        RemoveRecordedTree(TargetProgramGroup, top, false);
    else if (!IsGone(status) && status != StatusNameInvalid)
        RecordUnreachedTarget();  // a link, what cannot be opened or asked for, stays
}

void RemoveProgramGroup()
{
    TRunUser user;
    OpenRunningUser(&user);
    RemoveProgramGroupOf(&user);
    CloseRunUser(&user);
}
