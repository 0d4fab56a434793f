#include "removal/removal.h"
#include "removal/restart.h"
#include "client/clientpath.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/security.h"
#include <string.h>
#include <wchar.h>

void (*AfterTreeDeletion)() = NULL;

// Directories open at once while a tree is removed; what lies deeper stays.
static const int MaxTreeLevels = 1024;

// True for a directory that the removal may act in: a drive, a colon and a
// backslash (or a share, "\\server\share\"), then one or more plain names each
// followed by a backslash. A root, a relative path, a path without its trailing
// backslash and a path through "." or ".." are not.
bool IsTreeDirectory(const char *directory)
{
    size_t root = FullPathRootLength(directory);
    if (root == 0)
        return false;
    const char *component = directory + root;
    int components = 0;
    for (const char *p = component; *p != '\0'; p++) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') {
            p++;
            continue;
        }
        if (*p == '\\') {
            if (!IsPlainName(component, (size_t)(p - component)))
                return false;
            components++;
            component = p + 1;
        }
    }
    return components > 0 && *component == '\0';
}

namespace {

// One directory of the tree being removed.
struct TTreeLevel {
    HANDLE Directory;
    TListing Listing;
    TTally Tally;    // what became of what it holds
    bool Deletable;  // opened with the right to delete it
};

struct TTreeWalk {
    TTreeLevel *Levels;
    int Depth;
    bool CloseToOthers;
    TRestartPlan *Plan;
};

bool IsDotEntry(const FILE_ID_BOTH_DIR_INFO *entry)
{
    DWORD chars = entry->FileNameLength / sizeof(WCHAR);
    return entry->FileName[0] == L'.' && (chars == 1 || (chars == 2 && entry->FileName[1] == L'.'));
}

TListedName ListedName(const FILE_ID_BOTH_DIR_INFO *entry)
{
    TListedName listed = {entry->FileName, entry->FileNameLength / (DWORD)sizeof(WCHAR), entry->FileAttributes,
                          (ULONGLONG)entry->FileId.QuadPart};
    return listed;
}

// Starts the walk of the open directory at the given level.
bool StartLevel(TTreeWalk *walk, TTreeLevel *level, HANDLE directory, bool deletable)
{
    level->Directory = directory;
    level->Deletable = deletable;
    level->Tally.Scheduled = level->Tally.Left = false;
    if (walk->CloseToOthers)
        CloseToOthers(directory);
    return OpenListing(directory, &level->Listing);
}

// Opens a directory of a tree, by name in the open parent or, without one, by
// its full path: not shared for deletion, so that nobody renames or replaces it
// while it is emptied. One that another program holds so is opened to be
// emptied, not deleted (*deletable false); one whose rights may not be changed
// is emptied all the same.
TStatus OpenTreeDirectory(HANDLE parent, const WCHAR *name, DWORD chars, HANDLE *directory, bool *deletable)
{
    const DWORD notDeleting = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const struct {
        ACCESS_MASK access;
        DWORD share;
    } tries[] = {
        {TreeAccess, notDeleting},
        {TreeAccess & ~DELETE, notDeleting},  // another program holds it for deletion
        {TreeAccess & ~DELETE, ShareAll},     // another program holds it, not sharing deletion
        {TreeAccess & ~(WRITE_DAC | WRITE_OWNER), notDeleting},
    };
    TStatus status = StatusAccessDenied;
    for (size_t i = 0; i < sizeof tries / sizeof tries[0]; i++) {
        if (i > 0 && (i < 3 ? status != StatusSharingViolation : status != StatusAccessDenied))
            continue;
        status = parent != NULL ? OpenEntry(parent, name, chars, tries[i].access, tries[i].share,
                                            FILE_DIRECTORY_FILE, directory)
                                : OpenPath(name, tries[i].access, tries[i].share, FILE_DIRECTORY_FILE, true, directory);
        *deletable = (tries[i].access & DELETE) != 0;
        if (status == StatusSuccess)
            break;
    }
    return status;
}

// Opens the listed directory as the next level, when it is the one listed.
void EnterDirectory(TTreeWalk *walk, const FILE_ID_BOTH_DIR_INFO *entry)
{
    TTreeLevel *level = &walk->Levels[walk->Depth];
    if (walk->Depth + 1 >= MaxTreeLevels) {
        level->Tally.Left = true;
        return;
    }
    TListedName listed = ListedName(entry);
    HANDLE directory = INVALID_HANDLE_VALUE;
    bool deletable = false;
    TStatus status = OpenTreeDirectory(level->Directory, listed.Name, listed.Chars, &directory, &deletable);
    TEntryFacts facts;
    if (status == StatusSuccess && ReadEntryFacts(directory, &facts) &&
        IsListedEntry(&facts, listed.Attributes, listed.FileId) &&
        StartLevel(walk, &walk->Levels[walk->Depth + 1], directory, deletable)) {
        walk->Depth++;
        return;
    }
    if (directory != INVALID_HANDLE_VALUE)
        CloseHandle(directory);
    if (!IsGone(status))
        level->Tally.Left = true;
}

// The level's directory, emptied as far as it goes: removed, or scheduled where
// it is when what it holds waits for the restart, or it is in use itself.
void LeaveDirectory(TTreeWalk *walk, TTally *outside)
{
    TTreeLevel *level = &walk->Levels[walk->Depth];
    CloseListing(&level->Listing);
    TTally *outer = walk->Depth > 0 ? &walk->Levels[walk->Depth - 1].Tally : outside;
    TEntryFacts facts;
    TStatus status = StatusAccessDenied;
    if (level->Tally.Scheduled)
        outer->Scheduled = true;  // what waits elsewhere (in a holding directory) still waits
    if (level->Tally.Left)
        outer->Left = true;
    else if (!level->Deletable)
        status = StatusSharingViolation;
    else if (ReadEntryFacts(level->Directory, &facts))
        status = DeleteEntry(level->Directory, &facts);
    if (status == StatusSuccess) {
        if (AfterTreeDeletion != NULL)  // tests only
            AfterTreeDeletion();
    } else if (!level->Tally.Left) {
        if (walk->Plan != NULL && (level->Tally.Scheduled || IsInUse(status)) &&
            ScheduleInPlace(walk->Plan, level->Directory))
            outer->Scheduled = true;
        else
            outer->Left = true;
    }
    if (walk->Depth > 0)
        CloseHandle(level->Directory);
    walk->Depth--;
}

}  // namespace

