// Removal of a generated installation of about 10,000 files in about 1,000
// directories, 6 levels deep, under C:\dvqbench\: RemoveDirectoryTree next to a
// loop that deletes the known list of files and directories without listing
// anything (the floor), and the same passes as RemoveDirectoryTree with their time
// taken apart (listings, deletions, removals of directories not yet empty). Prints
// seconds and ratios.
#include "removal/removal.h"
#include "client/clientpath.h"
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

const int Levels = 6;
const int Branches = 3;      // 3 + 9 + ... + 729 = 1092 directories below the top
const int FilesPerDir = 9;   // and 9 in each of them and in the top: 9837 files
const int Rounds = 3;

struct TTree {
    std::string top;                     // with its trailing backslash
    std::vector<std::string> files;      // in creation order
    std::vector<std::string> dirs;       // parents before their children, top first
};

void Fill(TTree &tree, const std::string &dir, int level)
{
    CreateDirectoryA(dir.c_str(), NULL);
    tree.dirs.push_back(dir);
    for (int i = 0; i < FilesPerDir; i++) {
        std::string path = dir + "file" + std::to_string(i) + ".dat";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        WriteFile(file, path.data(), (DWORD)path.size(), &written, NULL);
        CloseHandle(file);
        tree.files.push_back(path);
    }
    if (level < Levels)
        for (int i = 0; i < Branches; i++)
            Fill(tree, dir + "dir" + std::to_string(i) + "\\", level + 1);
}

TTree Generate(const std::string &name)
{
    TTree tree;
    CreateDirectoryA("C:\\dvqbench", NULL);
    CreateDirectoryA(("C:\\dvqbench\\" + name).c_str(), NULL);
    tree.top = "C:\\dvqbench\\" + name + "\\Solvarine\\";
    Fill(tree, tree.top, 0);
    return tree;
}

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// Files and directories of the tree still there.
size_t Left(const TTree &tree)
{
    size_t left = 0;
    for (const std::string &path : tree.files)
        left += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    for (const std::string &path : tree.dirs)
        left += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return left;
}

double TimeRemoveDirectoryTree(const TTree &tree)
{
    double start = Now();
    RemoveDirectoryTree(tree.top.c_str());
    return Now() - start;
}

double TimeKnownList(const TTree &tree)
{
    double start = Now();
    for (const std::string &path : tree.files)
        DeleteFileA(path.c_str());
    for (size_t i = tree.dirs.size(); i-- > 0;)
        RemoveDirectoryA(tree.dirs[i].c_str());
    return Now() - start;
}

// Where the removal's time goes: the same passes as RemoveDirectoryTree, with the
// time inside each call of RemoveTreeEntry added to one of four kinds; the rest of
// a pass is the walker's own time, its listings.
enum { FileDeleted, DirRemoved, DirNotRemoved, DotEntry, Kinds };
double KindSeconds[Kinds];
long KindCount[Kinds];
double CheckSeconds;  // the bench's own look at each directory, not the removal's

int TimedEntry(const char *directory, WIN32_FIND_DATAA *entry, void *userData)
{
    double begin = Now();
    RemoveTreeEntry(directory, entry, userData);
    double seconds = Now() - begin;
    int kind = FileDeleted;
    begin = Now();
    if (entry->cFileName[0] == '.')
        kind = DotEntry;
    else if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        kind = GetFileAttributesA((std::string(directory) + entry->cFileName).c_str()) == INVALID_FILE_ATTRIBUTES
                   ? DirRemoved
                   : DirNotRemoved;
    CheckSeconds += Now() - begin;
    KindSeconds[kind] += seconds;
    KindCount[kind]++;
    return 1;
}

double TimePasses(const TTree &tree)
{
    std::string program = "findfile", start = tree.top, pattern = "*.*";
    char *arguments[3] = {&program[0], &start[0], &pattern[0]};
    for (int k = 0; k < Kinds; k++)
        KindSeconds[k] = 0, KindCount[k] = 0;
    CheckSeconds = 0;
    TFindFileResultBlock result = {0, 0, 0};
    long listed = 0;
    int passes = 0;
    double begin = Now();
    do {
        FindFile(3, arguments, &result, TimedEntry, NULL);
        listed += result.DirCount;
        passes++;
    } while (passes < 12 && result.MatchCount > 2);
    RemoveDirectoryA(tree.top.c_str());
    double seconds = Now() - begin - CheckSeconds;
    double inCallbacks = 0;
    for (int k = 0; k < Kinds; k++)
        inCallbacks += KindSeconds[k];
    printf("         %d passes: walker %.3f s (%ld directories listed, twice each); files %.3f s (%ld);\n"
           "         directories removed %.3f s (%ld), not yet empty %.3f s (%ld); . and .. %.3f s (%ld)\n",
           passes, seconds - inCallbacks, listed, KindSeconds[FileDeleted], KindCount[FileDeleted],
           KindSeconds[DirRemoved], KindCount[DirRemoved], KindSeconds[DirNotRemoved], KindCount[DirNotRemoved],
           KindSeconds[DotEntry], KindCount[DotEntry]);
    return seconds;
}

}  // namespace

int main()
{
    InstallPathSize = WindowsPathSize = 1020;
    const int Methods = 3;
    const char *names[Methods] = {"RemoveDirectoryTree", "known list (floor)", "passes, timed apart"};
    double (*const methods[Methods])(const TTree &) = {TimeRemoveDirectoryTree, TimeKnownList, TimePasses};
    double best[Methods] = {1e30, 1e30, 1e30};
    size_t files = 0, dirs = 0;
    for (int round = 1; round <= Rounds; round++) {
        for (int m = 0; m < Methods; m++) {
            TTree tree = Generate("tree" + std::to_string(m));
            files = tree.files.size();
            dirs = tree.dirs.size();
            double seconds = methods[m](tree);
            size_t left = Left(tree);
            printf("round %d  %-22s %8.3f s%s\n", round, names[m], seconds,
                   left == 0 ? "" : ("  (" + std::to_string(left) + " entries left)").c_str());
            if (seconds < best[m])
                best[m] = seconds;
        }
    }
    printf("\n%zu files in %zu directories (the top included), %d levels below the top\n", files, dirs, Levels);
    printf("best of %d rounds:\n", Rounds);
    for (int m = 0; m < Methods; m++)
        printf("  %-22s %8.3f s   %6.2f x floor\n", names[m], best[m], best[m] / best[1]);
    // The row for the summary table of tools/bench.sh: what, method, seconds, against what, ratio.
    printf("row|remove %zu files, %zu dirs|%s|%.3f|%s|%.2f\n", files, dirs, names[0], best[0], names[1],
           best[0] / best[1]);
    return 0;
}
