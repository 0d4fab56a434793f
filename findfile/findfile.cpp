// The directory walker exported by the module. Other programs load the module and
// call FindFile without its start-up code ever having run, so nothing here uses
// the C run-time library: only Win32 calls and the loops below.
#include "findfile/findfile.h"
#include "findfile/dirstack.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"

namespace {

// Flags read from the option words.
struct TWalkOptions {
    bool FirstOnly;  // "1": stop after the first match
    bool NoDescent;  // "N", and implied by "P": search only the directories pushed
    bool DirsGiven;  // "P" or "R": no start-directory argument is taken
    bool UsesPath;   // "P" was given
};

// Appends text to out (outSize bytes, *used of them taken, terminator excluded).
// False when it does not fit with its terminator; out is then left unterminated
// and must not be used.
bool AppendText(char *out, int outSize, int *used, const char *text)
{
    int at = *used;
    for (const char *p = text; *p != '\0'; p++) {
        if (at >= outSize - 1)
            return false;
        out[at++] = *p;
    }
    out[at] = '\0';
    *used = at;
    return true;
}

// Builds a + b (+ c) into out; false when the whole does not fit.
bool BuildPath(char *out, int outSize, const char *a, const char *b, const char *c = NULL)
{
    int used = 0;
    out[0] = '\0';
    return AppendText(out, outSize, &used, a) && AppendText(out, outSize, &used, b) &&
           (c == NULL || AppendText(out, outSize, &used, c));
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// True when text ends with a backslash (a whole character, not the second byte
// of a double-byte one), a slash or a colon.
bool EndsWithSeparator(const char *text)
{
    char last = '\0';
    for (const char *p = text; *p != '\0'; p++) {
        bool lead = IsDBCSLeadByte((BYTE)*p) && p[1] != '\0';
        last = lead ? '\0' : *p;
        if (lead)
            p++;
    }
    return last == '\\' || last == '/' || last == ':';
}

// Pushes the elements of the PATH value in order; an empty element is skipped, an
// element that does not end with a backslash gets one, and one too long for a
// slot is dropped, as pushes refused by a full stack are: the walk cannot search
// them.
void PushPathElements(const char *value, char *block, int *count)
{
    char element[DirSlotSize];
    const char *p = value;
    while (*p != '\0') {
        int used = 0;
        bool fits = true;
        while (*p != '\0' && *p != ';') {
            int width = IsDBCSLeadByte((BYTE)*p) && p[1] != '\0' ? 2 : 1;
            for (int i = 0; i < width; i++, p++) {
                if (used < DirSlotSize - 1)
                    element[used++] = *p;
                else
                    fits = false;
            }
        }
        if (*p == ';')
            p++;
        element[used] = '\0';
        if (used == 0)
            continue;
        bool endsWithBackslash = EndsWithSeparator(element) && element[used - 1] == '\\';
        if (fits && (endsWithBackslash || AppendText(element, DirSlotSize, &used, "\\")))
            PushDir(element, block, count);
    }
}

// Pushes the roots of the drives high down to low, so that low is searched first;
// when high is below low only high's root is pushed. Refused pushes are dropped.
void PushDriveRoots(char low, char high, char *block, int *count)
{
    char root[4] = {high, ':', '\\', '\0'};
    do {
        PushDir(root, block, count);
        root[0]--;
    } while ((signed char)root[0] >= (signed char)low);
}

// Reads the option words that start at argv[1] into options and returns the index
// of the first argument after them. With a block, the directories of "P" and "R"
// are pushed in the order in which the options stand (pathValue holds the value
// of PATH, or null when it is not set). Without a block only the flags are read.
int ReadOptions(int argc, char *argv[], TWalkOptions *options, char *block, int *count, const char *pathValue)
{
    int k = 1;
    for (; k < argc && argv[k] != NULL && argv[k][0] == '-'; k++) {
        const char *word = argv[k];
        for (int i = 1; word[i] != '\0'; i++) {
            char c = word[i];
            if (IsDBCSLeadByte((BYTE)c)) {
                if (word[i + 1] != '\0')
                    i++;
            } else if (c == '1') {
                options->FirstOnly = true;
            } else if (c == 'N' || c == 'n') {
                options->NoDescent = true;
            } else if (c == 'P' || c == 'p') {
                options->UsesPath = options->NoDescent = options->DirsGiven = true;
                if (block != NULL && pathValue != NULL)
                    PushPathElements(pathValue, block, count);
            } else if (c == 'R' || c == 'r') {
                // The two letters that follow, as far as the word goes.
                options->DirsGiven = true;
                char low = word[i + 1];
                char high = low != '\0' ? word[i + 2] : '\0';
                if (low != '\0')
                    i += high != '\0' ? 2 : 1;
                if (block != NULL && IsLetter(low) && IsLetter(high))
                    PushDriveRoots(low, high, block, count);
            }
        }
    }
    return k;
}

// Pushes the subdirectories of directory, listed in wide characters so that each
// is entered by a name that really names it: its long name when that converts to
// the ANSI code page exactly, else its short name. One that has neither (a name
// outside the code page on a volume without short names) cannot be named by the
// ANSI API and is passed over. Links and names beginning with "." are never
// entered. False when the stack is full or a path does not fit (child is scratch
// of DirSlotSize bytes).
bool PushSubdirectories(const char *directory, char *child, char *block, int *count)
{
    WCHAR search[DirSlotSize];
    char name[DirSlotSize];
    // The listing must fit MAX_PATH as "directory\*.*" would.
    int used = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, directory, -1, search, DirSlotSize);
    if (used <= 0 || used + 3 > DirSlotSize)
        return false;
    search[used - 1] = L'*';
    search[used] = 0;
    WIN32_FIND_DATAW entry;
    HANDLE found = FindFirstFileW(search, &entry);
    if (found == INVALID_HANDLE_VALUE)
        return true;
    bool pushed = true;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == L'.' ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !GetReachableName(&entry, name, (int)sizeof name))
            continue;
        pushed = BuildPath(child, DirSlotSize, directory, name, "\\") && PushDir(child, block, count) == 0;
    } while (pushed && FindNextFileW(found, &entry));
    FindClose(found);
    return pushed;
}

