// The run's users: the account the process runs as and the account that owns
// the session's shell. Wine has one account, so a second user stands in through
// the seam: a profile folder of its own and a registry key standing for its hive.
// The run goes on inside this process, on a seeded machine.
#include "client/runuser.h"
#include "client/removalrecord.h"
#include "removal/removal.h"
#include "testtools/seed.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

const std::string Other = "C:\\dvqtest\\users\\Other\\";
const std::string OtherDesktop = Other + "Desktop\\", OtherPrograms = Other + "Start Menu\\Programs\\";
const char OtherHive[] = "Software\\dvqtest\\OtherUser";  // below HKEY_CURRENT_USER
const char DesktopSettings[] = "Software\\dvqtest\\OtherUser\\Control Panel\\Desktop";
const char OtherSuffixes[] = "Software\\dvqtest\\OtherUser\\Software\\Netscape\\Netscape Navigator\\Suffixes";
const char OtherClasses[] = "Software\\dvqtest\\OtherUser\\Software\\Classes\\";
// The running user's VirtualStore of HKEY_LOCAL_MACHINE\Software.
const std::string VirtualMachine = "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\";
const std::string VirtualUninstall = VirtualMachine + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void Copy(const std::string &from, WCHAR *to)
{
    MultiByteToWideChar(CP_ACP, 0, from.c_str(), -1, to, MAX_PATH);
}

bool OtherUser(TRunUser *user)
{
    Copy(OtherDesktop.substr(0, OtherDesktop.size() - 1), user->Desktop);
    Copy(OtherPrograms.substr(0, OtherPrograms.size() - 1), user->Programs);
    Copy(Other + "AppData\\Local", user->LocalAppData);
    user->OwnsRegistry = RegOpenKeyExA(HKEY_CURRENT_USER, OtherHive, 0, KEY_ALL_ACCESS, &user->Registry) == 0;
    return true;
}

std::string RegString(const char *key, const char *name)
{
    char value[1024] = "";
    DWORD size = sizeof value;
    return RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, NULL, value, &size) == ERROR_SUCCESS ? value
                                                                                                       : "(none)";
}

struct UsersTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        GetDesktopWindow();  // the screen-saver switch needs the display driver loaded
        SeedClean();
        std::string error;
        ASSERT_TRUE(SeedInstall(&error)) << error;
        FreshDir("users");
        MakeDirs(OtherDesktop);
        // The other user's items of the client, and its own neighbours.
        SaveShortcut(OtherDesktop + "Solvarine.lnk", SeedClientExe);
        SaveShortcut(OtherDesktop + "Notepad.lnk", WindowsDir() + "\\notepad.exe");
        MakeFile(OtherPrograms + "Solvarine\\Solvarine.lnk");
        MakeFile(OtherPrograms + "Solvarine2\\Solvarine2.lnk");
        DeleteRegTree(HKEY_CURRENT_USER, OtherHive);
        SetRegString(HKEY_CURRENT_USER, DesktopSettings, "SCRNSAVE.EXE", WindowsDir() + "\\KOVRAL32.SCR");
        SetRegString(HKEY_CURRENT_USER, DesktopSettings, "ScreenSaveActive", "1");
        SetRegString(HKEY_CURRENT_USER, DesktopSettings, "Wallpaper", "mine.bmp");
        SetRegString(HKEY_CURRENT_USER, OtherSuffixes, "application/x-dvq-connection", "wnq");
        SetRegString(HKEY_CURRENT_USER, OtherSuffixes, "text/plain", "txt");
        SetRegString(HKEY_CURRENT_USER, std::string(OtherClasses) + "Solvarine.Connection\\DefaultIcon", NULL, "x");
        SetRegString(HKEY_CURRENT_USER, std::string(OtherClasses) + "Other.Connection", NULL, "y");
        // What the client wrote to the machine's part of the registry unelevated.
        DeleteRegTree(HKEY_CURRENT_USER, "Software\\Classes\\VirtualStore");
        SetRegString(HKEY_CURRENT_USER, VirtualUninstall + "The Solvarine Network", "DisplayName", "Solvarine");
        SetRegString(HKEY_CURRENT_USER, VirtualUninstall + "Other Program", "DisplayName", "Other");
        SetRegString(HKEY_CURRENT_USER, VirtualMachine + "Classes\\Solvarine.Connection\\Shell\\Open", NULL, "z");
    }
    void TearDown() override
    {
        SecondRunUserForTests = NULL;
        DeleteRegTree(HKEY_CURRENT_USER, "Software\\dvqtest");
        DeleteRegTree(HKEY_CURRENT_USER, "Software\\Classes\\VirtualStore");
        DeleteTree("C:\\dvqtest\\users");
        SeedClean();
        CoUninitialize();
    }
};

