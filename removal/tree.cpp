#include "removal/removal.h"
#include "flow/clientpath.h"
#include "common/paths.h"
#include "common/scratch.h"
#include <string.h>

// Walks of one tree: the first deletes the files, and each further one removes
// the directories that the walk before it emptied. A chain of eleven directories
// below the top thus goes completely, the top with it.
static const int TreePasses = 12;

// True for a directory that the removal may act in: a drive, a colon and a
// backslash, then one or more plain names each followed by a backslash. A drive's
// root, a relative path, a path without its trailing backslash (whose walk would
// match the directory's siblings) and a path through "." or ".." are not.
static bool IsTreeDirectory(const char *directory)
{
    if (!IsAbsolutePath(directory))
        return false;
    const char *component = directory + 3;
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

int RemoveTreeEntry(const char *directory, WIN32_FIND_DATAA *entry, void *)
{
    int size = InstallPathSize;
    char *path = size > 0 ? (char *)AllocScratch((DWORD)size) : NULL;
    if (path == NULL)
        return 1;
    // The directory is checked as well as the name: the walk started in a checked
    // directory, so a directory that fails here was reached through a name that
    // leads out of the tree.
    const char *name = EntryName(entry);
    if (name != NULL && IsTreeDirectory(directory) && JoinPath(path, (size_t)size, directory, name)) {
        // A directory goes only when empty. A linked directory is left alone: some
        // platforms remove the directory it names instead of the link.
        if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveDirectoryA(path);
        } else if (entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            DeleteFileA(path);  // the link itself, leaving its target's attributes alone
        else
            ForceDeleteFile(path);
    }
    FreeScratch(path);
    return 1;
}

void RemoveDirectoryTree(const char *directory)
{
    int size = InstallPathSize;
    if (size <= 0 || !IsTreeDirectory(directory))
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