// Searches the directories on the stack until it is empty, the callback stops the
// walk or the first match ends it (1), or a directory that must be searched cannot
// be: the stack is full or its path does not fit MAX_PATH (0).
int WalkStack(char *block, int *count, int argc, char *argv[], int firstPattern, const TWalkOptions *options,
              TFindFileCallback callback, void *userData, LONG *dirCount, LONG *matchCount)
{
    char directory[DirSlotSize];
    char search[DirSlotSize];
    char child[DirSlotSize];
    WIN32_FIND_DATAA entry;

    while (PopDir(directory, block, count) == 0) {
        ++*dirCount;
        for (int i = firstPattern; i < argc; i++) {
            if (argv[i] == NULL)
                continue;
            if (!BuildPath(search, sizeof search, directory, argv[i]))
                return 0;
            HANDLE found = FindFirstFileA(search, &entry);
            if (found == INVALID_HANDLE_VALUE)
                continue;
            do {
                ++*matchCount;
                int goOn = callback != NULL ? callback(directory, &entry, userData) : 1;
                if (goOn == 0 || options->FirstOnly) {
                    FindClose(found);
                    return 1;
                }
            } while (FindNextFileA(found, &entry));
            FindClose(found);
        }
        if (options->NoDescent)
            continue;
        if (!PushSubdirectories(directory, child, block, count))
            return 0;
    }
    return 1;
}

// Fills the stack block (pathSize bytes after the slots are for the value of
// PATH) from the arguments and walks it; writes the result record on success.
int WalkArguments(int argc, char *argv[], char *block, DWORD pathSize, TFindFileResultBlock *result,
                  TFindFileCallback callback, void *userData)
{
    const char *pathValue = NULL;
    if (pathSize > 0) {
        char *value = block + DirStackBytes;
        DWORD length = GetEnvironmentVariableA("PATH", value, pathSize);
        if (length >= pathSize)
            return 0;  // changed since its size was asked: what fits would be cut short
        value[length] = '\0';
        pathValue = value;
    }
    TWalkOptions options = {false, false, false, false};
    int count = 0;
    int first = ReadOptions(argc, argv, &options, block, &count, pathValue);
    int firstPattern = first;
    if (!options.DirsGiven) {
        // A start directory without its backslash is the directory it names: as
        // it stands, its search would match the names of its siblings.
        char start[DirSlotSize];
        int used = 0;
        if (first < argc && argv[first] != NULL &&
            (!AppendText(start, DirSlotSize, &used, argv[first]) ||
             (used > 0 && !EndsWithSeparator(start) && !AppendText(start, DirSlotSize, &used, "\\")) ||
             PushDir(start, block, &count) != 0))
            return 0;
        firstPattern = first + 1;
    }
    LONG dirCount = 0;
    LONG matchCount = 0;
    if (!WalkStack(block, &count, argc, argv, firstPattern, &options, callback, userData, &dirCount, &matchCount))
        return 0;
    if (result != NULL) {
        result->DirCount = dirCount;
        result->MatchCount = matchCount;
        result->Reserved = 0;
    }
    return 1;
}

}  // namespace

int PushDir(const char *path, char *block, int *count)
{
    if (*count < 0 || *count >= DirSlotCount)
        return -1;
    char *slot = block + *count * DirSlotSize;
    int used = 0;
    if (!AppendText(slot, DirSlotSize, &used, path))
        return -1;
    ++*count;
    return 0;
}

int PopDir(char *out, char *block, int *count)
{
    if (*count <= 0)
        return -1;
    --*count;
    int used = 0;
    AppendText(out, DirSlotSize, &used, block + *count * DirSlotSize);
    return 0;
}

int __cdecl FindFile(int argc, char *argv[], TFindFileResultBlock *result, TFindFileCallback callback,
                     void *userData)
{
    if (argv == NULL)
        argc = 0;
    // The flags first, to know whether the block must also hold the value of PATH.
    TWalkOptions options = {false, false, false, false};
    ReadOptions(argc, argv, &options, NULL, NULL, NULL);
    DWORD pathSize = options.UsesPath ? GetEnvironmentVariableA("PATH", NULL, 0) : 0;

    HGLOBAL handle = NULL;
    char *block = (char *)AllocLockedGlobal(DirStackBytes + pathSize, &handle);
    if (block == NULL)
        return 0;
    int status = WalkArguments(argc, argv, block, pathSize, result, callback, userData);
    FreeLockedGlobal(handle);
    return status;
}