TEST_F(UsersTest, BothUsersItemsGoAndTheNeighboursOfBothStay)
{
    SecondRunUserForTests = OtherUser;
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[2].text, Removed);
    // The account the process runs as: every client item of the seeded machine.
    for (const TInventoryItem &item : Inventory())
        EXPECT_EQ(item.present, !item.client) << FormatInventory({item});
    // The other user's.
    EXPECT_FALSE(FileExists(OtherDesktop + "Solvarine.lnk"));
    EXPECT_FALSE(DirExists(OtherPrograms + "Solvarine"));
    EXPECT_EQ(RegString(DesktopSettings, "SCRNSAVE.EXE"), "(none)");
    EXPECT_EQ(RegString(DesktopSettings, "ScreenSaveActive"), "0");
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, OtherSuffixes, "application/x-dvq-connection"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, std::string(OtherClasses) + "Solvarine.Connection"));
    EXPECT_TRUE(FileExists(OtherDesktop + "Notepad.lnk"));
    EXPECT_TRUE(FileExists(OtherPrograms + "Solvarine2\\Solvarine2.lnk"));
    EXPECT_EQ(RegString(DesktopSettings, "Wallpaper"), "mine.bmp");
    EXPECT_EQ(RegString(OtherSuffixes, "text/plain"), "txt");
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, std::string(OtherClasses) + "Other.Connection"));
    // The VirtualStore's copies of the client's machine keys, and not another's.
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, VirtualUninstall + "The Solvarine Network"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, VirtualMachine + "Classes\\Solvarine.Connection"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, VirtualUninstall + "Other Program"));
}

// Another program's screen saver of the other user stays, and so does its
// setting.
TEST_F(UsersTest, AnotherScreenSaverOfTheOtherUserStays)
{
    SetRegString(HKEY_CURRENT_USER, DesktopSettings, "SCRNSAVE.EXE", WindowsDir() + "\\ssmarque.scr");
    SecondRunUserForTests = OtherUser;
    ASSERT_EQ(RunUninstallHere({"Yes", "Yes", "OK"}).size(), 3u);
    EXPECT_EQ(RegString(DesktopSettings, "SCRNSAVE.EXE"), WindowsDir() + "\\ssmarque.scr");
    EXPECT_EQ(RegString(DesktopSettings, "ScreenSaveActive"), "1");
}

// A client that ran unelevated wrote to copies of WIN.INI and of its
// installation directory in the user's VirtualStore: the copy of WIN.INI, the
// only one to hold ExePath, finds the client, and the copies go with it.
TEST_F(UsersTest, TheClientFoundInTheVirtualStoreGoesWithItsCopies)
{
    const std::string store = ShellFolder(CSIDL_LOCAL_APPDATA) + "\\VirtualStore\\";
    const std::string winIni = store + WindowsDir().substr(3) + "\\win.ini";
    SetExePath(NULL);
    MakeFile(winIni, "[DVQ]\r\nExePath=" + std::string(SeedClientExe) + "\r\n[Other]\r\nKey=kept\r\n");
    MakeFile(store + "Program Files\\Solvarine\\Data\\USERS.DAT");
    MakeFile(store + "Program Files\\Solvarine2\\keep.dat");
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    EXPECT_NE(boxes[0].text.find(SeedClientExe), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[2].text, Removed);
    for (const TInventoryItem &item : Inventory())
        EXPECT_EQ(item.present, !item.client) << FormatInventory({item});
    EXPECT_FALSE(DirExists(store + "Program Files\\Solvarine"));
    EXPECT_TRUE(FileExists(store + "Program Files\\Solvarine2\\keep.dat"));
    char value[64] = "";
    GetPrivateProfileStringA("DVQ", "ExePath", "", value, sizeof value, winIni.c_str());
    EXPECT_STREQ(value, "");
    GetPrivateProfileStringA("Other", "Key", "", value, sizeof value, winIni.c_str());
    EXPECT_STREQ(value, "kept");
    DeleteTree(store);
}

