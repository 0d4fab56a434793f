// Removal of directory trees, of the Start-menu program group and of the
// installation directory, on real trees under C:\dvqtest\ and in the prefix's
// Programs folder.
#include "removal/removal.h"
#include "flow/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>
#include <algorithm>
#include <functional>

namespace {

// Started as "tree_test.exe --hold-open ID PATH", the program only opens PATH with
// no sharing, signals the event "dvq-tree-held-ID", and keeps the file open until
// the event "dvq-tree-release-ID" is signalled; its exit code tells whether the
// file could be opened. This runs before the tests are registered.
int HoldFileOpenWhenAsked()
{
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == NULL || count != 4 || lstrcmpW(args[1], L"--hold-open") != 0) {
        LocalFree(args);
        return 0;
    }
    std::wstring id = args[2];
    HANDLE file = CreateFileW(args[3], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"dvq-tree-held-" + id).c_str());
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, (L"dvq-tree-release-" + id).c_str());
    if (held != NULL)
        SetEvent(held);
    if (release != NULL)
        WaitForSingleObject(release, 120000);
    ExitProcess(file != INVALID_HANDLE_VALUE ? 0 : 1);
}
const int HolderMode = HoldFileOpenWhenAsked();

// Another process holding a file open with no sharing.
struct THolder {
    PROCESS_INFORMATION process;
    HANDLE release;
};

THolder HoldOpen(const std::string &path)
{
    THolder holder = {};
    std::string id = std::to_string(GetCurrentProcessId());
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, ("dvq-tree-held-" + id).c_str());
    holder.release = CreateEventA(NULL, TRUE, FALSE, ("dvq-tree-release-" + id).c_str());
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string line = "\"" + std::string(self) + "\" --hold-open " + id + " \"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    EXPECT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &holder.process));
    EXPECT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
    CloseHandle(held);
    return holder;
}

// Lets the holder close the file and end; true when it had the file open.
bool Release(THolder &holder)
{
    SetEvent(holder.release);
    EXPECT_EQ(WaitForSingleObject(holder.process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(holder.process.hProcess, &code);
    CloseHandle(holder.process.hThread);
    CloseHandle(holder.process.hProcess);
    CloseHandle(holder.release);
    return code == 0;
}

// Paths in UTF-16 with the "\\?\" prefix, for names outside the ANSI code page and
// for test trees at the length limit.
std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); i++)
        wide[i] = (unsigned char)text[i];
    return wide;
}

std::wstring Long(const std::wstring &path)
{
    return L"\\\\?\\" + path;
}

void MakeDirW(const std::wstring &path)
{
    CreateDirectoryW(Long(path).c_str(), NULL);
}

