// What the removal could not delete: deleted once more or left for the restart,
// never anything outside what the run set out to delete, and the last box says
// which. The run goes on inside this process, where a handle opened without
// sharing holds a file as another program's would.
#include "removal/removal.h"
#include "removal/restart.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/scratch.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <memory>

namespace {

const std::string Top = "C:\\dvqtest\\left\\", Install = Top + "Solvarine\\", Outside = Top + "Outside\\";
typedef std::vector<std::string> TList;

// How the restart's list names a path: a directory without its backslash.
std::string Pending(const std::string &path)
{
    return "\\??\\" + (path.back() == '\\' ? path.substr(0, path.size() - 1) : path);
}

struct LeftoversTest : ::testing::Test {
    void SetUp() override
    {
        ClearPendingDeletions();
        FreshDir("left");
        MakeFile(Install + "DVQ32.EXE");
        MakeFile(Install + "Data\\Cache\\1.TMP");
        MakeFile(Outside + "MINE.TXT");
        SetExePath((Install + "DVQ32.EXE").c_str());
        InstallPathSize = WindowsPathSize = 1020;
    }
    void TearDown() override
    {
        RefuseRestartDeletion = 0;
        ClearPendingDeletions();
        SetExePath(NULL);
        // Links go first, by their Unix names, so that nothing is deleted through them.
        for (const std::string &link : {Install + "Linked", Top + "LinkedTop"})
            RunUnix({"/bin/rm", "-f", UnixPath(link)});
        DeleteTree(Top);
    }
};

TEST_F(LeftoversTest, TheLastBoxSaysWhatIsLeft)
{
    const std::string held = Install + "Data\\Cache\\1.TMP";
    const TList heldTree = {"Data\\", "Data\\Cache\\", "Data\\Cache\\1.TMP"};
    const struct {
        bool hold;
        LONG refuse;
        std::string box;
        TList pending, left;
    } cases[] = {
        {false, 0, Removed, {}, {}},
        {true, 0, RemovedAtRestart,
         {Pending(held), Pending(Install + "Data\\Cache\\"), Pending(Install + "Data\\"), Pending(Install)}, heldTree},
        {true, 1, NotAllRemoved(Install), {}, heldTree},  // scheduling refused
    };
    for (const auto &c : cases) {
        SetUp();
        std::unique_ptr<THeldFile> file(c.hold ? new THeldFile(held, 0) : NULL);
        RefuseRestartDeletion = c.refuse;
        std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
        ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
        EXPECT_EQ(boxes[2].text, c.box);
        EXPECT_EQ(PendingDeletions(), c.pending) << c.box;
        EXPECT_EQ(ListTree(Install), c.left) << c.box;
        EXPECT_TRUE(FileExists(Outside + "MINE.TXT"));
        file.reset();
        TearDown();
    }
}

// What a restart would not delete is not promised: a file whose deletion is
// refused for another reason than use (here immutable: Wine says it went, and
// it stays), a read-only file in use whose other hard link shares its
// attribute, a file in use on a drive that may be elsewhere at the next start.
// A read-only directory goes at once.
TEST_F(LeftoversTest, OnlyWhatARestartRemovesIsPromised)
{
    const std::string data = Install + "Data\\", removable = "R:\\Solvarine\\";
    const struct {
        const char *what;
        std::string install;
        std::string box;
    } cases[] = {
        {"immutable", Install, NotAllRemoved(Install)},
        {"read-only twin in use", Install, NotAllRemoved(Install)},
        {"removable drive", removable, NotAllRemoved(removable)},
        {"network drive", removable, NotAllRemoved(removable)},
        {"read-only directory", Install, Removed},
    };
    for (const auto &c : cases) {
        SetUp();
        std::string what = c.what;
        std::string drive = FreshDir("left-drive");
        if (c.install == removable) {
            ASSERT_TRUE(DefineWineDrive('R', UnixPath(drive), what == "removable drive" ? DRIVE_REMOVABLE : DRIVE_REMOTE));
            MakeFile(removable + "DVQ32.EXE");
            MakeFile(removable + "Data\\USERS.DAT");
            SetExePath((removable + "DVQ32.EXE").c_str());
        }
        std::unique_ptr<THeldFile> held;
        if (what == "immutable") {
            ASSERT_TRUE(RunUnix({"/usr/bin/chattr", "+i", UnixPath(data + "Cache\\1.TMP")}));
        } else if (what == "read-only twin in use") {
            MakeFile(Outside + "TWIN.TMP");
            ASSERT_TRUE(CreateHardLinkA((data + "TWIN.TMP").c_str(), (Outside + "TWIN.TMP").c_str(), NULL));
            SetFileAttributesA((Outside + "TWIN.TMP").c_str(), FILE_ATTRIBUTE_READONLY);
            held.reset(new THeldFile(data + "TWIN.TMP", 0));
        } else if (what == "read-only directory") {
            ASSERT_TRUE(RunUnix({"/bin/chmod", "a-w", UnixPath(data + "Cache")}));
            ASSERT_TRUE(GetFileAttributesA((data + "Cache").c_str()) & FILE_ATTRIBUTE_READONLY);
        } else {
            held.reset(new THeldFile(removable + "Data\\USERS.DAT", 0));
        }
        std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
        held.reset();
        ASSERT_EQ(boxes.size(), 3u) << what << DescribeBoxes(boxes);
        EXPECT_EQ(boxes[2].text, c.box) << what;
        EXPECT_EQ(PendingDeletions(), TList{}) << what;
        EXPECT_TRUE(FileExists(Outside + "MINE.TXT"));
        if (what == "read-only twin in use") {
            EXPECT_TRUE(GetFileAttributesA((Outside + "TWIN.TMP").c_str()) & FILE_ATTRIBUTE_READONLY);
        }
        if (what == "immutable")
            RunUnix({"/usr/bin/chattr", "-i", UnixPath(data + "Cache\\1.TMP")});
        SetFileAttributesA((Outside + "TWIN.TMP").c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.install == removable) {
            DefineWineDrive('R', "");
            DeleteTree(drive);
        }
        TearDown();
    }
}

// A link inside the installation (the whole run), and a tree whose top is a link
// (the step alone: the run refuses such an installation before): what they lead
// to stays, nothing is scheduled, and something is left.
TEST_F(LeftoversTest, LinksAreNeitherEnteredNorScheduled)
{
    for (const std::string &link : {Install + "Linked", Top + "LinkedTop"})
        if (UnixPath(link).empty() || !RunUnix({"/bin/ln", "-s", UnixPath(Outside), UnixPath(link)}))
            GTEST_SKIP() << "no way to make a link here";
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[2].text, NotAllRemoved(Install));
    EXPECT_EQ(ListTree(Install), (TList{"Linked\\", "Linked\\MINE.TXT"}));  // the listing follows the link

