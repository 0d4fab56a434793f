// The run of the real un-installer, with real message boxes answered by the box
// driver, a fake running client, and the run inside this process where icons and
// scratch memory can be checked.
#include "testtools/boxdriver.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {


std::string Confirm(const std::string &path)
{
    return "Are you sure you want to remove Solvarine (" + path + ")?";
}

std::string ConfirmDirectory(const std::string &directory)
{
    return "Removing Solvarine will delete the directory " + directory +
           " and all the files it contains.  Are you sure you want to continue?";
}

std::string Refused(const std::string &directory)
{
    return "Solvarine was found in the directory " + directory +
           "\nThe un-installer cannot remove this directory.  You will need to un-install Solvarine manually.";
}

struct UninstallTest : ::testing::Test {
    std::string install;   // C:\dvqtest\flow\Solvarine\ with the client's files
    std::string exePath;
    std::vector<std::string> installed;

    void SetUp() override
    {
        install = FreshDir("flow\\Solvarine");
        exePath = install + "DVQ32.EXE";
        MakeFile(exePath);
        MakeFile(install + "Data\\USERS.DAT");
        SetExePath(exePath.c_str());
        installed = ListTree(install);
    }
    void TearDown() override
    {
        SetExePath(NULL);
        DeleteTree("C:\\dvqtest\\flow");
    }

    long Run(TBoxScript &script)
    {
        return RunWithBoxes(UninstallerCommand(), script);
    }
    void ExpectUnchanged(const std::string &exePathValue)
    {
        EXPECT_EQ(ListTree(install), installed);
        EXPECT_EQ(GetExePath(), exePathValue);
    }
};

void ExpectBox(const TBox &box, const std::string &text, const char *buttons, const char *icon)
{
    EXPECT_EQ(box.caption, "Un-install Solvarine");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_EQ(box.icon, icon);
}

TEST_F(UninstallTest, NoClientIsOneBox)
{
    SetExePath(NULL);
    TBoxScript script{{"OK"}, {}};
    EXPECT_EQ(Run(script), 0);
    ASSERT_EQ(script.seen.size(), 1u) << DescribeBoxes(script.seen);
    ExpectBox(script.seen[0], NotFound, "OK", "none");
    EXPECT_EQ(ListTree(install), installed);
}

TEST_F(UninstallTest, EmptyOrMissingValueIsNoClient)
{
    for (int empty = 0; empty < 2; empty++) {
        if (empty)
            SetExePath("");
        else
            WriteProfileStringA("DVQ", NULL, NULL);
        TBoxScript script{{"OK"}, {}};
        EXPECT_EQ(Run(script), 0);
        ASSERT_EQ(script.seen.size(), 1u) << DescribeBoxes(script.seen);
        EXPECT_EQ(script.seen[0].text, NotFound);
    }
}

TEST_F(UninstallTest, RunningClientAnsweredNoChangesNothing)
{
    std::string client = StartFakeClient();
    TBoxScript script{{"No"}, {}};
    EXPECT_EQ(Run(script), 0);
    EXPECT_FALSE(FakeClientWasClosed(client));
    ASSERT_EQ(script.seen.size(), 1u) << DescribeBoxes(script.seen);
    ExpectBox(script.seen[0], Running, "Yes|No", "none");
    ExpectUnchanged(exePath);
}

TEST_F(UninstallTest, RunningClientAnsweredYesIsClosedAndTheRunGoesOn)
{
    std::string client = StartFakeClient();
    TBoxScript script{{"Yes", "No"}, {}};
    EXPECT_EQ(Run(script), 0);
    EXPECT_TRUE(FakeClientWasClosed(client));
    ASSERT_EQ(script.seen.size(), 2u) << DescribeBoxes(script.seen);
    EXPECT_EQ(script.seen[0].text, Running);
    EXPECT_EQ(script.seen[1].text, Confirm(exePath));
    ExpectUnchanged(exePath);
}

TEST_F(UninstallTest, ConfirmationsShowThePathAndNoChangesNothing)
{
    TBoxScript first{{"No"}, {}};
    EXPECT_EQ(Run(first), 0);
    ASSERT_EQ(first.seen.size(), 1u) << DescribeBoxes(first.seen);
    ExpectBox(first.seen[0], Confirm(exePath), "Yes|No", "shown");
    ExpectUnchanged(exePath);

    TBoxScript second{{"Yes", "No"}, {}};
    EXPECT_EQ(Run(second), 0);
    ASSERT_EQ(second.seen.size(), 2u) << DescribeBoxes(second.seen);
    ExpectBox(second.seen[1], ConfirmDirectory(install), "Yes|No", "shown");
    ExpectUnchanged(exePath);
}

TEST_F(UninstallTest, YesAndYesEndWithRemoved)
{
    TBoxScript script{{"Yes", "Yes", "OK"}, {}};
    EXPECT_EQ(Run(script), 0);
    ASSERT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
    ExpectBox(script.seen[2], Removed, "OK", "none");
}

