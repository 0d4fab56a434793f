// How fast FindFile walks a tree of about 20,000 entries in 2,000 directories,
// next to a plain recursive FindFirstFileA walk that lists each directory once, a
// walk that lists each directory twice as FindFile does (once for the pattern,
// once for the subdirectories, in FindFile's order), and "cmd /c dir /s /b" on the
// same tree. Prints a table; the best of a few repetitions counts.
#include "findfile/findfile.h"
#include <windows.h>
#include <stdio.h>
#include <algorithm>
#include <string>

namespace {

const char *const TreeRoot = "C:\\dvqbench\\";
const int Repetitions = 3;

double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// Ten directories below the root, ten below each of those and nineteen below each
// of the hundred: 2,010 directories and the root, each with nine files.
long MakeTree(const std::string &directory, int level, long *files)
{
    static const int fanOut[] = {10, 10, 19, 0};
    CreateDirectoryA(directory.c_str(), NULL);
    for (int i = 0; i < 9; i++) {
        std::string path = directory + "file" + std::to_string(i) + (i % 3 == 0 ? ".txt" : ".dat");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            ++*files;
        }
    }
    long directories = 1;
    for (int i = 0; i < fanOut[level]; i++)
        directories += MakeTree(directory + "dir" + std::to_string(i) + "\\", level + 1, files);
    return directories;
}

void RemoveTree(const std::string &directory)
{
    WIN32_FIND_DATAA entry;
    HANDLE found = FindFirstFileA((directory + "*").c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(directory + name + "\\");
            else
                DeleteFileA((directory + name).c_str());
        } while (FindNextFileA(found, &entry));
        FindClose(found);
    }
    RemoveDirectoryA(directory.c_str());
}

int CountEntry(const char *, WIN32_FIND_DATAA *, void *userData)
{
    ++*(long *)userData;
    return 1;
}

long WalkWithFindFile()
{
    char program[] = "findfile";
    char start[MAX_PATH];
    lstrcpyA(start, TreeRoot);
    char pattern[] = "*.*";
    char *argv[] = {program, start, pattern};
    long entries = 0;
    TFindFileResultBlock result;
    if (FindFile(3, argv, &result, CountEntry, &entries) != 1)
        return -1;
    return entries;
}

// The plain recursive walk: one listing per directory, every entry counted as
// FindFile reports it (with . and ..), entering the same directories.
long WalkRecursively(const std::string &directory)
{
    long entries = 0;
    WIN32_FIND_DATAA entry;
    HANDLE found = FindFirstFileA((directory + "*.*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE)
        return 0;
    do {
        entries++;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != '.' &&
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            entries += WalkRecursively(directory + entry.cFileName + "\\");
    } while (FindNextFileA(found, &entry));
    FindClose(found);
    return entries;
}

// Two listings per directory, directories kept on a stack as FindFile keeps them:
// "*.*" counted as the pattern's matches, then "*.*" again for the subdirectories,
// the one listed last searched first.
long WalkTwice(const char *root)
{
    static char pending[256][MAX_PATH];
    char search[MAX_PATH];
    int count = 0;
    long entries = 0;
    lstrcpynA(pending[count++], root, MAX_PATH);
    while (count > 0) {
        char directory[MAX_PATH];
        lstrcpynA(directory, pending[--count], MAX_PATH);
        WIN32_FIND_DATAA entry;
        wsprintfA(search, "%s*.*", directory);
        HANDLE found = FindFirstFileA(search, &entry);
        if (found != INVALID_HANDLE_VALUE) {
            do
                entries++;
            while (FindNextFileA(found, &entry));
            FindClose(found);
        }
        found = FindFirstFileA(search, &entry);
        if (found == INVALID_HANDLE_VALUE)
            continue;
        do {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != '.' &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && count < 256)
                wsprintfA(pending[count++], "%s%s\\", directory, entry.cFileName);
        } while (FindNextFileA(found, &entry));
        FindClose(found);
    }
    return entries;
}

// "cmd /c dir /s /b" over the tree, its output thrown away; false if it did not run.
bool ListWithCmd()
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             NULL);
    if (nul == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    std::string command = std::string("cmd /c dir /s /b ") + TreeRoot;
    PROCESS_INFORMATION process;
    bool ran = CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process) != FALSE;
    if (ran) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(nul);
    return ran;
}

}  // namespace

int main()
{
    RemoveTree(TreeRoot);
    double made = Now();
    long files = 0;
    long directories = MakeTree(TreeRoot, 0, &files);
    printf("tree %s: %ld directories, %ld files (made in %.1f s)\n", TreeRoot, directories, files, Now() - made);

    double best[4] = {1e30, 1e30, 1e30, 1e30};
    long counts[3] = {0, 0, 0};
    bool cmdRan = true;
    for (int repetition = 0; repetition < Repetitions; repetition++) {
        double start = Now();
        counts[0] = WalkWithFindFile();
        best[0] = std::min(best[0], Now() - start);
        start = Now();
        counts[1] = WalkRecursively(TreeRoot);
        best[1] = std::min(best[1], Now() - start);
        start = Now();
        cmdRan = ListWithCmd() && cmdRan;
        best[2] = std::min(best[2], Now() - start);
        start = Now();
        counts[2] = WalkTwice(TreeRoot);
        best[3] = std::min(best[3], Now() - start);
    }

    printf("entries reported: FindFile %ld, recursive walk %ld, two-listing walk %ld\n", counts[0], counts[1],
           counts[2]);
    printf("best of %d            seconds   FindFile / this\n", Repetitions);
    const char *names[] = {"FindFile *.*", "one listing per dir", "cmd /c dir /s /b", "two listings per dir"};
    for (int i : {0, 1, 3, 2}) {
        if (i == 2 && !cmdRan)
            printf("%-20s   (cmd could not be started)\n", names[i]);
        else
            printf("%-20s %9.3f   %6.2f\n", names[i], best[i], best[0] / best[i]);
    }
    // Rows for the summary table of tools/bench.sh: what, method, seconds, against what, ratio.
    printf("row|walk %ld entries|FindFile *.*|%.3f|one listing per dir|%.2f\n", counts[0], best[0],
           best[0] / best[1]);
    printf("row|walk %ld entries|FindFile *.*|%.3f|two listings per dir|%.2f\n", counts[0], best[0],
           best[0] / best[3]);
    RemoveTree(TreeRoot);
    return 0;
}