void MakeFileW(const std::wstring &path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, attributes, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

bool ExistsW(const std::wstring &path)
{
    return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void DeleteTreeW(const std::wstring &directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(Long(directory + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTreeW(full);
            } else {
                SetFileAttributesW(Long(full).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(Long(full).c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(Long(directory).c_str());
}

// A fresh scratch folder C:\dvqtest\<name>\ removed again after the test, even
// when it holds names that the ANSI helpers cannot reach.
std::string Scratch(const std::string &name)
{
    DeleteTreeW(Wide("C:\\dvqtest\\" + name));
    return FreshDir(name);
}

void MakeReadOnlyFile(const std::string &path)
{
    MakeFile(path);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

// Scratch allocations of one removal, every one of them released.
long Allocations(const std::function<void()> &removal)
{
    ResetScratchCounters(0);
    removal();
    EXPECT_EQ(ScratchCounters.Live, 0);
    return ScratchCounters.Allocations;
}

long TreeAllocations(const std::string &directory)
{
    return Allocations([&] { RemoveDirectoryTree(directory.c_str()); });
}

// What a removal with the given walks allocates: its three argument strings,
// then for every walk the walker's stack block and one path buffer a match.
long ForWalks(std::initializer_list<int> matchesPerWalk)
{
    long total = 3;
    for (int matches : matchesPerWalk)
        total += 1 + matches;
    return total;
}

const std::vector<std::string> None;

// Everything in parent but its subfolder Solvarine.
std::vector<std::string> Outside(const std::string &parent)
{
    std::vector<std::string> all = ListTree(parent);
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const std::string &path) { return path.rfind("Solvarine\\", 0) == 0; }),
              all.end());
    return all;
}

struct TreeTest : ::testing::Test {
    int savedInstallPathSize = 0;
    int savedWindowsPathSize = 0;
    char *savedClientPath = NULL;
    char savedCurrent[MAX_PATH] = "";
    char clientPath[1020] = "";
    std::vector<std::string> scratch;

    void SetUp() override
    {
        savedInstallPathSize = InstallPathSize;
        savedWindowsPathSize = WindowsPathSize;
        savedClientPath = ClientPath;
        InstallPathSize = WindowsPathSize = 1020;
        ClientPath = clientPath;
        GetCurrentDirectoryA(sizeof savedCurrent, savedCurrent);
        ResetScratchCounters(0);
    }

    void TearDown() override
    {
        InstallPathSize = savedInstallPathSize;
        WindowsPathSize = savedWindowsPathSize;
        ClientPath = savedClientPath;
        SetCurrentDirectoryA(savedCurrent);
        ResetScratchCounters(0);
        for (const std::string &name : scratch)
            DeleteTreeW(Wide("C:\\dvqtest\\" + name));
    }

    std::string Dir(const std::string &name)
    {
        scratch.push_back(name);
        return Scratch(name);
    }
};

TEST_F(TreeTest, SmallTreesTakeOneWalkMoreThanTheyHaveLevels)
{
    // An empty directory: one walk counting "." and "..". Its parent, left empty
    // by the removal, stays: the entry ".." is never acted on.
    std::string parent = Dir("tree-empty");
    std::string top = parent + "Solvarine\\";
    MakeDirs(top);
    EXPECT_EQ(TreeAllocations(top), ForWalks({2}));
    EXPECT_FALSE(DirExists(top));
    EXPECT_TRUE(DirExists(parent));

    // One file: deleted by the first walk, the second finds the top empty.
    MakeFile(top + "DVQ32.EXE");
    EXPECT_EQ(TreeAllocations(top), ForWalks({3, 2}));
    EXPECT_FALSE(DirExists(top));

    // One empty subdirectory: removed when the first walk lists it.
    MakeDirs(top + "Extras");
    EXPECT_EQ(TreeAllocations(top), ForWalks({3, 2}));
    EXPECT_FALSE(DirExists(top));
    EXPECT_EQ(ListTree(parent), None);
}

TEST_F(TreeTest, ReadOnlyHiddenAndSystemFilesGo)
{
    std::string top = Dir("tree-readonly") + "Solvarine\\";
    MakeReadOnlyFile(top + "DVQ32.EXE");
    MakeFile(top + "Data\\state.dat");
    SetFileAttributesA((top + "Data\\state.dat").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    MakeReadOnlyFile(top + "Data\\Cache\\page.htm");
    RemoveDirectoryTree(top.c_str());
    EXPECT_FALSE(DirExists(top));
}

TEST_F(TreeTest, FileHeldByAnotherProcessKeepsTheTopThroughTwelveWalks)
{
    EXPECT_EQ(HolderMode, 0);
    std::string top = Dir("tree-held") + "Solvarine\\";
    MakeFile(top + "DVQ32.EXE");
    MakeFile(top + "notes.txt");
    MakeReadOnlyFile(top + "readme.txt");
    MakeFile(top + "Data\\state.dat");
    THolder holder = HoldOpen(top + "DVQ32.EXE");
    ASSERT_FALSE(DeleteFileA((top + "DVQ32.EXE").c_str()));
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);

    long allocations = TreeAllocations(top);
    std::vector<std::string> left = ListTree(top);
    EXPECT_TRUE(Release(holder));
    // Walk 1 deletes the three other files and state.dat; walk 2 removes Data;
    // walks 3 to 12 each find ".", ".." and the held file, and the passes stop at
    // the limit.
    EXPECT_EQ(allocations, ForWalks({6 + 3, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(left, std::vector<std::string>{"DVQ32.EXE"});
    EXPECT_TRUE(DirExists(top));
}

// A chain of levels directories below top, with a file in the deepest.
std::string MakeChain(const std::string &top, int levels)
{
    std::string deepest = top;
    for (int level = 1; level <= levels; level++)
        deepest += "L" + std::to_string(level) + "\\";
    MakeFile(deepest + "deep.txt");
    return deepest;
}

TEST_F(TreeTest, ElevenLevelsGoWithTheTopAndDeeperChainsPartly)
{
    std::string parent = Dir("tree-chain");
    std::string top = parent + "Solvarine\\";
    MakeChain(top, 11);
    RemoveDirectoryTree(top.c_str());
    EXPECT_FALSE(DirExists(top));

    // Walk 2 removes L12 and walk 12 removes L2; L1 and the top stay.
    MakeChain(top, 12);
    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(top), std::vector<std::string>{"L1\\"});

    MakeChain(top, 14);
    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(top), (std::vector<std::string>{"L1\\", "L1\\L2\\", "L1\\L2\\L3\\"}));
}

TEST_F(TreeTest, NothingOutsideTheDirectoryIsTouched)
{
    std::string parent = Dir("tree-outside");
    std::string top = parent + "Solvarine\\";
    MakeFile(top + "DVQ32.EXE");
    MakeFile(top + "Help\\index.htm");
    MakeFile(parent + "Solvarine2\\DVQ32.EXE");
    MakeFile(parent + "Solvarine2\\Help\\index.htm");
    MakeFile(parent + "Solvarine.txt");
    MakeFile(parent + "Solvarine.ini");
    MakeDirs(parent + "Solvarine~1");
    MakeDirs(parent + "Empty");
    std::vector<std::string> before = Outside(parent);
    std::string current = Dir("tree-current");
    MakeFile(current + "DVQ32.EXE");
    MakeFile(current + "Help\\index.htm");
    MakeDirs(current + "Empty");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));

    RemoveDirectoryTree(top.c_str());

    EXPECT_FALSE(DirExists(top));
    EXPECT_EQ(ListTree(parent), before);
    EXPECT_EQ(ListTree(current), (std::vector<std::string>{"DVQ32.EXE", "Empty\\", "Help\\", "Help\\index.htm"}));
}

TEST_F(TreeTest, OnlyAbsoluteDirectoriesAreWalked)
{
    // The current directory holds a tree that each of these paths would reach
    // if it were taken relative to the current drive or directory.
    std::string current = Dir("tree-relative");
    MakeFile(current + "Solvarine\\DVQ32.EXE");
    MakeFile(current + "Solvarine\\Help\\index.htm");
    MakeFile(current + "DVQ32.EXE");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    std::vector<std::string> before = ListTree(current);
    const char *const directories[] = {
        "Solvarine\\",
        ".\\Solvarine\\",
        "C:Solvarine\\",
        "\\dvqtest\\tree-relative\\Solvarine\\",
        "\\\\localhost\\C$\\dvqtest\\tree-relative\\Solvarine\\",
        "\\\\?\\C:\\dvqtest\\tree-relative\\Solvarine\\",
        "C:\\dvqtest\\tree-relative\\Solvarine",  // its walk would match siblings
        "C:\\dvqtest\\tree-relative\\Solvarine\\Help\\..\\..\\",
        "C:\\dvqtest\\tree-relative\\.\\",
        "C:\\dvqtest\\tree-relative\\Solvarine\\...\\",
        "C:\\dvqtest\\tree-relative\\Solv*\\",
        "C:\\dvqtest\\\\tree-relative\\",
        "C:/dvqtest/tree-relative/Solvarine/",
        "Q:\\",  // a drive's root (an unmapped drive, so that nothing could be lost)
        "",
    };
    for (const char *directory : directories)
        EXPECT_EQ(TreeAllocations(directory), 0) << directory;

    const char *const clientPaths[] = {
        "DVQ32.EXE",
        "C:DVQ32.EXE",
        "Solvarine\\DVQ32.EXE",
        "C:Solvarine\\DVQ32.EXE",
        "\\dvqtest\\tree-relative\\Solvarine\\DVQ32.EXE",
        "\\\\localhost\\C$\\dvqtest\\tree-relative\\Solvarine\\DVQ32.EXE",
        "Q:\\DVQ32.EXE",
    };
    for (const char *path : clientPaths) {
        strcpy(clientPath, path);
        EXPECT_EQ(Allocations(RemoveInstallDirectory), 0) << path;
    }
    // A directory part longer than its 256-byte buffer is not cut to fit.
    std::string longPath = "C:\\dvqtest\\tree-relative\\" + std::string(240, 'x') + "\\DVQ32.EXE";
    strcpy(clientPath, longPath.c_str());
    EXPECT_EQ(Allocations(RemoveInstallDirectory), 0);
    ClientPath = NULL;
    EXPECT_EQ(Allocations(RemoveInstallDirectory), 0);

    EXPECT_EQ(ListTree(current), before);
}

TEST_F(TreeTest, ForceDeleteFileTakesLongPathsAndNothingRelative)
{
    std::string directory = Dir("tree-force");
    for (size_t length : {100, 126, 127, 128, 129, 200, 259}) {
        std::string path = directory + std::string(length - directory.size(), 'f');
        MakeReadOnlyFile(path);
        ASSERT_TRUE(FileExists(path)) << length;
        ForceDeleteFile(path.c_str());
        EXPECT_FALSE(FileExists(path)) << length;
    }

    // Relative names would be looked for along the search path: not even the
    // attributes of the file they reach are changed.
    MakeReadOnlyFile(directory + "keep.txt");
    DWORD attributes = GetFileAttributesA((directory + "keep.txt").c_str());
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str()));
    for (const char *path : {"keep.txt", "C:keep.txt", "\\dvqtest\\tree-force\\keep.txt", ".\\keep.txt"})
        ForceDeleteFile(path);
    EXPECT_EQ(GetFileAttributesA((directory + "keep.txt").c_str()), attributes);
}

TEST_F(TreeTest, FilesDeeperThan64_128And256CharactersGo)
{
    std::string top = Dir("tree-long") + "Solvarine\\";
    std::wstring wideTop = Wide(top);
    // Levels of 40-character names: directories of 71, 112, 153, 194 and 235
    // characters, and one of 256 with its backslash, as deep as the walker's
    // search path (the directory and "*.*") can be.
    std::vector<std::wstring> levels = {wideTop};
    MakeDirW(wideTop);
    for (int level = 1; level <= 5; level++) {
        levels.push_back(levels.back() + std::wstring(39, L'a' + level) + L"\\");
        MakeDirW(levels.back());
    }
    levels.push_back(levels.back() + std::wstring(256 - levels.back().size() - 1, L'z') + L"\\");
    MakeDirW(levels.back());
    ASSERT_EQ(levels.back().size(), 256u);
    // Read-only files whose full paths have these lengths, each in the deepest
    // directory that leaves room for its name.
    int files = 0;
    for (size_t length : {64, 65, 100, 127, 128, 129, 200, 255, 256, 257, 258, 259}) {
        for (size_t level = levels.size(); level-- > 0;)
            if (levels[level].size() < length) {
                MakeFileW(levels[level] + std::wstring(length - levels[level].size(), L'f'),
                          FILE_ATTRIBUTE_READONLY);
                files++;
                break;
            }
    }
    ASSERT_EQ(files, 12);
    RemoveDirectoryTree(top.c_str());
    EXPECT_FALSE(ExistsW(wideTop));
}

TEST_F(TreeTest, EntriesWhosePathsDoNotFitAreSkipped)
{
    std::string top = Dir("tree-fit") + "Solvarine\\";  // 31 characters
    InstallPathSize = 64;
    std::string fits = top + std::string(63 - top.size(), 'f');
    std::string tooLong = top + std::string(64 - top.size(), 'g');
    MakeFile(fits);
    MakeFile(tooLong);
    MakeFile(top + "Sub\\" + std::string(40, 'h'));
    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(top), (std::vector<std::string>{"Sub\\", "Sub\\" + std::string(40, 'h'),
                                                       tooLong.substr(top.size())}));

    // A top directory that does not fit its argument strings is not walked.
    InstallPathSize = (int)top.size();
    EXPECT_EQ(TreeAllocations(top), 3);
    EXPECT_EQ(ListTree(top).size(), 3u);
}

