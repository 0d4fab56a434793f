#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

void RemoveProgramGroup()
{
    int size = WindowsPathSize;
    char *group = size > 0 ? (char *)AllocScratch((DWORD)size) : NULL;
    IMalloc *shellMalloc = NULL;
    WCHAR wide[MAX_PATH + 16];
    char ansi[2 * MAX_PATH];
    bool ready = group != NULL && SHGetMalloc(&shellMalloc) == S_OK && shellMalloc != NULL &&
                 GetShellFolderPathW(shellMalloc, CSIDL_PROGRAMS, wide, MAX_PATH);
    if (ready && !IsExactAnsiForm(wide, ansi, sizeof ansi)) {
        // A Programs folder that the ANSI code page cannot name is reached in
        // wide characters alone.
        size_t length = wcslen(wide);
        HANDLE top = INVALID_HANDLE_VALUE;
        wcscpy(wide + length, &L"\\Solvarine"[length > 0 && wide[length - 1] == L'\\' ? 1 : 0]);
        TStatus status = OpenTreeTopW(wide, &top);
        if (status == StatusSuccess)
            RemoveRecordedTree(TargetProgramGroup, top, false);
        else if (!IsGone(status))
            RecordUnreachedTarget();
    } else if (ready && JoinPath(group, (size_t)size, ansi, NULL)) {
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
