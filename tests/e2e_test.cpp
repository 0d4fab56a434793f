// The real DVQRMV32.EXE on a machine where the client is installed in full, with
// other programs' things beside it: its boxes are answered by the box driver, and
// the machine's state is compared before and after.
#include "testtools/boxdriver.h"
#include "testtools/seed.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>

namespace {

const std::string Confirm = "Are you sure you want to remove Solvarine (C:\\Program Files\\Solvarine\\DVQ32.EXE)?";
const std::string ConfirmDirectory = "Removing Solvarine will delete the directory C:\\Program Files\\Solvarine\\ "
                                     "and all the files it contains.  Are you sure you want to continue?";
const char ScreenSavingSwitch[] = "HKCU\\Control Panel\\Desktop : ScreenSaveActive";

// The lines of a full inventory without those at the locations given.
std::vector<std::string> Without(const std::vector<std::string> &lines, const std::vector<std::string> &locations)
{
    std::vector<std::string> kept;
    for (const std::string &line : lines)
        if (std::find(locations.begin(), locations.end(), InventoryLocation(line)) == locations.end())
            kept.push_back(line);
    return kept;
}

// Each test seeds the test prefix and cleans it afterwards; cleaning removes what
// seeding made and switches screen saving off.
struct EndToEndTest : ::testing::Test {
    std::vector<std::string> before;

    void SetUp() override
    {
        // Under Wine the screen-saving switch is the display driver's once it is
        // loaded, and only the profile's before: load it first.
        GetDesktopWindow();
        SeedClean();
        ClearPendingDeletions();
        std::string error;
        ASSERT_TRUE(SeedInstall(&error)) << error;
        before = FullInventory();
    }

    void TearDown() override
    {
        // What a failed case left for the restart must not hit the next case's seeding.
        ClearPendingDeletions();
        SeedClean();
    }

    std::vector<TBox> Run(const std::vector<std::string> &answers, const std::string &screenshots = "")
    {
        TBoxScript script(answers, {}, screenshots);
        EXPECT_EQ(RunWithBoxes(UninstallerCommand(), script), 0);
        return script.seen;
    }
};

void ExpectBox(const TBox &box, const std::string &text, const char *buttons)
{
    EXPECT_EQ(box.caption, "Un-install Solvarine");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.buttons, buttons);
}

// Every client item is gone and nothing else changed: what went is exactly what
// the client's items cover, and screen saving was switched off.
void ExpectClientGoneAndNothingElse(const std::vector<std::string> &before)
{
    std::vector<TInventoryItem> items = Inventory();
    for (const TInventoryItem &item : items)
        EXPECT_EQ(item.present, !item.client) << FormatInventory({item});
    std::vector<std::string> after = FullInventory();
    std::vector<std::string> expected;
    for (const std::string &line : before) {
        bool client = false;
        for (const TInventoryItem &item : items)
            client = client || (item.client && InventoryCovers(item, InventoryLocation(line)));
        if (!client)
            expected.push_back(line);
    }
    const std::string switchedOff[] = {"setting\tscreen saving\toff",
                                       "value\t" + std::string(ScreenSavingSwitch) + "\tREG_SZ \"0\""};
    for (const std::string &line : switchedOff)
        EXPECT_NE(std::find(after.begin(), after.end(), line), after.end()) << DiffInventories(before, after);
    expected = Without(expected, {ScreenSavingSwitch});
    after = Without(after, {ScreenSavingSwitch, "screen saving"});
    EXPECT_EQ(DiffInventories(expected, after), "");
}

TEST_F(EndToEndTest, SeedingMakesEveryItemAndCleaningRemovesIt)
{
    std::vector<TInventoryItem> items = Inventory();
    size_t clients = 0, neighbours = 0;
    for (const TInventoryItem &item : items) {
        EXPECT_TRUE(item.present) << FormatInventory({item});
        (item.client ? clients : neighbours)++;
    }
    EXPECT_GE(clients, 40u);
    EXPECT_GE(neighbours, 30u);
    // The full inventory records each of them.
    for (const TInventoryItem &item : items) {
        bool recorded = false;
        for (const std::string &line : before)
            recorded = recorded || InventoryLocation(line) == item.location;
        EXPECT_TRUE(recorded) << FormatInventory({item});
    }

    // The names outside the ANSI code page really are: the ANSI listing shows "?".
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA("C:\\Program Files\\Solvarine\\Help\\*", &entry);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    bool unrepresentable = false;
    do
        unrepresentable = unrepresentable || strchr(entry.cFileName, '?') != NULL;
    while (FindNextFileA(listing, &entry));
    FindClose(listing);
    EXPECT_TRUE(unrepresentable);

    SeedClean();
    for (const TInventoryItem &item : Inventory())
        EXPECT_FALSE(item.present) << FormatInventory({item});
}

