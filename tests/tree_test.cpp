// Removal of directory trees, of the Start-menu program group and of the
// installation directory, on real trees under C:\dvqtest\tree\ and in the prefix's
// Programs folder: by the steps, and by the real DVQRMV32.EXE, its boxes answered
// by the box driver.
#include "removal/removal.h"
#include "flow/protected.h"
#include "client/clientpath.h"
#include "common/scratch.h"
#include "testtools/boxdriver.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>
#include <algorithm>
#include <functional>

namespace {

typedef std::vector<std::string> TList;

// Paths in UTF-16 with the "\\?\" prefix, for names outside the ANSI code page and
// for trees at the length limit.
std::wstring Long(const std::string &ascii, const std::wstring &rest = L"")
{
    return L"\\\\?\\" + std::wstring(ascii.begin(), ascii.end()) + rest;
}

void MakeFileW(const std::wstring &longPath, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    HANDLE file = CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, attributes, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

void DeleteTreeW(const std::wstring &longPath)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((longPath + L"\\*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &entry)) {
        std::wstring full = longPath + L"\\" + entry.cFileName;
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DeleteTreeW(full);
        else
            DeleteFileW(full.c_str());
    }
    FindClose(search);
    RemoveDirectoryW(longPath.c_str());
}

// A fresh folder C:\dvqtest\tree\<name>\; the fixture removes C:\dvqtest\tree with
// the wide-character API, which reaches every name in it.
std::string Dir(const std::string &name)
{
    return FreshDir("tree\\" + name);
}

void MakeReadOnlyFile(const std::string &path, DWORD attributes = FILE_ATTRIBUTE_READONLY)
{
    MakeFile(path);
    SetFileAttributesA(path.c_str(), attributes);
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

// A removal of a folder "Solvarine\" in parent, and the allocations it makes
// before those of the tree.
struct TRemoval {
    std::function<void()> run;
    std::string parent;
    long before;
};

// The installation directory's removal as the run makes it: after the check
// approved it.
void RemoveApprovedInstallDirectory()
{
    if (!CheckInstallDirectory(ClientPath, &ApprovedDirectory))
        RemoveInstallDirectory();
    ReleaseApprovedDirectory();
}

struct TreeTest : ::testing::Test {
    int savedInstallPathSize = InstallPathSize, savedWindowsPathSize = WindowsPathSize;
    char *savedClientPath = ClientPath;
    char savedCurrent[MAX_PATH] = "";
    char clientPath[1020] = "";
    const std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\";

    void SetUp() override
    {
        InstallPathSize = WindowsPathSize = 1020;
        ClientPath = clientPath;
        GetCurrentDirectoryA(sizeof savedCurrent, savedCurrent);
        DeleteTreeW(Long("C:\\dvqtest\\tree"));
    }

    void TearDown() override
    {
        InstallPathSize = savedInstallPathSize;
        WindowsPathSize = savedWindowsPathSize;
        ClientPath = savedClientPath;
        SetCurrentDirectoryA(savedCurrent);
        ResetScratchCounters(0);
        DeleteTreeW(Long("C:\\dvqtest\\tree"));
        DeleteTree(programs + "Solvarine");
        DeleteTree(programs + "Solvarine2");
    }

    // The removal by directory, of the client's folder, and of the program group.
    std::vector<TRemoval> Removals()
    {
        std::string parent = Dir("removals");
        strcpy(clientPath, (parent + "Solvarine\\DVQ32.EXE").c_str());
        DeleteTree(programs + "Solvarine");
        return {{[parent] { RemoveDirectoryTree((parent + "Solvarine\\").c_str()); }, parent, 0},
                {RemoveApprovedInstallDirectory, parent, 0},
                {RemoveProgramGroup, programs, 1}};
    }
};

// One walk removes a tree of any depth, the top with it; the parent, left empty,
// stays.
TEST_F(TreeTest, TreesGoInOneWalkWhateverTheirDepth)
{
    std::string parent = Dir("levels");
    std::string top = parent + "Solvarine\\";
    MakeDirs(top);
    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(parent), TList());
    EXPECT_TRUE(DirExists(parent));
    MakeFile(top + "DVQ32.EXE");
    MakeDirs(top + "Extras");
    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(parent), TList());
    // Deeper than twelve levels, and deeper than the ANSI path limit.
    for (int levels : {11, 12, 60}) {
        std::string deepest = top;
        for (int level = 1; level <= levels; level++)
            deepest += "L" + std::to_string(level) + "\\";
        std::wstring wide(deepest.begin(), deepest.end());
        for (size_t i = 3; i < deepest.size(); i++)
            if (deepest[i] == '\\')
                CreateDirectoryW(Long(deepest.substr(0, i)).c_str(), NULL);
        MakeFileW(Long(deepest + "deep.txt"), FILE_ATTRIBUTE_READONLY);
        RemoveDirectoryTree(top.c_str());
        EXPECT_EQ(GetFileAttributesW(Long(top).c_str()), INVALID_FILE_ATTRIBUTES) << levels;
    }
}

TEST_F(TreeTest, FileHeldByAnotherProcessStaysAndEverythingElseGoes)
{
    std::string top = Dir("held") + "Solvarine\\";
    MakeFile(top + "DVQ32.EXE");
    MakeFile(top + "notes.txt");
    MakeReadOnlyFile(top + "readme.txt");
    MakeReadOnlyFile(top + "Data\\state.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // The other process: a suspended copy of this program that inherited a handle
    // to the file, opened with no sharing.
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    HANDLE file = CreateFileA((top + "DVQ32.EXE").c_str(), GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, NULL);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder = {};
    ASSERT_TRUE(CreateProcessA(self, NULL, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup, &holder));
    CloseHandle(file);
    BOOL deletable = DeleteFileA((top + "DVQ32.EXE").c_str());
    long allocations = TreeAllocations(top);
    TList left = ListTree(top);
    TerminateProcess(holder.hProcess, 0);
    WaitForSingleObject(holder.hProcess, 20000);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
    ASSERT_FALSE(deletable) << "the other process must hold the file";
    EXPECT_GT(allocations, 0);
    EXPECT_EQ(left, TList{"DVQ32.EXE"});
}

// Beside the tree a sibling whose name starts alike and a file named alike, and in
// the current directory the same names, all stay. Without a program group, one
// walk finds nothing.
TEST_F(TreeTest, NothingOutsideTheTreeIsTouched)
{
    std::string current = Dir("current");
    MakeFile(current + "DVQ32.EXE");
    MakeFile(current + "Help\\index.htm");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    for (const TRemoval &removal : Removals()) {
        MakeFile(removal.parent + "Solvarine2\\DVQ32.EXE");
        MakeFile(removal.parent + "Solvarine2.lnk");
        TList before = ListTree(removal.parent);
        MakeFile(removal.parent + "Solvarine\\DVQ32.EXE");
        MakeReadOnlyFile(removal.parent + "Solvarine\\DVQ32.INI", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
        MakeReadOnlyFile(removal.parent + "Solvarine\\Help\\index.htm");
        removal.run();
        EXPECT_EQ(ListTree(removal.parent), before) << removal.parent;
        EXPECT_EQ(ListTree(current), (TList{"DVQ32.EXE", "Help\\", "Help\\index.htm"}));
        DeleteFileA((removal.parent + "Solvarine2.lnk").c_str());
    }
    TList before = ListTree(programs);
    Allocations(RemoveProgramGroup);
    EXPECT_EQ(ListTree(programs), before);
}

// Each of these would reach a tree in the current directory if it were taken
// relative to the current drive or directory, or lead out of its folder.
TEST_F(TreeTest, OnlyAbsoluteDirectoriesAreWalked)
{
    std::string current = Dir("relative");
    MakeReadOnlyFile(current + "Solvarine\\DVQ32.EXE");
    MakeReadOnlyFile(current + "DVQ32.EXE");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    TList before = ListTree(current);
    const TList directories = {
        "Solvarine\\", "C:Solvarine\\", "\\dvqtest\\tree\\relative\\Solvarine\\",
        "\\\\?\\" + current + "Solvarine\\", "\\\\.\\" + current + "Solvarine\\",
        "C:/dvqtest/tree/relative/Solvarine/", current + "Solvarine\\..\\", current + "Solv*\\",
        current + "Solvarine",  // its walk would match siblings
        "Q:\\",                 // a drive's root (an unmapped drive, so that nothing could be lost)
    };
    for (const std::string &directory : directories)
        EXPECT_EQ(TreeAllocations(directory), 0) << directory;

    // The client's folder the same ways; one longer than the 256 bytes it may have
    // is not cut to fit.
    const TList clientPaths = {"DVQ32.EXE", "C:DVQ32.EXE", "\\dvqtest\\tree\\relative\\Solvarine\\DVQ32.EXE",
                               "\\\\localhost\\C$\\dvqtest\\tree\\relative\\Solvarine\\DVQ32.EXE",
                               current + std::string(240, 'x') + "\\DVQ32.EXE"};
    for (const std::string &path : clientPaths) {
        strcpy(clientPath, path.c_str());
        EXPECT_EQ(Allocations(RemoveInstallDirectory), 0) << path;
    }
    ClientPath = NULL;
    EXPECT_EQ(Allocations(RemoveInstallDirectory), 0);

    // A file by a relative name would be looked for along the search path: not
    // even its attributes change.
    for (const char *path : {"DVQ32.EXE", "C:DVQ32.EXE", "\\dvqtest\\tree\\relative\\DVQ32.EXE"})
        ForceDeleteFile(path);
    EXPECT_EQ(ListTree(current), before);
    EXPECT_TRUE(GetFileAttributesA("DVQ32.EXE") & FILE_ATTRIBUTE_READONLY);
}

// Read-only files whose paths run from 64 to 259 characters and beyond go: every
// entry is reached by its name alone, through its directory, whatever the
// length of its path.
TEST_F(TreeTest, LongPathsGo)
{
    std::string top = Dir("long") + "Solvarine\\";
    // Five levels of 40-character names, then one that makes the deepest directory
    // 256 characters long with its backslash.
    TList levels = {top};
    MakeDirs(top);
    while (levels.size() < 7) {
        size_t length = levels.size() < 6 ? 39 : 256 - levels.back().size() - 1;
        levels.push_back(levels.back() + std::string(length, (char)('a' + levels.size())) + "\\");
        CreateDirectoryW(Long(levels.back()).c_str(), NULL);
    }
    ASSERT_EQ(levels.back().size(), 256u);
    for (size_t length : {64, 65, 100, 127, 128, 129, 200, 255, 256, 257, 258, 259}) {
        size_t level = levels.size() - 1;
        while (levels[level].size() >= length)
            level--;
        MakeFileW(Long(levels[level] + std::string(length - levels[level].size(), 'f')), FILE_ATTRIBUTE_READONLY);
    }
    std::wstring deeper = Long(levels.back() + std::string(200, 'h'));
    CreateDirectoryW(deeper.c_str(), NULL);
    MakeFileW(deeper + L"\\" + std::wstring(200, L'f'), FILE_ATTRIBUTE_READONLY);
    RemoveDirectoryTree(top.c_str());
    EXPECT_FALSE(DirExists(top));
}

TEST_F(TreeTest, NamesOutsideTheCodePageGoByTheirShortNamesAndNeverLeadOut)
{
    std::string parent = Dir("script");
    std::string top = parent + "Solvarine\\";
    const std::wstring cyrillic = L"\x041A\x0430\x0442\x0430\x043B\x043E\x0433";
    const std::wstring cjk = L"\x8AAC\x660E\x66F8.txt";
    CreateDirectoryW(Long(top).c_str(), NULL);
    CreateDirectoryW(Long(top, cyrillic).c_str(), NULL);
    MakeFileW(Long(top, cyrillic + L"\\" + cjk), FILE_ATTRIBUTE_READONLY);
    // Names that the ANSI conversion turns, by best fit, into "..", "..\victim.txt"
    // and "x\..\..\victim": each must go by its short name, and the files they
    // seem to name, outside the tree, must stay.
    MakeFileW(Long(top, L"\xFF0E\xFF0E"));
    MakeFileW(Long(top, L"\xFF0E\xFF0E\xFF3Cvictim.txt"));
    CreateDirectoryW(Long(top, L"x\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3Cvictim").c_str(), NULL);
    MakeFile(parent + "victim.txt");
    MakeFile(parent + "victim\\keep.txt");
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, 0, (cyrillic + cjk).c_str(), -1, NULL, 0, NULL, &lost);
    ASSERT_TRUE(lost) << "the names must lie outside the ANSI code page";

    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(ListTree(parent), (TList{"victim.txt", "victim\\", "victim\\keep.txt"}));
    EXPECT_EQ(GetFileAttributesW(Long(top).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Entries that the listed ANSI names do not reach as they stand, and links: what
// can be reached goes, nothing outside the tree changes.
TEST_F(TreeTest, AwkwardEntriesGoAndNothingBeyondThemIsTouched)
{
    std::string parent = Dir("awkward");
    std::string top = parent + "Solvarine\\";
    MakeFile(top + "sub\\f.txt");
    // Names ending with a dot or a space, which the ANSI functions trim.
    MakeFileW(Long(top, L"dot."), FILE_ATTRIBUTE_READONLY);
    MakeFileW(Long(top, L"space "));
    CreateDirectoryW(Long(top, L"dir.").c_str(), NULL);
    MakeFileW(Long(top, L"dir.\\inside.txt"));
    // A read-only file with a second link outside: that one stays read-only.
    MakeReadOnlyFile(parent + "twin.txt");
    ASSERT_TRUE(CreateHardLinkA((top + "linked.txt").c_str(), (parent + "twin.txt").c_str(), NULL));
    // A directory that no Windows name reaches (a Unix name holding backslashes,
    // shown as such in both its names): passed over, the rest of the walk goes on.
    MakeFile(parent + "victim\\keep.txt");
    std::string unixTop = UnixPath(top);
    ASSERT_TRUE(RunUnix({"/bin/mkdir", "-p", unixTop + "/x\\..\\..\\victim"}));
    ASSERT_TRUE(RunUnix({"/bin/touch", unixTop + "/x\\..\\..\\victim/keep.txt"}));
    // A top that is a link to an ordinary folder is not walked.
    MakeFile(parent + "target\\keep.txt");
    ASSERT_TRUE(RunUnix({"/bin/ln", "-s", UnixPath(parent + "target"), UnixPath(parent) + "/linked-top"}));

    RemoveDirectoryTree(top.c_str());
    RemoveDirectoryTree((parent + "linked-top\\").c_str());
    EXPECT_EQ(ListTree(parent + "victim"), TList{"keep.txt"});
    EXPECT_EQ(ListTree(parent + "target"), TList{"keep.txt"});
    EXPECT_TRUE(GetFileAttributesA((parent + "twin.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(Long(top, L"*").c_str(), &entry);
    TList left;
    for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileW(listing, &entry))
        left.push_back(std::string(entry.cFileName, entry.cFileName + wcslen(entry.cFileName)));
    FindClose(listing);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (TList{".", "..", "x\\..\\..\\victim"}));
    RunUnix({"/bin/rm", "-rf", UnixPath(parent)});
}

// Names that the ANSI listing turns by best fit into the names of their
// siblings: the walker reports each file once, in the directory that really holds
// it, and the removal takes both.
TEST_F(TreeTest, LookAlikeNamesAreWalkedAndRemovedWhereTheyAre)
{
    std::string top = Dir("lookalike") + "Solvarine\\";
    MakeDirs(top);
    const struct {
        std::wstring name;
        std::string lookAlike, tag;
    } names[] = {{L"\x03A9" L"data", "Odata", "omega"}, {L"\x0131" L"data", "idata", "dotless"},
                 {L"\x0100" L"data", "Adata", "macron"}, {L"\x4E2D", "?", "cjk"}};
    TList expected;
    for (const auto &n : names) {
        char ansi[MAX_PATH] = "";
        WideCharToMultiByte(CP_ACP, 0, n.name.c_str(), -1, ansi, sizeof ansi, NULL, NULL);
        ASSERT_EQ(ansi, n.lookAlike) << "the ANSI code page must turn the name into its look-alike";
        CreateDirectoryW(Long(top, n.name).c_str(), NULL);
        MakeFileW(Long(top, n.name + L"\\real-" + std::wstring(n.tag.begin(), n.tag.end()) + L".txt"));
        expected.push_back("real-" + n.tag + ".txt");
        if (n.lookAlike != "?") {
            MakeFile(top + n.lookAlike + "\\look-" + n.tag + ".txt");
            expected.push_back("look-" + n.tag + ".txt");
        }
    }

    struct TSeen {
        TList names;
        bool allThere = true;
    } seen;
    auto collect = [](const char *directory, WIN32_FIND_DATAA *entry, void *data) {
        TSeen *seen = (TSeen *)data;
        seen->names.push_back(entry->cFileName);
        seen->allThere = seen->allThere && FileExists(std::string(directory) + entry->cFileName);
        return 1;
    };
    std::string start = top, pattern = "*.txt", program = "findfile";
    char *argv[] = {&program[0], &start[0], &pattern[0]};
    TFindFileResultBlock result = {0, 0, 0};
    ASSERT_EQ(FindFile(3, argv, &result, collect, &seen), 1);
    std::sort(seen.names.begin(), seen.names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen.names, expected);
    EXPECT_TRUE(seen.allThere);
    EXPECT_EQ(result.DirCount, 8);

    RemoveDirectoryTree(top.c_str());
    EXPECT_EQ(GetFileAttributesW(Long(top).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Every allocation of a removal made to fail in turn: nothing stays held, nothing
// outside the tree changes, and what the removal could not list stays whole.
TEST_F(TreeTest, EveryAllocationFailureLeavesNothingHeldOrTouched)
{
    std::string current = Dir("current");
    MakeFile(current + "DVQ32.EXE");
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    for (const TRemoval &removal : Removals()) {
        std::string top = removal.parent + "Solvarine\\";
        MakeFile(removal.parent + "Solvarine2\\DVQ32.EXE");
        const TList outside = ListTree(removal.parent);
        auto setUp = [&] {
            MakeFile(top + "DVQ32.EXE");
            MakeFile(top + "Data\\state.dat");
        };
        auto check = [&](long failAt) {
            TList left = ListTree(removal.parent);
            for (const std::string &entry : outside)
                EXPECT_NE(std::find(left.begin(), left.end(), entry), left.end()) << failAt << entry;
            // Data goes with its file or not at all.
            bool data = std::find(left.begin(), left.end(), "Solvarine\\Data\\") != left.end();
            bool state = std::find(left.begin(), left.end(), "Solvarine\\Data\\state.dat") != left.end();
            EXPECT_EQ(data, state) << failAt;
            EXPECT_EQ(ListTree(current), TList{"DVQ32.EXE"}) << failAt;
        };
        EXPECT_GT(ForEachAllocationFailure(setUp, removal.run, check), removal.before + 2);
    }
}

TEST_F(TreeTest, TheProgramRemovesTheInstallationAndTheProgramGroup)
{
    std::string parent = Dir("program");
    std::string install = parent + "Solvarine\\";
    for (const char *name : {"DVQ32.EXE", "DVQRMV32.EXE", "Plugins\\NPDVQ32.DLL", "Help\\Pictures\\logo.gif"})
        MakeFile(install + name);
    MakeReadOnlyFile(install + "DVQ32.INI");
    MakeFile(parent + "Solvarine2\\DVQ32.EXE");
    DeleteTree(programs + "Solvarine");
    TList programsBefore = ListTree(programs);
    MakeFile(programs + "Solvarine\\Solvarine.lnk");
    MakeFile(programs + "Solvarine\\Extras\\Read me.lnk");
    SetExePath((install + "DVQ32.EXE").c_str());

    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string exe = self;
    TBoxScript script({"Yes", "Yes", "OK"});
    EXPECT_EQ(RunWithBoxes("\"" + exe.substr(0, exe.rfind('\\') + 1) + "DVQRMV32.EXE\"", script), 0);
    SetExePath(NULL);
    ASSERT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
    EXPECT_EQ(script.seen.back().text, "Solvarine has been removed from this computer.");
    EXPECT_EQ(script.seen.back().buttons, "OK");
    EXPECT_EQ(ListTree(parent), (TList{"Solvarine2\\", "Solvarine2\\DVQ32.EXE"}));
    EXPECT_EQ(ListTree(programs), programsBefore);
}

}  // namespace
