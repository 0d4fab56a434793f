// FindFile: the directory walker exported by DVQRMV32.EXE (ordinal 1, under the
// compiler's decorated name for the declaration below).
//
// Walks one or more directory trees and calls the callback for every directory
// entry that matches any of the patterns. Arguments are given as on a command
// line: argv[0] is ignored, then option words beginning with "-", then the start
// directory (ending with a backslash) unless an option supplied the directories,
// then the patterns, each searched in every directory in argument order before
// the directory's subdirectories are taken. With no patterns the directories are
// only counted.
//
//   -1    stop after the first match
//   -n    do not descend into subdirectories
//   -p    search the directories of PATH (empty elements skipped), without descent
//   -rXY  search the roots of drives X to Y, X first; letters missing or not
//         letters: no root is searched
//
// Subdirectories are searched depth first, the one listed last first. Names that
// begin with "." and links (reparse points) are reported but never entered; a
// subdirectory whose name does not convert to the ANSI code page exactly (a "?"
// for a character it lacks, or a best-fit look-alike such as a separator or dot)
// or ends with a dot or a space is entered by its short name, and is passed over,
// still reported, when that will not do either. At most 200 directories wait at
// once.
//
// A start directory given without its trailing backslash is taken as the
// directory it names (not as a prefix of its siblings' names); a PATH element too
// long to search is dropped like those beyond the 200 slots.
//
// Returns 1 when the walk completed or was stopped (by the callback returning 0 or
// by -1). Every directory searched was then searched with every pattern; a
// directory that was not entered (a name beginning with ".", a link, one that no
// name reaches) is reported as an entry of its parent where a pattern matches it,
// and nothing inside it is. Returns 0 when it failed: no memory, more than 200
// directories waiting, or a directory to search whose path, with a pattern or
// "*.*" after it, does not fit MAX_PATH. The result record is written only when
// it returns 1. The function uses no C run-time library, so a program may call it
// in a module whose start-up code never ran.
#pragma once
#include <windows.h>

struct TFindFileResultBlock {
    LONG DirCount;    // directories taken from the stack, listed or not
    LONG MatchCount;  // entries matched, which is the number of callback calls
    LONG Reserved;    // always 0
};

// Called for every match with the searched directory (with its trailing
// backslash; the walker's own copy, not to be changed) and the entry. Both
// pointers are valid only during the call. Return 0 to stop the walk.
typedef int (*TFindFileCallback)(const char *directory, WIN32_FIND_DATAA *entry, void *userData);

#if defined(DVQRMV32_MODULE)
#define DVQ_FINDFILE_API __declspec(dllexport)
#else
#define DVQ_FINDFILE_API __declspec(dllimport)
#endif

DVQ_FINDFILE_API int __cdecl FindFile(int argc, char *argv[], TFindFileResultBlock *result,
                                      TFindFileCallback callback, void *userData);
