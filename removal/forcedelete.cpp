#include "removal/removal.h"
#include "removal/restart.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>

// Opens the directory of path (a full path to a file) as its name leads, once,
// and gives the file's name in it in wide characters (name, MAX_PATH). A path
// too long for the plain form takes the verbatim one. *unreached is set when
// the directory could not even be asked for (no memory).
static HANDLE OpenFileDirectory(const char *path, WCHAR *name, DWORD *chars, bool *unreached)
{
    // One block: the directory part, the directory with its drive, and that in
    // wide characters.
    DWORD size = ((DWORD)strlen(path) + 17) & ~1u;  // even, so that the wide part is aligned
    char *folder = FullPathRootLength(path) > 0 ? (char *)AllocScratch(size * 4) : NULL;
    *unreached = folder == NULL && FullPathRootLength(path) > 0;
    if (folder == NULL)
        return INVALID_HANDLE_VALUE;
    char *directory = folder + size;
    WCHAR *wide = (WCHAR *)(folder + 2 * size);
    char drive[3];
    char baseName[MAX_PATH];
    char extension[MAX_PATH];
    char file[MAX_PATH];
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (SplitPath(path, drive, sizeof drive, folder, size, baseName, sizeof baseName, extension, sizeof extension) &&
        JoinPath(directory, size, drive, folder) && FullPathRootLength(directory) > 0 &&
        JoinPath(file, sizeof file, baseName, extension) && IsPlainName(file, strlen(file))) {
        bool converted = strlen(directory) < MAX_PATH - 12
                             ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, directory, -1, wide, (int)size) > 0
                             : GetVerbatimPath(directory, NULL, wide, (int)size);
        int nameChars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, file, -1, name, MAX_PATH);
        if (converted && nameChars > 1) {
            *chars = (DWORD)(nameChars - 1);
            OpenPath(wide, FILE_LIST_DIRECTORY | FILE_TRAVERSE, ShareAll, FILE_DIRECTORY_FILE, false, &opened);
        }
    }
    FreeScratch(folder);
    return opened;
}

// Deletes the file at path through its directory, and records it as a target of
// kind when it stays (record false: never).
static void DeleteFileOf(const char *path, bool record, TRemovalTarget kind)
{
    WCHAR name[MAX_PATH];
    DWORD chars = 0;
    bool unreached = false;
    HANDLE directory = OpenFileDirectory(path, name, &chars, &unreached);
    if (directory == INVALID_HANDLE_VALUE) {
        if (record && unreached)
            RecordUnreachedTarget();  // whether the file stays is not known: it counts as left
        return;
    }
    TListedName listed = {name, chars, INVALID_FILE_ATTRIBUTES, 0};
    TTally tally = {false, false};
    if (!DeleteListedEntry(NULL, directory, &listed, &tally) && record && tally.Left &&
        RecordFileTarget(kind, directory, name, chars))
        return;  // the record keeps the directory
    // A file that stayed and could not be recorded has marked the record
    // incomplete.
    CloseHandle(directory);
}

void ForceDeleteFile(const char *path)
{
    DeleteFileOf(path, false, TargetPluginFile);
}

void ForceDeleteRecordedFile(TRemovalTarget kind, const char *path)
{
    DeleteFileOf(path, true, kind);
}
