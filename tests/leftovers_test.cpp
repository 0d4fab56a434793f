// What the removal could not delete: deleted once more or left for the restart,
// never anything outside what the run set out to delete, and the last box says
// which. The run goes on inside this process, where a handle opened without
// sharing holds a file as another program's would, and scheduling can be made to
// fail.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/scratch.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

const std::string Top = "C:\\dvqtest\\left\\";
const std::string Install = Top + "Solvarine\\";
const std::string Neighbour = Top + "Solvarine2\\KEEP.TXT";
const std::string Outside = Top + "Outside\\";

// How the restart's list names a path: in the kernel's form, a directory
// without its trailing backslash.
std::string Pending(const std::string &path)
{
    return "\\??\\" + (path.back() == '\\' ? path.substr(0, path.size() - 1) : path);
}

HANDLE Hold(const std::string &path, DWORD sharing = 0)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, sharing, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    return file;
}

// A directory link: under Wine a Unix one (Wine 8's CreateSymbolicLinkW reports
// success and makes nothing), which Wine lists as a reparse point.
bool MakeLink(const std::string &link, const std::string &target)
{
    std::string unixLink = UnixPath(link);
    if (unixLink.empty() || !RunUnix({"/bin/ln", "-s", UnixPath(target), unixLink}))
        return false;
    DWORD attributes = GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct LeftoversTest : ::testing::Test {
    void SetUp() override
    {
        ClearPendingDeletions();
        FreshDir("left");
        MakeFile(Install + "DVQ32.EXE");
        MakeFile(Install + "Data\\USERS.DAT");
        MakeFile(Install + "Data\\Cache\\1.TMP");
        MakeFile(Neighbour);
        MakeFile(Outside + "MINE.TXT");
        SetExePath((Install + "DVQ32.EXE").c_str());
    }
    void TearDown() override
    {
        RefuseRestartDeletion = 0;
        ResetScratchCounters(0);
        ClearPendingDeletions();
        SetExePath(NULL);
        // The links go first, by their Unix names, so that nothing is deleted through them.
        for (const std::string &link : {Install + "Linked", Top + "LinkedTop"})
            if (!UnixPath(link).empty())
                RunUnix({"/bin/rm", "-f", UnixPath(link)});
        DeleteTree(Top);
    }
};

TEST_F(LeftoversTest, TheLastBoxSaysWhatIsLeft)
{
    const std::string held = Install + "Data\\Cache\\1.TMP";
    const std::vector<std::string> heldTree = {"Data\\", "Data\\Cache\\", "Data\\Cache\\1.TMP"};
    const struct {
        const char *name;
        bool hold;
        LONG refuse;
        std::string box;
        std::vector<std::string> pending, left;
    } cases[] = {
        {"nothing in use", false, 0, Removed, {}, {}},
        {"a file in use", true, 0, RemovedAtRestart,
         {Pending(held), Pending(Install + "Data\\Cache\\"), Pending(Install + "Data\\"), Pending(Install)}, heldTree},
        {"a file in use, scheduling refused", true, 1, NotAllRemoved(Install), {}, heldTree},
    };
    for (const auto &c : cases) {
        SetUp();
        HANDLE file = c.hold ? Hold(held) : INVALID_HANDLE_VALUE;
        RefuseRestartDeletion = c.refuse;
        std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
        RefuseRestartDeletion = 0;
        ASSERT_EQ(boxes.size(), 3u) << c.name << "\n" << DescribeBoxes(boxes);
        EXPECT_EQ(boxes[2].text, c.box) << c.name;
        EXPECT_EQ(boxes[2].buttons, "OK") << c.name;
        EXPECT_EQ(PendingDeletions(), c.pending) << c.name;
        EXPECT_EQ(ListTree(Install), c.left) << c.name;
        EXPECT_TRUE(FileExists(Neighbour)) << c.name;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        TearDown();
    }
}

// A link inside the installation (the whole run), and a tree whose top is a link
// (the step alone: the run refuses such an installation before): what they lead
// to stays, nothing is scheduled, and the box says something is left.
TEST_F(LeftoversTest, LinksAreNeitherEnteredNorScheduled)
{
    if (!MakeLink(Install + "Linked", Outside) || !MakeLink(Top + "LinkedTop", Outside))
        GTEST_SKIP() << "the platform made no directory link";
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[2].text, NotAllRemoved(Install));
    // Only the link is left (this listing follows it).
    EXPECT_EQ(ListTree(Install), (std::vector<std::string>{"Linked\\", "Linked\\MINE.TXT"}));

    InstallPathSize = WindowsPathSize = 1020;
    OpenRemovalRecord();
    ASSERT_TRUE(RecordRemovalTarget(TargetProgramGroup, (Top + "LinkedTop\\").c_str()));
    EXPECT_EQ(RemoveLeftovers(), LeftBehind);
    CloseRemovalRecord();
    EXPECT_TRUE(FileExists(Outside + "MINE.TXT"));
    EXPECT_EQ(PendingDeletions(), std::vector<std::string>{});
}

// A client shortcut in use that the shortcut step stops at, listed before
// another one: the other one is reached at the end all the same. Every
// allocation of the two steps made to fail in turn leaves the user's shortcut.
TEST_F(LeftoversTest, ShortcutsBehindOneInUseAreReachedToo)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";
    const std::string names[] = {"Left A.lnk", "Left B.lnk"}, other = desktop + "Left other.lnk";
    InstallPathSize = WindowsPathSize = 1020;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string first, second;
    TLeftovers outcome = NothingLeft;
    auto cleanUp = [&] {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        DeleteFileA(first.c_str());
        DeleteFileA(second.c_str());
    };
    auto setUp = [&] {
        cleanUp();
        ClearPendingDeletions();
        for (const std::string &name : names)
            SaveShortcut(desktop + name, Install + "DVQ32.EXE");
        SaveShortcut(other, Neighbour);
        // Held open for reading, as a program showing it would: the one listed first.
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA((desktop + "Left ?.lnk").c_str(), &entry);
        ASSERT_NE(listing, INVALID_HANDLE_VALUE);
        first = desktop + entry.cFileName;
        FindClose(listing);
        second = desktop + (first == desktop + names[0] ? names[1] : names[0]);
        file = Hold(first, FILE_SHARE_READ);
    };
    auto action = [&] {
        OpenRemovalRecord();
        RemoveDesktopShortcuts();
        outcome = RemoveLeftovers();
        CloseRemovalRecord();
    };
    setUp();
    action();
    EXPECT_EQ(outcome, LeftForRestart);
    EXPECT_EQ(PendingDeletions(), std::vector<std::string>{Pending(first)});
    EXPECT_FALSE(FileExists(second));
    EXPECT_TRUE(FileExists(other));
    cleanUp();

    long allocations = ForEachAllocationFailure(setUp, action, [&](long failAt) {
        EXPECT_TRUE(FileExists(other)) << failAt;
        EXPECT_TRUE(FileExists(first)) << failAt;
        for (const std::string &pending : PendingDeletions())
            EXPECT_EQ(pending, Pending(first)) << failAt;
        cleanUp();
    });
    EXPECT_GT(allocations, 60);
    DeleteFileA(other.c_str());
    ClearPendingDeletions();
    CoUninitialize();
}

}  // namespace