TEST_F(UninstallTest, ProtectedAndMalformedPathsAreRefusedInFull)
{
    std::string longDirectory = "C:\\" + std::string(140, 'a') + "\\" + std::string(140, 'b') + "\\";
    std::string veryLong = "C:\\" + std::string(800, 'c') + "\\";
    struct { std::string exePath, shown; } cases[] = {
        {"C:\\DVQ32.EXE", "C:\\"},
        {WindowsDir() + "\\DVQ32.EXE", WindowsDir() + "\\"},
        {"DVQ32.EXE", ""},
        {"C:DVQ32.EXE", "C:"},
        {"\\Solvarine\\DVQ32.EXE", "\\Solvarine\\"},
        {install + "..\\DVQ32.EXE", install + "..\\"},
        {"C:/dvqtest/flow/Solvarine/DVQ32.EXE", "C:/dvqtest/flow/Solvarine/"},
        {longDirectory + "DVQ32.EXE", longDirectory},
        {veryLong + "DVQ32.EXE", veryLong},
        {install.substr(0, install.size() - 1), "C:\\dvqtest\\flow\\"},  // names a directory
        {install + "Data\\USERS.DAT", install + "Data\\"},                // another file
    };
    for (const auto &c : cases) {
        SetExePath(c.exePath.c_str());
        TBoxScript script{{"OK"}, {}};
        EXPECT_EQ(Run(script), 0);
        ASSERT_EQ(script.seen.size(), 1u) << c.exePath << "\n" << DescribeBoxes(script.seen);
        ExpectBox(script.seen[0], Refused(c.shown), "OK", "none");
        ExpectUnchanged(c.exePath);
    }
}

// Another account's profile and the Desktop moved elsewhere, a link in its
// place: the profile, its Desktop, the Default profile and the folder holding
// the Desktop's target are refused; a per-user installation in the profile and
// a folder beside the Desktop's target are removed, and the rest stays.
TEST_F(UninstallTest, OtherProfilesAndALinkedDesktopInAFullRun)
{
    const std::string other = "C:\\users\\other\\", data = "C:\\dvqtest\\flow\\Data\\";
    const std::string perUser = other + "AppData\\Local\\Programs\\Solvarine\\";
    for (const std::string &file : {other + "Desktop\\notes.txt", other + "AppData\\Local\\settings.ini",
                                    perUser + "DVQ32.EXE", data + "Solvarine\\DVQ32.EXE",
                                    std::string("C:\\users\\Default\\Desktop\\notes.txt")})
        MakeFile(file);
    TLinkedFolder desktop(ShellFolder(CSIDL_DESKTOPDIRECTORY), data + "Desktop");
    ASSERT_TRUE(desktop.ready);
    MakeFile(data + "Desktop\\notes.txt");
    const std::vector<std::string> desktopFiles = ListTree(data + "Desktop");
    const struct { std::string directory; bool removed; } cases[] = {
        {other, false}, {other + "Desktop\\", false}, {"C:\\users\\Default\\", false}, {data, false},
        {data + "Desktop\\", false}, {perUser, true}, {data + "Solvarine\\", true},
    };
    for (const auto &c : cases) {
        SetExePath((c.directory + "DVQ32.EXE").c_str());
        TBoxScript script{{"Yes", "Yes", "OK"}, {}};
        EXPECT_EQ(Run(script), 0);
        ASSERT_EQ(script.seen.size(), c.removed ? 3u : 1u) << c.directory << "\n" << DescribeBoxes(script.seen);
        ExpectBox(script.seen.back(), c.removed ? Removed : Refused(c.directory), "OK", "none");
        EXPECT_EQ(DirExists(c.directory), !c.removed) << c.directory;
    }
    EXPECT_EQ(ListTree(other), (std::vector<std::string>{"AppData\\", "AppData\\Local\\", "AppData\\Local\\Programs\\",
                                                          "AppData\\Local\\settings.ini", "Desktop\\",
                                                          "Desktop\\notes.txt"}));
    EXPECT_EQ(ListTree(data + "Desktop"), desktopFiles);
    EXPECT_TRUE(FileExists("C:\\users\\Default\\Desktop\\notes.txt"));
    RunUnix({"/bin/rm", "-rf", UnixPath(other), UnixPath("C:\\users\\Default\\")});
}

// Run by tests/no_display.sh with DISPLAY naming no X server and a fake client
// already started where boxes do appear: none of the un-installer's boxes can
// appear. The running-client question counts as Yes, each confirmation as No.
TEST_F(UninstallTest, BoxesThatCannotAppear)
{
    char log[MAX_PATH] = "";
    if (!GetEnvironmentVariableA("DVQ_FAKE_CLIENT_LOG", log, sizeof log))
        GTEST_SKIP() << "run by tests/no_display.sh";
    ASSERT_NE(FindWindowA("SolvarineMainWndClass", NULL), nullptr);
    TBoxScript script;
    EXPECT_EQ(Run(script), 0);
    EXPECT_TRUE(script.seen.empty()) << DescribeBoxes(script.seen);
    EXPECT_TRUE(FakeClientWasClosed(log));
    ExpectUnchanged(exePath);
}

TEST_F(UninstallTest, ConfirmationIcons)
{
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "No"});
    ASSERT_EQ(boxes.size(), 2u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[0].icon, "question");
    EXPECT_EQ(boxes[1].icon, "stop");
    ExpectUnchanged(exePath);
}

}  // namespace