TEST_F(TreeTest, NamesOutsideTheCodePageGoByTheirShortNames)
{
    std::string parent = Dir("tree-script");
    std::wstring wideParent = Wide(parent);
    std::wstring top = wideParent + L"Solvarine\\";
    const std::wstring cyrillicFile = L"\x0424\x0430\x0439\x043B \x043F\x0440\x043E\x0433\x0440\x0430\x043C\x043C\x044B.txt";
    const std::wstring cyrillicDirectory = L"\x041A\x0430\x0442\x0430\x043B\x043E\x0433";
    const std::wstring cjkFile = L"\x8AAC\x660E\x66F8.txt";
    MakeDirW(top);
    MakeFileW(top + cyrillicFile, FILE_ATTRIBUTE_READONLY);
    MakeFileW(top + cjkFile);
    MakeDirW(top + cyrillicDirectory);
    MakeFileW(top + cyrillicDirectory + L"\\" + cjkFile);
    MakeFileW(top + cyrillicDirectory + L"\\plain.txt");
    // Names that the ANSI conversion turns, by best fit, into "..", "..\victim.txt"
    // and "x\..\..\victim": each must go by its short name, and the files they
    // seem to name, outside the tree, must stay.
    MakeFileW(top + L"\xFF0E\xFF0E");
    MakeFileW(top + L"\xFF0E\xFF0E\xFF3Cvictim.txt");
    MakeDirW(top + L"x\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3Cvictim");
    MakeFile(parent + "victim.txt");
    MakeFile(parent + "victim\\keep.txt");

    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((parent + "Solvarine\\*.txt").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    bool sawQuestionMark = false;
    do
        sawQuestionMark = sawQuestionMark || strchr(entry.cFileName, '?') != NULL;
    while (FindNextFileA(search, &entry));
    FindClose(search);
    ASSERT_TRUE(sawQuestionMark) << "the names must come back with \"?\" in the ANSI code page";

    RemoveDirectoryTree((parent + "Solvarine\\").c_str());
    EXPECT_FALSE(ExistsW(top));
    EXPECT_EQ(ListTree(parent), (std::vector<std::string>{"victim.txt", "victim\\", "victim\\keep.txt"}));
}

TEST_F(TreeTest, ProgramGroupGoesAndNothingElseInPrograms)
{
    std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\";
    std::string group = programs + "Solvarine\\";
    DeleteTree(group);
    DeleteTree(programs + "Solvarine2");
    std::vector<std::string> before = ListTree(programs);
    MakeFile(group + "Solvarine.lnk");
    MakeReadOnlyFile(group + "Un-install Solvarine.lnk");
    MakeFile(group + "Extras\\Read me.lnk");
    MakeFile(programs + "Solvarine2\\Solvarine.lnk");

    RemoveProgramGroup();
    EXPECT_FALSE(DirExists(group));
    EXPECT_TRUE(FileExists(programs + "Solvarine2\\Solvarine.lnk"));
    DeleteTree(programs + "Solvarine2");
    EXPECT_EQ(ListTree(programs), before);

    // Without a group, one walk finds nothing, and nothing else happens.
    EXPECT_EQ(Allocations(RemoveProgramGroup), 1 + ForWalks({0}));
    EXPECT_EQ(ListTree(programs), before);
}

TEST_F(TreeTest, InstallDirectoryIsTheClientsFolder)
{
    std::string parent = Dir("tree-install");
    std::string directory = parent + "Solvarine\\";
    strcpy(clientPath, (directory + "DVQ32.EXE").c_str());
    MakeFile(directory + "DVQ32.EXE");
    MakeReadOnlyFile(directory + "DVQ32.INI");
    MakeFile(directory + "Plugins\\NPDVQ32.DLL");
    MakeFile(parent + "Solvarine2\\DVQ32.EXE");
    MakeFile(parent + "DVQ32.EXE");
    RemoveInstallDirectory();
    EXPECT_FALSE(DirExists(directory));
    EXPECT_EQ(ListTree(parent), (std::vector<std::string>{"DVQ32.EXE", "Solvarine2\\", "Solvarine2\\DVQ32.EXE"}));
}

// Every allocation of a removal made to fail in turn: nothing stays held, nothing
// outside the tree changes, and the tree goes unless the failure was one of the
// first allocations (the argument strings or the first walk's stack block).
void CheckEveryAllocationFailure(TreeTest &test, const std::function<void()> &removal, const std::string &top,
                                 long untilFailAt, long expectedAllocations)
{
    std::string parent = top.substr(0, top.rfind('\\', top.size() - 2) + 1);
    std::string current = test.Dir("tree-failure-current");
    MakeFile(current + "DVQ32.EXE");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    const std::vector<std::string> tree = {"DVQ32.EXE", "Data\\", "Data\\state.dat"};
    std::vector<std::string> outside;
    auto setUp = [&] {
        MakeFile(top + "DVQ32.EXE");
        MakeFile(top + "Data\\state.dat");
        MakeFile(parent + "Solvarine2\\DVQ32.EXE");
        MakeFile(parent + "other.txt");
        outside = Outside(parent);
    };
    auto check = [&](long failAt) {
        if (failAt <= untilFailAt)
            EXPECT_EQ(ListTree(top), tree) << "allocation " << failAt;
        else
            EXPECT_FALSE(DirExists(top)) << "allocation " << failAt;
        EXPECT_EQ(Outside(parent), outside) << "allocation " << failAt;
        EXPECT_EQ(ListTree(current), std::vector<std::string>{"DVQ32.EXE"}) << "allocation " << failAt;
    };
    long allocations = ForEachAllocationFailure(setUp, removal, check);
    EXPECT_EQ(allocations, expectedAllocations);
}

TEST_F(TreeTest, EveryAllocationFailureLeavesNothingHeldOrTouched)
{
    // Walk 1 deletes both files, walk 2 removes Data, walk 3 finds the top empty.
    const long walks = ForWalks({4 + 3, 3, 2});
    std::string top = Dir("tree-failure") + "Solvarine\\";
    CheckEveryAllocationFailure(*this, [&] { RemoveDirectoryTree(top.c_str()); }, top, 4, walks);

    std::string installTop = Dir("tree-failure-install") + "Solvarine\\";
    strcpy(clientPath, (installTop + "DVQ32.EXE").c_str());
    CheckEveryAllocationFailure(*this, RemoveInstallDirectory, installTop, 4, walks);

    // The program group's path buffer comes first.
    std::string group = ShellFolder(CSIDL_PROGRAMS) + "\\Solvarine\\";
    DeleteTree(group);
    DeleteTree(ShellFolder(CSIDL_PROGRAMS) + "\\Solvarine2");
    CheckEveryAllocationFailure(*this, RemoveProgramGroup, group, 5, 1 + walks);
    DeleteTree(group);
    DeleteTree(ShellFolder(CSIDL_PROGRAMS) + "\\Solvarine2");
    DeleteFileA((ShellFolder(CSIDL_PROGRAMS) + "\\other.txt").c_str());
}

}  // namespace
