// Which client directories the run refuses to remove, with the test prefix's own
// system and shell folders.
#include "flow/protected.h"
#include "client/clientpath.h"
#include "removal/removal.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

struct ProtectedTest : ::testing::Test {
    void SetUp() override
    {
        InstallPathSize = 1020;
        WindowsPathSize = 1020;
        ResetScratchCounters(0);
    }
    void TearDown() override
    {
        EXPECT_EQ(ScratchCounters.Live, 0);
        InstallPathSize = 0;
        WindowsPathSize = 0;
    }
};

std::string ShortForm(const std::string &path)
{
    char shortPath[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    return shortPath;
}

std::string Lower(std::string text)
{
    CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

TEST_F(ProtectedTest, DriveRootsAreProtected)
{
    EXPECT_TRUE(IsProtectedDirectory("C:\\DVQ32.EXE"));
    EXPECT_TRUE(IsProtectedDirectory("Z:\\DVQ32.EXE"));
    EXPECT_TRUE(IsProtectedDirectory("C:\\"));
}

TEST_F(ProtectedTest, SystemAndShellFoldersAreProtectedInAnyCaseAndSpelling)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const std::string folders[] = {
        WindowsDir(), system, ShellFolder(CSIDL_PROGRAMS), ShellFolder(CSIDL_DESKTOPDIRECTORY),
        ShellFolder(CSIDL_STARTUP), ShellFolder(CSIDL_PROGRAM_FILES), ShellFolder(CSIDL_PERSONAL),
        ShellFolder(CSIDL_MYMUSIC), ShellFolder(CSIDL_FAVORITES), ShellFolder(CSIDL_COMMON_DOCUMENTS),
    };
    for (const std::string &folder : folders) {
        ASSERT_FALSE(folder.empty());
        EXPECT_TRUE(IsProtectedDirectory((folder + "\\DVQ32.EXE").c_str())) << folder;
        EXPECT_TRUE(IsProtectedDirectory((Lower(folder) + "\\DVQ32.EXE").c_str())) << folder;
        std::string shortForm = ShortForm(folder);
        EXPECT_TRUE(IsProtectedDirectory((shortForm + "\\DVQ32.EXE").c_str())) << shortForm;
    }
}

TEST_F(ProtectedTest, FoldersHoldingProtectedOnesAreProtected)
{
    std::string profile = ShellFolder(CSIDL_PROFILE);
    EXPECT_TRUE(IsProtectedDirectory((profile + "\\DVQ32.EXE").c_str()));
    std::string users = profile.substr(0, profile.rfind('\\'));
    EXPECT_TRUE(IsProtectedDirectory((users + "\\DVQ32.EXE").c_str())) << users;
    std::string programs = ShellFolder(CSIDL_PROGRAMS);
    std::string startMenu = programs.substr(0, programs.rfind('\\'));
    EXPECT_TRUE(IsProtectedDirectory((startMenu + "\\DVQ32.EXE").c_str())) << startMenu;
}

// Drive letters that lead into the profile and to C:, and links, made for one test.
struct TOtherNames {
    bool ready = true;
    std::string profile = ShellFolder(CSIDL_PROFILE);
    std::string root = FreshDir("othernames");
    TOtherNames()
    {
        for (char letter : {'S', 'W'})
            ready = ready && !(GetLogicalDrives() & (1u << (letter - 'A')));
        ready = ready && DefineWineDrive('S', UnixPath(profile + "\\")) && DefineWineDrive('W', UnixPath("C:\\"));
        MakeDirs(root + "plain\\");
        MakeDirs("C:\\Program Files\\Solvarine\\");
        MakeDirs(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Solvarine\\");
        ready = ready && Link(ShellFolder(CSIDL_PERSONAL), root + "documents") && Link(root + "plain", root + "plain-link");
    }
    ~TOtherNames()
    {
        DefineWineDrive('S', "");
        DefineWineDrive('W', "");
        RunUnix({"/bin/rm", "-rf", UnixPath(root)});
        RemoveDirectoryA((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Solvarine").c_str());
    }
    static bool Link(const std::string &target, const std::string &link)
    {
        return RunUnix({"/bin/ln", "-s", UnixPath(target), UnixPath(link)});
    }
};

// A protected folder is refused under every name that leads to it; an ordinary
// folder reached through an alias is not.
TEST_F(ProtectedTest, OtherNamesOfAProtectedFolderAreRefused)
{
    TOtherNames names;
    ASSERT_TRUE(names.ready) << "drives S: and W: must be free and links possible";
    std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY).substr(names.profile.size());  // "\\Desktop"
    std::string windows = WindowsDir().substr(2);
    const struct {
        std::string directory;
        bool isProtected;
    } cases[] = {
        {"S:" + desktop, true},                     // the Desktop by a drive into the profile
        {"W:" + windows, true},                     // the Windows directory by a drive to C:
        {"W:" + names.profile.substr(2, names.profile.rfind('\\') - 2), true},  // holds the profile
        {names.root + "documents", true},          // a link to Documents
        {names.root + "plain-link", true},         // a link at the top, whatever it leads to
        {"W:\\Program Files\\Solvarine", false},   // an ordinary installation through an alias
        {"S:" + desktop + "\\Solvarine", false},
        {names.root + "plain", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsProtectedDirectory((c.directory + "\\DVQ32.EXE").c_str()), c.isProtected) << c.directory;
}

// Other accounts' profiles, folders that are links, and client paths that name
// no client, made for one test and taken away after it:
//   C:\users\other           a profile of the profiles directory, with a
//                            per-user installation in AppData\Local\Programs
//   C:\users\other\Documents a link to C:\dvqtest\profiles\elsewhere\Documents
//   C:\users\Default         the profile that new accounts are copied from
//   C:\users\linked          a profile that is a link, to C:\dvqtest\profiles\moved\linked
//   C:\dvqtest\profiles\listed   a profile that only the machine's list names,
//                            by a path with an environment reference
//   the running account's Desktop, moved to C:\dvqtest\profiles\data\Desktop with
//                            a link to it in its place
//   T:                       a drive letter for the profiles directory, C:\users
struct TProfiles {
    const std::string users = "C:\\users\\", root = FreshDir("profiles");
    const std::string account = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-7-7-1777";
    bool ready = Remove() && Make();
    TLinkedFolder desktop{ShellFolder(CSIDL_DESKTOPDIRECTORY), root + "data\\Desktop"};
    bool Make()
    {
        for (const std::string &folder :
             {users + "other\\Desktop", users + "other\\Saved Games", users + "other\\AppData\\Roaming",
              users + "Default\\Desktop", root + "elsewhere\\Documents", root + "moved\\linked\\Desktop",
              root + "listed\\Documents", root + "data\\Solvarine", root + "apps\\Solvarine\\DVQ32.EXE"})
            MakeDirs(folder + "\\");
        for (const std::string &file : {users + "other\\AppData\\Local\\Programs\\Solvarine\\DVQ32.EXE",
                                        root + "apps\\Solvarine\\Other.exe", root + "apps\\Client\\dvq32.exe"})
            MakeFile(file);
        const char listed[] = "%SystemDrive%\\dvqtest\\profiles\\listed";
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, account.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != 0)
            return false;
        RegSetValueExA(key, "ProfileImagePath", 0, REG_EXPAND_SZ, (const BYTE *)listed, sizeof listed);
        RegCloseKey(key);
        return RunUnix({"/bin/ln", "-s", UnixPath(root + "elsewhere\\Documents"), UnixPath(users) + "/other/Documents"}) &&
               RunUnix({"/bin/ln", "-s", UnixPath(root + "moved\\linked"), UnixPath(users) + "/linked"}) &&
               !(GetLogicalDrives() & (1u << ('T' - 'A'))) && DefineWineDrive('T', UnixPath(users));
    }
    bool Remove() const
    {
        DefineWineDrive('T', "");
        DeleteRegTree(HKEY_LOCAL_MACHINE, account);
        for (const char *profile : {"other", "Default", "linked"})
            RunUnix({"/bin/rm", "-rf", UnixPath(users) + "/" + profile});
        return true;
    }
    ~TProfiles() { Remove(); }
};

// Every account's profile is protected with the folders at its top; a
// protected folder that is a link protects the folder it leads to and what is
// above that; a client path protects unless it names a file called DVQ32.EXE.
TEST_F(ProtectedTest, ProfilesLinksAndClientNamesByIdentity)
{
    TProfiles profiles;
    ASSERT_TRUE(profiles.ready && profiles.desktop.ready) << "links, the registry and the drive T: must be to be had";
    const std::string users = profiles.users, root = profiles.root;
    const struct {
        std::string clientPath;
        bool isProtected;
    } cases[] = {
        // Another account's profile, its folders, and where they are kept.
        {users + "other\\DVQ32.EXE", true},
        {users + "other\\Desktop\\DVQ32.EXE", true},
        {"c:\\USERS\\OTHER\\desktop\\dvq32.exe", true},
        {ShortForm(users + "other\\Saved Games") + "\\DVQ32.EXE", true},
        {users + "other\\AppData\\DVQ32.EXE", true},
        {users + "other\\AppData\\Local\\DVQ32.EXE", true},
        {users + "other\\AppData\\Roaming\\DVQ32.EXE", true},
        {users + "other\\OneDrive\\DVQ32.EXE", true},             // not there: by its spelling
        {"T:\\other\\Desktop\\DVQ32.EXE", true},                  // by a drive letter
        {users + "Default\\DVQ32.EXE", true},
        {users + "Default\\Desktop\\DVQ32.EXE", true},
        {users + "Public\\DVQ32.EXE", true},
        {root + "listed\\DVQ32.EXE", true},                       // named by the machine's list alone
        {root + "listed\\Documents\\DVQ32.EXE", true},
        {users + "other\\AppData\\Local\\Programs\\Solvarine\\DVQ32.EXE", false},  // a per-user installation
        {"T:\\other\\AppData\\Local\\Programs\\Solvarine\\DVQ32.EXE", false},
        {users + "other\\Desktop\\Solvarine\\DVQ32.EXE", false},
        // The running account's Desktop is a link: what it leads to, and above.
        {root + "data\\DVQ32.EXE", true},
        {root + "data\\Desktop\\DVQ32.EXE", true},
        {root + "data\\Solvarine\\DVQ32.EXE", false},
        // Another account's Documents is a link; a profile is a link.
        {root + "elsewhere\\DVQ32.EXE", true},
        {root + "elsewhere\\Documents\\DVQ32.EXE", true},
        {root + "moved\\DVQ32.EXE", true},
        {root + "moved\\linked\\Desktop\\DVQ32.EXE", true},
        {root + "moved\\Solvarine\\DVQ32.EXE", false},
        // Client paths that name no client.
        {root + "apps\\Solvarine", true},                        // a directory
        {root + "apps\\Solvarine\\DVQ32.EXE", true},             // a directory called DVQ32.EXE
        {root + "apps\\Solvarine\\Other.exe", true},             // another program's file
        {root + "apps\\Solvarine\\DVQ32.EXE.", true},
        {root + "apps\\Client\\dvq32.exe", false},
        {root + "apps\\Gone\\DVQ32.EXE", false},                 // not there
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsProtectedDirectory(c.clientPath.c_str()), c.isProtected) << c.clientPath;
}

// A directory that is not there is gone when a folder holds its place; when
// its volume cannot be reached, or a file is on its way, what is there is not
// known. Neither is refused.
TEST_F(ProtectedTest, MissingDirectoriesAreGoneOnlyWhereAFolderHoldsTheirPlace)
{
    char absent = 'Q';
    while (absent > 'D' && (GetLogicalDrives() & (1u << (absent - 'A'))))
        absent--;
    std::string gone = FreshDir("gone");
    MakeFile(gone + "File");
    MakeFile(gone + "There\\DVQ32.EXE");
    const struct {
        std::string clientPath;
        bool open, missing, unreachable;
    } cases[] = {
        {gone + "There\\DVQ32.EXE", true, false, false},
        {gone + "Nothing\\Deeper\\DVQ32.EXE", false, true, false},
        {std::string(1, absent) + ":\\Solvarine\\DVQ32.EXE", false, false, true},
        {gone + "File\\DVQ32.EXE", false, false, true},
        {gone + "File\\Solvarine\\DVQ32.EXE", false, false, true},
    };
    for (const auto &c : cases) {
        TApprovedDirectory approved = {INVALID_HANDLE_VALUE, true, true, 0, 0};
        EXPECT_FALSE(CheckInstallDirectory(c.clientPath.c_str(), &approved)) << c.clientPath;
        EXPECT_EQ(approved.Top != INVALID_HANDLE_VALUE, c.open) << c.clientPath;
        EXPECT_EQ(approved.Missing, c.missing) << c.clientPath;
        EXPECT_EQ(approved.Unreachable, c.unreachable) << c.clientPath;
        if (approved.Top != INVALID_HANDLE_VALUE)
            CloseHandle(approved.Top);
    }
    DeleteTree(gone);
}

// Run in a prefix whose ANSI code page is 932 (tests/CMakeLists.txt), where the
// second byte of a character can be a backslash's.
TEST_F(ProtectedTest, DoubleByteNamesAreReadByCharacters)
{
    if (GetACP() != 932) {
        ASSERT_EQ(GetEnvironmentVariableA("DVQ_EXPECT_ACP", NULL, 0), 0u) << "the prefix must use code page 932";
        GTEST_SKIP() << "needs the ANSI code page 932";
    }
    // U+8868 is 95 5C in code page 932.
    const WCHAR *names[] = {L"C:\\dvqtest\\\x8868", L"C:\\dvqtest\\\x8868" L"2"};
    std::string ansi[2];
    for (int i = 0; i < 2; i++) {
        char bytes[MAX_PATH];
        WideCharToMultiByte(CP_ACP, 0, names[i], -1, bytes, sizeof bytes, NULL, NULL);
        ansi[i] = bytes;
        MakeDirs(ansi[i] + "\\");
    }
    ASSERT_EQ(ansi[0].substr(ansi[0].size() - 2), "\x95\\");
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    TSavedRegValue saved(HKEY_CURRENT_USER, key, "Desktop");
    HKEY handle;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
    RegSetValueExW(handle, L"Desktop", 0, REG_SZ, (const BYTE *)names[0], (DWORD)(wcslen(names[0]) + 1) * 2);
    RegCloseKey(handle);
    ASSERT_EQ(ShellFolder(CSIDL_DESKTOPDIRECTORY), ansi[0]);

    EXPECT_TRUE(IsProtectedDirectory((ansi[0] + "\\DVQ32.EXE").c_str()));
    EXPECT_FALSE(IsProtectedDirectory((ansi[1] + "\\DVQ32.EXE").c_str()));
    // The like-named folder goes as a whole; the Desktop beside it stays.
    MakeFile(ansi[0] + "\\keep.txt");
    MakeFile(ansi[1] + "\\" + ansi[1].substr(11) + "\\DVQ32.EXE");
    RemoveDirectoryTree((ansi[1] + "\\").c_str());
    EXPECT_FALSE(DirExists(ansi[1]));
    EXPECT_TRUE(FileExists(ansi[0] + "\\keep.txt"));
    DeleteTree(ansi[0]);
}

TEST_F(ProtectedTest, SubdirectoriesOfProtectedFoldersAreNot)
{
    EXPECT_FALSE(IsProtectedDirectory((WindowsDir() + "\\Solvarine\\DVQ32.EXE").c_str()));
    EXPECT_FALSE(IsProtectedDirectory((ShellFolder(CSIDL_PROGRAM_FILES) + "\\Solvarine\\DVQ32.EXE").c_str()));
    EXPECT_FALSE(IsProtectedDirectory((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Solvarine\\DVQ32.EXE").c_str()));
    EXPECT_FALSE(IsProtectedDirectory("C:\\Solvarine\\DVQ32.EXE"));
    EXPECT_FALSE(IsProtectedDirectory("c:\\Some Where\\Deep Down\\dvq32.exe"));
}

TEST_F(ProtectedTest, PathsThatCouldActElsewhereAreRefused)
{
    const char *paths[] = {
        "DVQ32.EXE",                            // the current directory
        "C:DVQ32.EXE",                          // the current directory of C:
        "C:Solvarine\\DVQ32.EXE",
        "\\Solvarine\\DVQ32.EXE",               // the current drive
        "\\\\server\\share\\DVQ32.EXE",         // a network share
        "C:\\Solvarine\\..\\DVQ32.EXE",         // above the folder shown
        "C:\\windows\\system32\\..\\DVQ32.EXE",
        "C:\\Solvarine\\.\\DVQ32.EXE",
        "C:/Solvarine/DVQ32.EXE",               // forward slashes
        "C:\\Solvarine/Sub\\DVQ32.EXE",
        "C:\\windows \\DVQ32.EXE",              // trimmed by the platform to C:\windows
        "C:\\windows.\\DVQ32.EXE",
        "C:\\Solvarine\\\\DVQ32.EXE",           // an empty component
        "C:\\Solva*\\DVQ32.EXE",                // wildcards
        "C:\\Solva?ine\\DVQ32.EXE",
        "C:\\Solvarine:stream\\DVQ32.EXE",
        "",
    };
    for (const char *path : paths)
        EXPECT_TRUE(IsProtectedDirectory(path)) << path;
}

TEST_F(ProtectedTest, PathsTooLongForTheRemovalAreRefused)
{
    std::string fits = "C:\\" + std::string(200, 's') + "\\DVQ32.EXE";
    EXPECT_FALSE(IsProtectedDirectory(fits.c_str()));
    std::string tooLong = "C:\\" + std::string(150, 's') + "\\" + std::string(150, 't') + "\\DVQ32.EXE";
    EXPECT_TRUE(IsProtectedDirectory(tooLong.c_str()));
    // A value that filled its buffer when read may have been cut short anywhere.
    InstallPathSize = (int)fits.size() + 1;
    EXPECT_TRUE(IsProtectedDirectory(fits.c_str()));
}

TEST_F(ProtectedTest, AnUnresolvableShellFolderDoesNotEndTheCheck)
{
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    std::string saved = ShellFolder(CSIDL_PROGRAMS);
    char old[MAX_PATH] = "";
    DWORD size = sizeof old, type = 0;
    HKEY handle;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    bool hadValue = RegQueryValueExA(handle, "Programs", NULL, &type, (BYTE *)old, &size) == ERROR_SUCCESS;
    RegSetValueExA(handle, "Programs", 0, REG_SZ, (const BYTE *)"Q:\\nowhere\\Programs", 20);
    LPITEMIDLIST list = NULL;
    HRESULT located = SHGetSpecialFolderLocation(NULL, CSIDL_PROGRAMS, &list);
    if (list != NULL)
        CoTaskMemFree(list);
    bool desktopProtected = IsProtectedDirectory((ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\DVQ32.EXE").c_str());
    bool startupProtected = IsProtectedDirectory((ShellFolder(CSIDL_STARTUP) + "\\DVQ32.EXE").c_str());
    if (hadValue)
        RegSetValueExA(handle, "Programs", 0, type, (const BYTE *)old, size);
    else
        RegDeleteValueA(handle, "Programs");
    RegCloseKey(handle);
    EXPECT_NE(located, S_OK) << "the Programs folder was meant to be unresolvable";
    EXPECT_TRUE(desktopProtected);
    EXPECT_TRUE(startupProtected);
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAMS), saved);
}

TEST_F(ProtectedTest, FailedAllocationCountsAsProtected)
{
    std::string path = "C:\\Program Files\\Solvarine\\DVQ32.EXE";
    ResetScratchCounters(0);
    ASSERT_FALSE(IsProtectedDirectory(path.c_str()));
    long allocations = ScratchCounters.Allocations;
    ASSERT_GT(allocations, 0);
    for (long failAt = 1; failAt <= allocations; failAt++) {
        ResetScratchCounters(failAt);
        EXPECT_TRUE(IsProtectedDirectory(path.c_str())) << "allocation " << failAt;
        EXPECT_EQ(ScratchCounters.Live, 0) << "allocation " << failAt;
    }
    ResetScratchCounters(0);
}

}  // namespace