void RemoveOpenTree(HANDLE top, bool closeToOthers, TRestartPlan *plan, TTally *tally)
{
    TTreeLevel *levels = (TTreeLevel *)AllocScratch((DWORD)(MaxTreeLevels * sizeof(TTreeLevel)));
    TTreeWalk walk = {levels, 0, closeToOthers, plan};
    if (levels == NULL || !StartLevel(&walk, &levels[0], top, true)) {
        tally->Left = true;
        FreeScratch(levels);
        return;
    }
    while (walk.Depth >= 0) {
        TTreeLevel *level = &levels[walk.Depth];
        const FILE_ID_BOTH_DIR_INFO *entry = NextListed(&level->Listing);
        if (entry == NULL) {
            LeaveDirectory(&walk, tally);
        } else if (IsDotEntry(entry)) {
            continue;
        } else if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            EnterDirectory(&walk, entry);
        } else {
            TListedName listed = ListedName(entry);
            if (DeleteListedEntry(plan, level->Directory, &listed, &level->Tally) && AfterTreeDeletion != NULL)
                AfterTreeDeletion();  // tests only
        }
    }
    FreeScratch(levels);
}

TStatus OpenTreeTopW(const WCHAR *path, HANDLE *top)
{
    bool deletable = false;
    TStatus status = IsLinkByName(path) ? StatusAccessDenied : OpenTreeDirectory(NULL, path, 0, top, &deletable);
    TEntryFacts facts;
    if (status == StatusSuccess &&
        (!ReadEntryFacts(*top, &facts) || (facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(*top);
        *top = INVALID_HANDLE_VALUE;
        status = StatusAccessDenied;
    }
    return status;
}

TStatus OpenTreeTop(const char *directory, HANDLE *top)
{
    *top = INVALID_HANDLE_VALUE;
    if (!IsTreeDirectory(directory))
        return StatusAccessDenied;
    // The verbatim form takes every name as it stands; without its trailing
    // backslash, so that it names the directory entry and not what a link there
    // leads to.
    DWORD chars = (DWORD)strlen(directory) + 16;
    WCHAR *path = (WCHAR *)AllocScratch(chars * sizeof(WCHAR));
    TStatus status = StatusNoMemory;
    if (path != NULL && GetVerbatimPath(directory, NULL, path, (int)chars)) {
        path[wcslen(path) - 1] = 0;
        status = OpenTreeTopW(path, top);
    }
    FreeScratch(path);
    return status;
}

void RemoveRecordedTree(TRemovalTarget kind, HANDLE top, bool closeToOthers)
{
    TTally tally = {false, false};
    RemoveOpenTree(top, closeToOthers, NULL, &tally);
    if (!tally.Left || !RecordTreeTarget(kind, top, closeToOthers))
        CloseHandle(top);
}

void RemoveDirectoryTree(const char *directory)
{
    HANDLE top = INVALID_HANDLE_VALUE;
    if (OpenTreeTop(directory, &top) != StatusSuccess)
        return;
    TTally tally = {false, false};
    RemoveOpenTree(top, false, NULL, &tally);
    CloseHandle(top);
}
