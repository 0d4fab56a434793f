// Removal of a generated installation of about 10,000 files in about 1,000
// directories, 6 levels deep, under C:\dvqbench\: RemoveDirectoryTree next to a
// loop that deletes the known list of files and directories without listing
// anything (the floor), and next to NSIS's "RMDir /r" (a silent installer that
// tools/bench.sh builds with makensis as nsis-rmdir.exe beside this program, for
// C:\dvqbench\nsis\Solvarine). Each method's time on an empty top directory (for
// NSIS, mostly the start of its process) is taken off its time on the tree.
// Prints seconds and ratios.
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

// The tree, or with level -1 its top alone, empty.
TTree Generate(const std::string &name, int level)
{
    TTree tree;
    CreateDirectoryA("C:\\dvqbench", NULL);
    CreateDirectoryA(("C:\\dvqbench\\" + name).c_str(), NULL);
    tree.top = "C:\\dvqbench\\" + name + "\\Solvarine\\";
    if (level < 0) {
        CreateDirectoryA(tree.top.c_str(), NULL);
        tree.dirs.push_back(tree.top);
    } else {
        Fill(tree, tree.top, level);
    }
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

std::string ProgramDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\') + 1);
}

// The NSIS installer that removes C:\dvqbench\nsis\Solvarine, started and waited for.
double TimeNsis(const TTree &)
{
    std::string line = "\"" + ProgramDir() + "nsis-rmdir.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Now();
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    double seconds = Now() - start;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return seconds;
}

}  // namespace

int main()
{
    InstallPathSize = WindowsPathSize = 1020;
    const int Methods = 3;
    const char *names[Methods] = {"RemoveDirectoryTree", "known list (floor)", "NSIS RMDir /r"};
    const char *trees[Methods] = {"tree0", "tree1", "nsis"};
    double (*const methods[Methods])(const TTree &) = {TimeRemoveDirectoryTree, TimeKnownList, TimeNsis};
    bool haveNsis = GetFileAttributesA((ProgramDir() + "nsis-rmdir.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
    int methodCount = haveNsis ? Methods : Methods - 1;
    double best[Methods] = {1e30, 1e30, 1e30};
    double bestEmpty[Methods] = {1e30, 1e30, 1e30};
    size_t files = 0, dirs = 0;
    for (int round = 1; round <= Rounds; round++) {
        for (int m = 0; m < methodCount; m++) {
            for (bool empty : {true, false}) {
                TTree tree = empty ? Generate(trees[m], -1) : Generate(trees[m], 0);
                if (!empty) {
                    files = tree.files.size();
                    dirs = tree.dirs.size();
                }
                double seconds = methods[m](tree);
                size_t left = Left(tree);
                if (empty) {
                    bestEmpty[m] = seconds < bestEmpty[m] ? seconds : bestEmpty[m];
                    continue;
                }
                printf("round %d  %-22s %8.3f s%s\n", round, names[m], seconds,
                       left == 0 ? "" : ("  (" + std::to_string(left) + " entries left)").c_str());
                best[m] = seconds < best[m] ? seconds : best[m];
            }
        }
    }
    printf("\n%zu files in %zu directories (the top included), %d levels below the top\n", files, dirs, Levels);
    printf("best of %d rounds, less the best on an empty top:\n", Rounds);
    double net[Methods];
    for (int m = 0; m < methodCount; m++)
        net[m] = best[m] - bestEmpty[m];
    for (int m = 0; m < methodCount; m++) {
        printf("  %-22s %8.3f s (empty top %.3f s)  %6.2f x floor\n", names[m], net[m], bestEmpty[m], net[m] / net[1]);
    }
    if (!haveNsis)
        printf("  (no nsis-rmdir.exe beside this program: tools/bench.sh builds it with makensis)\n");
    // The rows for the summary table of tools/bench.sh: what, method, seconds, against what, ratio.
    for (int m = 1; m < methodCount; m++)
        printf("row|remove %zu files, %zu dirs|%s|%.3f|%s|%.2f\n", files, dirs, names[0], net[0], names[m],
               net[0] / net[m]);
    return 0;
}
