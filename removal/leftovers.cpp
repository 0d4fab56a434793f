#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include <shlobj.h>
#include <string.h>

volatile LONG RefuseRestartDeletion = 0;

// The longest path the wide API takes, in characters with the terminator.
static const DWORD WidePathCapacity = 32768;

// Directories listed at once while a tree is handled; a tree nested deeper than
// this is left as it is and reported as such.
static const int MaxTreeLevels = 2048;

// What became of the things left: some scheduled for the next restart, some left
// where they are.
struct TTally {
    bool scheduled;
    bool left;
};

// One directory of a tree being listed: its listing, the length of its path
// (with the trailing backslash) and what became of what it holds.
struct TTreeLevel {
    HANDLE listing;
    size_t length;
    bool fresh;  // the listing's first entry has not been handled yet
    TTally tally;
};

static void ScheduleDeletion(const WCHAR *path, TTally *tally)
{
    if (RefuseRestartDeletion == 0 && MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        tally->scheduled = true;
    else
        tally->left = true;
}

// True unless the file is known to have no other hard links: the attributes of
// those are the file's own, and would change with it.
static bool MayHaveOtherLinks(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    BY_HANDLE_FILE_INFORMATION info;
    bool single = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return !single;
}

// Deletes a file, read-only or not, else schedules it. A link is deleted itself,
// its target's attributes untouched, and a read-only file with other hard links
// keeps its attributes (and is scheduled).
static void HandleFile(const WCHAR *path, DWORD attributes, TTally *tally)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !MayHaveOtherLinks(path))
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path))
        ScheduleDeletion(path, tally);
}

// Removes an emptied directory (path ends with its backslash), else schedules it.
// A directory with something inside that stays for good stays with it.
static void HandleDirectory(WCHAR *path, size_t length, const TTally *inside, TTally *tally)
{
    if (inside->left) {
        tally->left = true;
        return;
    }
    path[length - 1] = L'\0';
    if (!RemoveDirectoryW(path))
        ScheduleDeletion(path, tally);
    path[length - 1] = L'\\';
}

// A directory that cannot be listed goes only when it is empty: what it holds
// is unknown, so it is not scheduled.
static void HandleUnlistedDirectory(WCHAR *path, size_t length, TTally *tally)
{
    path[length - 1] = L'\0';
    if (!RemoveDirectoryW(path))
        tally->left = true;
    path[length - 1] = L'\\';
}

// The ANSI path converted into wide, into a buffer of capacity characters.
// False when it does not convert whole.
static bool ToWidePath(const char *path, WCHAR *wide, DWORD capacity)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, (int)capacity) > 1;
}

// A recorded file: handled when it is still there. True when it was.
static bool HandleFileTarget(const char *target, WCHAR *path, TTally *tally)
{
    if (target == NULL)
        return false;
    // As the step named it: the ANSI API's reading of the path, with its forms.
    if (!ToWidePath(target, path, WidePathCapacity)) {
        tally->left = true;
        return true;
    }
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        tally->left = tally->left || !gone;
        return !gone;
    }
    // A directory of that name is not the file the step set out to delete.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    HandleFile(path, attributes, tally);
    return true;
}

static bool IsDotEntry(const WCHAR *name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Opens the listing of the directory in path (length characters, with its
// backslash) as the given level. False when it cannot be listed.
static bool OpenTreeLevel(WCHAR *path, size_t length, WIN32_FIND_DATAW *entry, TTreeLevel *level)
{
    level->length = length;
    level->fresh = true;
    level->tally.scheduled = false;
    level->tally.left = false;
    level->listing = INVALID_HANDLE_VALUE;
    if (length + 2 > WidePathCapacity)
        return false;
    path[length] = L'*';
    path[length + 1] = L'\0';
    level->listing = FindFirstFileW(path, entry);
    path[length] = L'\0';
    return level->listing != INVALID_HANDLE_VALUE;
}

// One entry of the directory at level: a file is handled, a directory that is no
// link is opened as the next level. Returns the depth to go on at.
static int HandleTreeEntry(WCHAR *path, WIN32_FIND_DATAW *entry, TTreeLevel *levels, int depth)
{
    TTreeLevel *level = &levels[depth];
    size_t nameLength = wcslen(entry->cFileName);
    if (IsDotEntry(entry->cFileName))
        return depth;
    if (level->length + nameLength + 2 > WidePathCapacity) {
        level->tally.left = true;
        return depth;
    }
    memcpy(path + level->length, entry->cFileName, (nameLength + 1) * sizeof(WCHAR));
    size_t length = level->length + nameLength;
    if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        HandleFile(path, entry->dwFileAttributes, &level->tally);
    } else if ((entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || depth + 1 >= MaxTreeLevels) {
        level->tally.left = true;  // a link is never entered
    } else {
        path[length++] = L'\\';
        path[length] = L'\0';
        if (OpenTreeLevel(path, length, entry, &levels[depth + 1]))
            return depth + 1;
        HandleUnlistedDirectory(path, length, &level->tally);
    }
    path[level->length] = L'\0';
    return depth;
}

// A recorded tree: what is still in it, then the directories themselves, each
// after what it holds.
static void HandleTreeTarget(const char *top, WCHAR *path, WIN32_FIND_DATAW *entry, TTreeLevel *levels,
                             TTally *tally)
{
    if (top == NULL)
        return;
    // The verbatim form reaches every name, and takes each one as it stands.
    bool reachable = IsTreeDirectory(top) && GetVerbatimPath(top, NULL, path, (int)WidePathCapacity);
    size_t length = reachable ? wcslen(path) : 0;
    // Asked without its trailing backslash: with it, some platforms answer for
    // what a link leads to.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (length > 0) {
        path[length - 1] = L'\0';
        attributes = GetFileAttributesW(path);
        path[length - 1] = L'\\';
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = length > 0 ? GetLastError() : ERROR_BAD_PATHNAME;
        tally->left = tally->left || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND);
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        tally->left = true;  // a linked top is left alone
        return;
    }
    if (!OpenTreeLevel(path, length, entry, &levels[0])) {
        HandleUnlistedDirectory(path, length, tally);
        return;
    }
    int depth = 0;
    while (depth >= 0) {
        TTreeLevel *level = &levels[depth];
        bool listed = level->fresh || FindNextFileW(level->listing, entry);
        level->fresh = false;
        if (listed) {
            depth = HandleTreeEntry(path, entry, levels, depth);
            continue;
        }
        FindClose(level->listing);
        path[level->length] = L'\0';
        HandleDirectory(path, level->length, &level->tally, depth > 0 ? &levels[depth - 1].tally : tally);
        depth--;
        if (depth >= 0)
            path[levels[depth].length] = L'\0';
    }
}

