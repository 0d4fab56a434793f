// Removal of a generated installation of about 10,000 files in about 1,000
// directories, 6 levels deep, under C:\dvqbench\: RemoveDirectoryTree next to a
// loop that deletes the known list of files and directories without listing
// anything (the floor). Prints seconds and ratios.
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

int CountEntry(const char *, WIN32_FIND_DATAA *, void *)
{
    return 1;
}

// One walk of the whole tree as the removal's first pass makes it, deleting
// nothing: what the listings of a pass cost. The tree is then cleared, untimed.
double TimeOneWalk(const TTree &tree)
{
    std::string program = "findfile", start = tree.top, pattern = "*.*";
    char *arguments[3] = {&program[0], &start[0], &pattern[0]};
    TFindFileResultBlock result = {0, 0, 0};
    double begin = Now();
    FindFile(3, arguments, &result, CountEntry, NULL);
    double seconds = Now() - begin;
    TimeKnownList(tree);
    return seconds;
}

}  // namespace

int main()
{
    InstallPathSize = WindowsPathSize = 1020;
    const int Methods = 3;
    const char *names[Methods] = {"RemoveDirectoryTree", "known list (floor)", "one walk, no deletion"};
    double (*const methods[Methods])(const TTree &) = {TimeRemoveDirectoryTree, TimeKnownList, TimeOneWalk};
    double best[Methods] = {1e30, 1e30, 1e30};
    size_t files = 0, dirs = 0;
    for (int round = 1; round <= Rounds; round++) {
        for (int m = 0; m < Methods; m++) {
            TTree tree = Generate("tree" + std::to_string(m));
            files = tree.files.size();
            dirs = tree.dirs.size();
            double seconds = methods[m](tree);
            size_t left = m == 2 ? 0 : Left(tree);
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