TEST_F(EndToEndTest, YesAndYesRemoveEveryClientItemAndLeaveEveryNeighbour)
{
    std::string screenshots = FreshDir("e2e-screenshots");
    std::vector<TBox> boxes = Run({"Yes", "Yes", "OK"}, screenshots);
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    ExpectBox(boxes[0], Confirm, "Yes|No");
    ExpectBox(boxes[1], ConfirmDirectory, "Yes|No");
    ExpectBox(boxes[2], Removed, "OK");
    ExpectClientGoneAndNothingElse(before);
    // Nothing was in use, so nothing waits for the restart.
    EXPECT_EQ(PendingDeletions(), std::vector<std::string>{});

    // Each box was saved as a picture of its own size before it was answered.
    for (int i = 1; i <= 3; i++) {
        std::string picture = ReadWholeFile(screenshots + "box" + std::to_string(i) + ".bmp");
        ASSERT_GT(picture.size(), 54u) << i;
        EXPECT_EQ(picture.substr(0, 2), "BM");
        const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)(picture.data() + 14);
        EXPECT_GT(header->biWidth, 100);
        EXPECT_GT(header->biHeight, 50);
    }
    DeleteTree(screenshots);
}

// A file of the installation, the plug-in and a desktop shortcut in use by another
// program (this one): they and the directories holding them in the installation
// wait for the restart, and go with it.
TEST_F(EndToEndTest, FilesInUseGoAtTheNextRestart)
{
    const std::string install = SeedInstallDir;
    const std::string data = install + "Data\\USERS.DAT";
    const std::string plugin = "C:\\Program Files\\Netscape\\Program\\Plugins\\NPDVQ32.DLL";
    const std::string shortcut = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Chat with Grandma.lnk";
    const std::vector<std::string> waiting = {plugin, shortcut, data, install + "Data\\", install};
    {
        // Held with no sharing; the shortcut as a program reading it would: one
        // that cannot be read cannot be told to lead to the client.
        THeldFile held[] = {{data, 0}, {plugin, 0}, {shortcut, FILE_SHARE_READ}};
        std::vector<TBox> boxes = Run({"Yes", "Yes", "OK"});
        ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
        ExpectBox(boxes[2], RemovedAtRestart, "OK");
        // Files before the directories holding them, the deepest first; nothing
        // outside the installation but the held files themselves.
        std::vector<std::string> expected;
        for (const std::string &path : waiting)
            expected.push_back("\\??\\" + (path.back() == '\\' ? path.substr(0, path.size() - 1) : path));
        EXPECT_EQ(PendingDeletions(), expected);
        // Until then only they are left.
        for (const TInventoryItem &item : Inventory()) {
            bool wait = std::find(waiting.begin(), waiting.end(), item.location) != waiting.end();
            EXPECT_EQ(item.present, !item.client || wait) << FormatInventory({item});
        }
    }
    RestartMachine();
    EXPECT_EQ(PendingDeletions(), std::vector<std::string>{});
    ExpectClientGoneAndNothingElse(before);
}

TEST_F(EndToEndTest, NoAtEitherConfirmationChangesNothing)
{
    std::vector<TBox> boxes = Run({"No"});
    ASSERT_EQ(boxes.size(), 1u) << DescribeBoxes(boxes);
    ExpectBox(boxes[0], Confirm, "Yes|No");
    EXPECT_EQ(DiffInventories(before, FullInventory()), "");

    boxes = Run({"Yes", "No"});
    ASSERT_EQ(boxes.size(), 2u) << DescribeBoxes(boxes);
    ExpectBox(boxes[1], ConfirmDirectory, "Yes|No");
    EXPECT_EQ(DiffInventories(before, FullInventory()), "");
}

TEST_F(EndToEndTest, NoToClosingTheRunningClientChangesNothing)
{
    std::string client = StartFakeClient();
    std::vector<TBox> boxes = Run({"No"});
    EXPECT_FALSE(FakeClientWasClosed(client));
    ASSERT_EQ(boxes.size(), 1u) << DescribeBoxes(boxes);
    ExpectBox(boxes[0], Running, "Yes|No");
    EXPECT_EQ(DiffInventories(before, FullInventory()), "");
}

TEST_F(EndToEndTest, YesToClosingTheRunningClientClosesItAndTheRemovalGoesOn)
{
    std::string client = StartFakeClient();
    std::vector<TBox> boxes = Run({"Yes", "Yes", "Yes", "OK"});
    EXPECT_TRUE(FakeClientWasClosed(client));
    ASSERT_EQ(boxes.size(), 4u) << DescribeBoxes(boxes);
    ExpectBox(boxes[0], Running, "Yes|No");
    ExpectBox(boxes[3], Removed, "OK");
    for (const TInventoryItem &item : Inventory())
        EXPECT_EQ(item.present, !item.client) << FormatInventory({item});
}

TEST_F(EndToEndTest, ASecondRunFindsNothingAndChangesNothing)
{
    ASSERT_EQ(Run({"Yes", "Yes", "OK"}).size(), 3u);
    std::vector<std::string> removed = FullInventory();
    std::vector<TBox> boxes = Run({"OK"});
    ASSERT_EQ(boxes.size(), 1u) << DescribeBoxes(boxes);
    ExpectBox(boxes[0], NotFound, "OK");
    EXPECT_EQ(DiffInventories(removed, FullInventory()), "");
}

}  // namespace
