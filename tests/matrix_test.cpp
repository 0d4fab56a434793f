// The whole run on a seeded machine under faults and bad input: every scratch
// allocation of a full run made to fail in turn, and client paths, profile files
// and registry values that are missing, malformed or of the wrong type. After each
// run nothing may be lost that is not the client's.
#include "common/scratch.h"
#include "removal/removal.h"
#include "testtools/boxdriver.h"
#include "testtools/seed.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/testmain.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>
#include <functional>
#include <memory>

namespace {

const char *const RefusedStart = "Solvarine was found in the directory ";

struct MatrixTest : ::testing::Test {
    void SetUp() override
    {
        GetDesktopWindow();  // the screen-saver switch needs the display driver loaded
        SeedClean();
        std::string error;
        ASSERT_TRUE(SeedInstall(&error)) << error;
    }
    void TearDown() override { SeedClean(); }
};

// Fails unless every difference between the pictures lies in a client item.
void ExpectOnlyClientChanged(const std::vector<std::string> &before, const std::vector<std::string> &after,
                             const std::string &context)
{
    std::vector<TInventoryItem> items = Inventory();
    std::string diff = DiffInventories(before, after);
    size_t start = 0;
    while (start < diff.size()) {
        size_t end = diff.find('\n', start);
        std::string line = diff.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? diff.size() : end + 1;
        if (line.size() < 2)
            continue;
        std::string location = InventoryLocation(line.substr(2));
        // The switch of screen saving, which goes off with the client's active
        // screen saver, is kept in the registry too.
        bool client = location.find(": ScreenSaveActive") != std::string::npos;
        for (const TInventoryItem &item : items)
            client = client || (item.client && InventoryCovers(item, location));
        EXPECT_TRUE(client) << context << ": not the client's: " << line;
    }
}

// Every item of the client is gone, but for those named in kept.
void ExpectClientRemoved(const std::vector<std::string> &kept, const std::string &context)
{
    for (const TInventoryItem &item : Inventory()) {
        bool keep = false;
        for (const std::string &k : kept)
            keep = keep || item.location.find(k) != std::string::npos;
        if (item.client && !keep) {
            EXPECT_FALSE(item.present) << context << ": left " << item.location;
        }
    }
}

// The allocations of a full run are many; they are failed in DVQ_MATRIX_PARTS
// parts, each a test of its own that ctest runs beside the others: part k fails
// allocations k + 1, k + 1 + DVQ_MATRIX_PARTS, ... Every part counts them first.
struct MatrixAllocationTest : MatrixTest, ::testing::WithParamInterface<long> {
};

TEST_P(MatrixAllocationTest, EveryFailedAllocationOfAFullRunLosesNothingNotTheClients)
{
    std::vector<std::string> before = FullInventory();
    ResetScratchCounters(0);
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    long allocations = ScratchCounters.Allocations;
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    ASSERT_EQ(ScratchCounters.Live, 0);
    ASSERT_TRUE(ProcessHeapIntact());
    ExpectOnlyClientChanged(before, FullInventory(), "no failure");
    ExpectClientRemoved({}, "no failure");
    ASSERT_GT(allocations, 20);
    for (long failAt = GetParam() + 1; failAt <= allocations; failAt += DVQ_MATRIX_PARTS) {
        std::string context = "allocation " + std::to_string(failAt) + " of " + std::to_string(allocations);
        SeedClean();
        std::string error;
        ASSERT_TRUE(SeedInstall(&error)) << error;
        before = FullInventory();
        ResetScratchCounters(failAt);
        boxes = RunUninstallHere({"Yes", "Yes", "OK"});
        EXPECT_EQ(ScratchCounters.Live, 0) << context;
        ASSERT_TRUE(ProcessHeapIntact()) << context;
        ResetScratchCounters(0);
        ExpectOnlyClientChanged(before, FullInventory(), context);
        for (const TBox &box : boxes)
            EXPECT_EQ(box.answer.find("unscripted"), std::string::npos) << context << "\n" << DescribeBoxes(boxes);
        // The second is the buffer of the directory shown: without it nothing is
        // checked, and what is not checked is refused.
        if (failAt == 2) {
            EXPECT_EQ(boxes.at(0).text.compare(0, strlen(RefusedStart), RefusedStart), 0) << DescribeBoxes(boxes);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Part, MatrixAllocationTest, ::testing::Range(0L, (long)DVQ_MATRIX_PARTS));

// A profile file taken away for one case and put back after it.
struct TMissingFile {
    std::string path, content;
    explicit TMissingFile(const std::string &name) : path(WindowsDir() + "\\" + name), content(ReadWholeFile(path))
    {
        WritePrivateProfileStringA(NULL, NULL, NULL, path.c_str());  // let go of any cached copy
        DeleteFileA(path.c_str());
    }
    ~TMissingFile() { MakeFile(path, content); }
};

const char *const BrowserKey = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";

void SetBrowserValue(DWORD type, const std::string &bytes)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, BrowserKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), 0);
    RegSetValueExA(key, NULL, 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(key);
}

std::string Directory(const std::string &path)
{
    return path.substr(0, path.rfind('\\') + 1);
}

struct TBadInput {
    const char *name;
    std::function<void()> apply;   // spoils the seeded machine
    std::string firstBox;          // the start of the first box's text
    std::vector<std::string> kept; // client items the run cannot remove; "*" for all
    std::string lastBox = Removed; // without "*": the text of the last box
};

TEST_F(MatrixTest, BadInputLosesNothingNotTheClients)
{
    std::string client = SeedClientExe;
    std::string deep300 = "C:\\Program Files\\Solvarine\\" + std::string(280, 'd') + "\\DVQ32.EXE";
    std::string deep900 = "C:\\Program Files\\Solvarine\\" + std::string(880, 'd') + "\\DVQ32.EXE";
    std::string windows = WindowsDir() + "\\DVQ32.EXE";
    std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\DVQ32.EXE";
    std::string profile = ShellFolder(CSIDL_PROFILE) + "\\DVQ32.EXE";
    std::string refusedDeep = RefusedStart + Directory(deep900) + "\n";
    // Other names of protected folders: a drive letter into the profile, a link.
    std::string aliased = "S:" + desktop.substr(ShellFolder(CSIDL_PROFILE).size());
    std::string linked = "C:\\dvqtest\\apps\\DVQ32.EXE";
    // Another account's profile and the Default profile; the Desktop moved, a
    // link in its place; a drive letter that is not there.
    const std::string other = "C:\\users\\other\\", defaultProfile = "C:\\users\\Default\\";
    auto makeProfiles = [&] {
        for (const char *folder : {"Desktop\\", "Documents\\", "AppData\\Local\\"}) {
            MakeDirs(other + folder);
            MakeDirs(defaultProfile + folder);
        }
    };
    std::unique_ptr<TLinkedFolder> linkedDesktop;
    char absent = 'Q';
    while (absent > 'D' && (GetLogicalDrives() & (1u << (absent - 'A'))))
        absent--;
    std::string unreachable = std::string(1, absent) + ":\\Program Files\\Solvarine\\";
    auto undoNames = [&] {
        DefineWineDrive('S', "");
        RunUnix({"/bin/rm", "-f", UnixPath("C:\\dvqtest") + "/apps"});
        linkedDesktop.reset();
        RunUnix({"/bin/rm", "-rf", UnixPath(other), UnixPath(defaultProfile), UnixPath("C:\\dvqtest") + "/data"});
    };
    const TBadInput cases[] = {
        {"empty ExePath", [] { SetExePath(""); }, NotFound, {"*"}},
        {"relative ExePath", [] { SetExePath("DVQ32.EXE"); }, RefusedStart + std::string("\n"), {"*"}},
        {"drive root", [] { SetExePath("C:\\DVQ32.EXE"); }, RefusedStart + std::string("C:\\\n"), {"*"}},
        {"Windows directory", [&] { SetExePath(windows.c_str()); }, RefusedStart + Directory(windows), {"*"}},
        {"Desktop folder", [&] { SetExePath(desktop.c_str()); }, RefusedStart + Directory(desktop), {"*"}},
        {"user profile folder", [&] { SetExePath(profile.c_str()); }, RefusedStart + Directory(profile), {"*"}},
        {"300 characters", [&] { SetExePath(deep300.c_str()); }, RefusedStart + Directory(deep300), {"*"}},
        {"900 characters", [&] { SetExePath(deep900.c_str()); }, refusedDeep, {"*"}},
        {"trailing space in a directory",
         [] { SetExePath("C:\\Program Files \\Solvarine\\DVQ32.EXE"); }, RefusedStart, {"*"}},
        {"forward slashes", [] { SetExePath("C:/Program Files/Solvarine/DVQ32.EXE"); }, RefusedStart, {"*"}},
        {"trailing space after the name", [&] { SetExePath((client + " ").c_str()); },
         "Are you sure you want to remove Solvarine (" + client + ")?", {}},  // profile values lose it
        {"WIN.INI missing", [] {}, NotFound, {"*"}},
        {"SYSTEM.INI missing", [] {}, "Are you sure", {"screen saving"}},
        {"browser path a number", [] { SetBrowserValue(REG_DWORD, std::string("C:\\\0", 4)); }, "Are you sure",
         {"NPDVQ32.DLL"}},
        {"browser path too long", [] { SetBrowserValue(REG_SZ, "C:\\" + std::string(3000, 'p') + ".exe"); },
         "Are you sure", {"NPDVQ32.DLL"}},
        {"Desktop through a drive alias",
         [&] {
             DefineWineDrive('S', UnixPath(ShellFolder(CSIDL_PROFILE) + "\\"));
             SetExePath(aliased.c_str());
         },
         RefusedStart + Directory(aliased), {"*"}},
        {"installation directory a link to Documents",
         [&] {
             MakeDirs("C:\\dvqtest\\");
             RunUnix({"/bin/ln", "-s", UnixPath(ShellFolder(CSIDL_PERSONAL)), UnixPath("C:\\dvqtest") + "/apps"});
             SetExePath(linked.c_str());
         },
         RefusedStart + Directory(linked), {"*"}},
        {"browser path relative", [] { SetBrowserValue(REG_SZ, std::string("Program\\netscape.exe")); },
         "Are you sure", {"NPDVQ32.DLL"}},
        // Another program's extension stays, and does not count as left; what stays of
        // the client's keys does; links go themselves, never what they lead to.
        {".wnq naming another program", [] { SetRegString(HKEY_CLASSES_ROOT, ".wnq", NULL, "Other.Connection"); },
         "Are you sure", {"HKCR\\.wnq"}},
        {"document type deeper than the removal goes",
         [] {
             std::string key = "Solvarine.Connection\\DefaultIcon";
             for (int level = 1; level <= MaxKeyTreeDepth; level++)
                 SetRegString(HKEY_CLASSES_ROOT, key += "\\k", NULL, "deep");
         },
         "Are you sure", {"HKCR\\Solvarine.Connection"}, NotAllRemoved(SeedInstallDir)},
        {"user's document type a link to another program's",
         [] {
             std::string classes = "Software\\Classes\\";
             DeleteRegTree(HKEY_CURRENT_USER, classes + "Solvarine.Connection");
             MakeRegLink(HKEY_CURRENT_USER, classes + "Solvarine.Connection", classes + "Other.Connection");
         },
         "Are you sure", {}},
        {"uninstall entry a link to the sibling's",
         [] {
             std::string entries = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
             DeleteRegTree(HKEY_LOCAL_MACHINE, entries + "The Solvarine Network");
             MakeRegLink(HKEY_LOCAL_MACHINE, entries + "The Solvarine Network", entries + "Solvarine2");
         },
         "Are you sure", {}},
        {"another account's profile",
         [&] {
             makeProfiles();
             SetExePath((other + "DVQ32.EXE").c_str());
         },
         RefusedStart + other + "\n", {"*"}},
        {"another account's Desktop",
         [&] {
             makeProfiles();
             SetExePath((other + "Desktop\\DVQ32.EXE").c_str());
         },
         RefusedStart + other + "Desktop\\\n", {"*"}},
        {"the Default profile",
         [&] {
             makeProfiles();
             SetExePath((defaultProfile + "DVQ32.EXE").c_str());
         },
         RefusedStart + defaultProfile + "\n", {"*"}},
        {"the folder holding the Desktop, which is a link",
         [&] {
             MakeDirs("C:\\dvqtest\\data\\");
             linkedDesktop.reset(new TLinkedFolder(ShellFolder(CSIDL_DESKTOPDIRECTORY), "C:\\dvqtest\\data\\Desktop"));
             ASSERT_TRUE(linkedDesktop->ready);
             SetExePath("C:\\dvqtest\\data\\DVQ32.EXE");
         },
         RefusedStart + std::string("C:\\dvqtest\\data\\\n"), {"*"}},
        {"ExePath a directory", [] { SetExePath("C:\\Program Files\\Solvarine"); },
         RefusedStart + std::string("C:\\Program Files\\\n"), {"*"}},
        {"ExePath another program's file", [] { SetExePath("C:\\Program Files\\Solvarine2\\SOLVAR2.EXE"); },
         RefusedStart + std::string("C:\\Program Files\\Solvarine2\\\n"), {"*"}},
        {"ExePath on a drive that is not there", [&] { SetExePath((unreachable + "DVQ32.EXE").c_str()); },
         "Are you sure", {SeedInstallDir}, NotAllRemoved(unreachable)},
    };
    for (const TBadInput &c : cases) {
        SeedClean();
        std::string error;
        ASSERT_TRUE(SeedInstall(&error)) << error;
        std::unique_ptr<TMissingFile> missing;
        if (std::string(c.name) == "WIN.INI missing")
            missing.reset(new TMissingFile("win.ini"));
        if (std::string(c.name) == "SYSTEM.INI missing")
            missing.reset(new TMissingFile("system.ini"));
        c.apply();
        std::vector<std::string> before = FullInventory();
        TBoxScript script;
        script.answers = {"Yes", "Yes", "OK"};
        EXPECT_EQ(RunWithBoxes(UninstallerCommand(), script), 0) << c.name;
        std::vector<std::string> after = FullInventory();
        ASSERT_FALSE(script.seen.empty()) << c.name;
        EXPECT_EQ(script.seen[0].text.compare(0, c.firstBox.size(), c.firstBox), 0)
            << c.name << "\n" << DescribeBoxes(script.seen);
        if (!c.kept.empty() && c.kept[0] == "*") {
            EXPECT_EQ(script.seen.size(), 1u) << c.name << "\n" << DescribeBoxes(script.seen);
            EXPECT_EQ(DiffInventories(before, after), "") << c.name;
        } else {
            ASSERT_EQ(script.seen.size(), 3u) << c.name << "\n" << DescribeBoxes(script.seen);
            EXPECT_EQ(script.seen[2].text, c.lastBox) << c.name;
            ExpectOnlyClientChanged(before, after, c.name);
            ExpectClientRemoved(c.kept, c.name);
        }
        missing.reset();
        undoNames();
    }
}

}  // namespace
