#include "removal/removal.h"
#include "client/clientpath.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>

// Walks of one tree: the first deletes the files, and each further one removes
// the directories that the walk before it emptied. A chain of eleven directories
// below the top thus goes completely, the top with it.
static const int TreePasses = 12;

// True for a directory that the removal may act in: a drive, a colon and a
// backslash (or a share, "\\server\share\"), then one or more plain names each
// followed by a backslash. A root, a relative path, a path without its trailing
// backslash (whose walk would match the directory's siblings) and a path through
// "." or ".." are not.
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

// Deletes an entry that no ANSI name reaches (outside the code page with no
// short name, or ending with a dot or a space) by its verbatim wide path.
static void RemoveUnnamedEntry(const char *directory, const WIN32_FIND_DATAW *entry)
{
    WCHAR path[MAX_PATH + 16];
    if (entry->cFileName[0] == 0 || !GetVerbatimPath(directory, entry->cFileName, path, MAX_PATH + 16))
        return;
    if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveDirectoryW(path);
    } else {
        if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            (entry->dwFileAttributes & AttributesInTheWay))
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path);
    }
}

// Deletes the entry at path, listed with the given attributes. A directory goes
// only when empty. A linked directory is left alone: some platforms remove the
// directory it names instead of the link.
static void RemoveNamedEntry(const char *path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveDirectoryA(path);
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        DeleteFileA(path);  // the link itself, leaving its target's attributes alone
    } else if ((attributes & AttributesInTheWay) || !DeleteFileA(path)) {
        // A file listed with nothing in its way is deleted without asking again.
        ForceDeleteFile(path);
    }
}

int RemoveTreeEntry(const char *directory, WIN32_FIND_DATAA *entry, void *)
{
    int size = InstallPathSize;
    char *path = size > 0 ? (char *)AllocScratch((DWORD)size) : NULL;
    if (path == NULL)
        return 1;
    // The directory is checked as well as the name: the walk started in a checked
    // directory, so a directory that fails here was reached through a name that
    // leads out of the tree.
    if (IsTreeDirectory(directory)) {
        char name[MAX_PATH];
        WIN32_FIND_DATAW wide;
        if (!GetReachableEntryName(directory, entry, name, (int)sizeof name, &wide))
            RemoveUnnamedEntry(directory, &wide);  // "." and ".." are never looked up
        else if (JoinPath(path, (size_t)size, directory, name))
            RemoveNamedEntry(path, entry->dwFileAttributes);
    }
    FreeScratch(path);
    return 1;
}

// True when directory (ending with a backslash) is itself a link. Its attributes
// are read without the backslash: with it, some platforms read the link's target.
static bool IsLinkedDirectory(const char *directory)
{
    char path[MAX_PATH];
    size_t length = strlen(directory);
    if (length < 2 || length > sizeof path)
        return true;
    memcpy(path, directory, length - 1);
    path[length - 1] = '\0';
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveDirectoryTree(const char *directory)
{
    int size = InstallPathSize;
    // A linked top is never walked: what it leads to is not the program's.
    if (size <= 0 || !IsTreeDirectory(directory) || IsLinkedDirectory(directory))
        return;
    char *program = (char *)AllocScratch((DWORD)size);
    char *start = program != NULL ? (char *)AllocScratch((DWORD)size) : NULL;
    char *pattern = start != NULL ? (char *)AllocScratch((DWORD)size) : NULL;
    if (pattern != NULL && JoinPath(program, (size_t)size, "findfile", NULL) &&
        JoinPath(start, (size_t)size, directory, NULL) && JoinPath(pattern, (size_t)size, "*.*", NULL)) {
        char *arguments[3] = {program, start, pattern};
        // A walk that fails leaves the counts of the one before it: a failed first
        // walk ends the passes, a failed later one is followed by another.
        TFindFileResultBlock result = {0, 0, 0};
        FindFile(3, arguments, &result, RemoveTreeEntry, NULL);
        // Two matches are the entries "." and ".." of the top directory alone.
        for (int pass = 1; pass < TreePasses && result.MatchCount > 2; pass++)
            FindFile(3, arguments, &result, RemoveTreeEntry, NULL);
        RemoveDirectoryA(directory);
    }
    FreeScratch(pattern);
    FreeScratch(start);
    FreeScratch(program);
}