    HANDLE top = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenTreeTop((Top + "LinkedTop\\").c_str(), &top), StatusAccessDenied);
    EXPECT_EQ(top, INVALID_HANDLE_VALUE);
    RemoveDirectoryTree((Top + "LinkedTop\\").c_str());
    EXPECT_TRUE(FileExists(Outside + "MINE.TXT"));
    EXPECT_EQ(PendingDeletions(), TList{});
}

// A client shortcut in use that the shortcut step stops at, listed before
// another one: the other one is reached at the end all the same. Every
// allocation of the two steps made to fail in turn leaves the user's shortcut.
TEST_F(LeftoversTest, ShortcutsBehindOneInUseAreReachedToo)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\", other = desktop + "Left other.lnk";
    std::string first, second;
    std::unique_ptr<THeldFile> file;
    TLeftovers outcome = NothingLeft;
    auto setUp = [&] {
        file.reset();
        ClearPendingDeletions();
        SaveShortcut(desktop + "Left A.lnk", Install + "DVQ32.EXE");
        SaveShortcut(desktop + "Left B.lnk", Install + "DVQ32.EXE");
        SaveShortcut(other, Outside + "MINE.TXT");
        WIN32_FIND_DATAA entry;  // held open for reading, as a program showing it would: the one listed first
        FindClose(FindFirstFileA((desktop + "Left ?.lnk").c_str(), &entry));
        first = desktop + entry.cFileName;
        second = desktop + (entry.cFileName[5] == 'A' ? "Left B.lnk" : "Left A.lnk");
        file.reset(new THeldFile(first, FILE_SHARE_READ));
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
    EXPECT_EQ(PendingDeletions(), TList{Pending(first)});
    EXPECT_FALSE(FileExists(second));
    EXPECT_GT(ForEachAllocationFailure(setUp, action, [&](long failAt) {
        EXPECT_TRUE(FileExists(other) && FileExists(first)) << failAt;
        for (const std::string &pending : PendingDeletions())
            EXPECT_EQ(pending, Pending(first)) << failAt;
    }), 60);
    file.reset();
    for (const std::string &path : {first, second, other})
        DeleteFileA(path.c_str());
    CoUninitialize();
}

}  // namespace