// When a recorded shortcut stayed, the shortcut step may have stopped at it
// before reaching others of the client's: the desktop is listed once more and
// those not recorded are handled too.
static void HandleUnreachedShortcuts(WCHAR *path, TTally *tally)
{
    DWORD size = (DWORD)WindowsPathSize;
    char *desktop = size > 0 ? (char *)AllocScratch(size) : NULL;
    char *pattern = desktop != NULL ? (char *)AllocScratch(size) : NULL;
    char *shortcut = pattern != NULL ? (char *)AllocScratch(size) : NULL;
    char *target = shortcut != NULL ? (char *)AllocScratch(size) : NULL;
    IMalloc *shellMalloc = NULL;
    if (target == NULL || SHGetMalloc(&shellMalloc) != S_OK ||
        !GetShellFolderPath(shellMalloc, CSIDL_DESKTOP, desktop, size) ||
        !JoinPath(pattern, size, desktop, "\\*.lnk")) {
        tally->left = true;
    } else {
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA(pattern, &entry);
        if (listing != INVALID_HANDLE_VALUE) {
            do {
                if (!GetListedShortcut(desktop, &entry, shortcut, size) || IsRecordedShortcut(shortcut))
                    continue;
                ResolveShortcut(NULL, shortcut, target);
                if (IsClientTarget(target))
                    HandleFileTarget(shortcut, path, tally);
            } while (FindNextFileA(listing, &entry));
            FindClose(listing);
        }
    }
    if (shellMalloc != NULL)
        shellMalloc->Release();
    FreeScratch(target);
    FreeScratch(shortcut);
    FreeScratch(pattern);
    FreeScratch(desktop);
}

TLeftovers RemoveLeftovers()
{
    TTally tally = {false, !RemovalRecord.Open || RemovalRecord.Incomplete};
    WCHAR *path = (WCHAR *)AllocScratch((DWORD)(WidePathCapacity * sizeof(WCHAR)));
    WIN32_FIND_DATAW *entry = path != NULL ? (WIN32_FIND_DATAW *)AllocScratch((DWORD)sizeof(WIN32_FIND_DATAW)) : NULL;
    TTreeLevel *levels = entry != NULL ? (TTreeLevel *)AllocScratch((DWORD)(MaxTreeLevels * sizeof(TTreeLevel))) : NULL;
    if (levels == NULL) {
        tally.left = true;
    } else {
        HandleFileTarget(RemovalRecord.PluginFile, path, &tally);
        HandleFileTarget(RemovalRecord.ScreenSaverFile, path, &tally);
        bool shortcutStayed = false;
        for (int i = 0; i < RemovalRecord.ShortcutCount; i++)
            shortcutStayed = HandleFileTarget(RemovalRecord.Shortcuts[i], path, &tally) || shortcutStayed;
        if (shortcutStayed)
            HandleUnreachedShortcuts(path, &tally);
        HandleTreeTarget(RemovalRecord.ProgramGroup, path, entry, levels, &tally);
        HandleTreeTarget(RemovalRecord.InstallDirectory, path, entry, levels, &tally);
    }
    FreeScratch(levels);
    FreeScratch(entry);
    FreeScratch(path);
    return tally.left ? LeftBehind : tally.scheduled ? LeftForRestart : NothingLeft;
}