// A user whose Desktop lies in the VirtualStore copy of the installation
// directory: the copy is refused as the directory itself would be, and nothing
// is removed.
bool UserWithDesktopInTheCopy(TRunUser *user)
{
    OtherUser(user);
    Copy(Other + "AppData\\Local\\VirtualStore\\Program Files\\Solvarine\\Desktop", user->Desktop);
    return true;
}

TEST_F(UsersTest, ACopyHoldingAUsersFolderIsRefused)
{
    MakeFile(Other + "AppData\\Local\\VirtualStore\\Program Files\\Solvarine\\Desktop\\mine.txt");
    std::vector<std::string> before = FullInventory();
    SecondRunUserForTests = UserWithDesktopInTheCopy;
    std::vector<TBox> boxes = RunUninstallHere({"OK"});
    ASSERT_EQ(boxes.size(), 1u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[0].text.rfind("Solvarine was found in the directory ", 0), 0u) << boxes[0].text;
    EXPECT_EQ(DiffInventories(before, FullInventory()), "");
    EXPECT_TRUE(FileExists(Other + "AppData\\Local\\VirtualStore\\Program Files\\Solvarine\\Desktop\\mine.txt"));
}

// The shell's owner found by its window: the account the process runs as is no
// second user, and without a shell the running account alone is handled. (Wine
// has one account and, without a desktop shell, no shell window: this program's
// own window stands in for one.)
TEST_F(UsersTest, TheShellsOwnerWhoIsTheRunningAccountIsNoSecondUser)
{
    HWND own = NULL;
    if (GetShellWindow() == NULL) {
        TRunUsers none;
        OpenRunUsers(&none);
        EXPECT_EQ(none.Count, 1);
        CloseRunUsers(&none);
        own = CreateWindowExA(0, "STATIC", "shell", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        typedef BOOL(WINAPI * TSetShellWindow)(HWND);
        TSetShellWindow setShellWindow =
            (TSetShellWindow)(void *)GetProcAddress(GetModuleHandleA("user32.dll"), "SetShellWindow");
        ASSERT_NE(setShellWindow, nullptr);
        ASSERT_TRUE(setShellWindow(own));
    }
    ASSERT_NE(GetShellWindow(), nullptr);
    TRunUsers users;
    OpenRunUsers(&users);
    EXPECT_EQ(users.Count, 1);
    EXPECT_EQ(users.Users[0].Token, nullptr);
    EXPECT_EQ(users.Users[0].Registry, HKEY_CURRENT_USER);
    char desktop[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, users.Users[0].Desktop, -1, desktop, sizeof desktop, NULL, NULL);
    EXPECT_EQ(std::string(desktop), ShellFolder(CSIDL_DESKTOPDIRECTORY));
    CloseRunUsers(&users);
    if (own != NULL)
        DestroyWindow(own);
}

// A shortcut that stayed on each user's desktop under the same name is two
// shortcuts: both are recorded, and the leftover step deletes both.
TEST_F(UsersTest, ShortcutsOfOneNameOnTwoDesktopsAreBothDeletedAgain)
{
    const std::string desktops[] = {ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\", OtherDesktop};
    OpenRemovalRecord();
    for (const std::string &desktop : desktops) {
        ASSERT_TRUE(FileExists(desktop + "Solvarine.lnk")) << desktop;
        HANDLE directory = CreateFileA(desktop.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, 7, NULL, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
        ASSERT_NE(directory, INVALID_HANDLE_VALUE) << desktop;
        EXPECT_TRUE(RecordFileTarget(TargetShortcut, directory, L"Solvarine.lnk", 13)) << desktop;
    }
    // The same desktop through another handle: recorded once.
    HANDLE again = CreateFileA(desktops[1].c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, 7, NULL, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, NULL);
    EXPECT_FALSE(RecordFileTarget(TargetShortcut, again, L"Solvarine.lnk", 13));
    CloseHandle(again);
    EXPECT_EQ(RemoveLeftovers(), NothingLeft);
    CloseRemovalRecord();
    for (const std::string &desktop : desktops)
        EXPECT_FALSE(FileExists(desktop + "Solvarine.lnk")) << desktop;
}

}  // namespace
