// Desktop shortcut removal and shortcut resolution, with real shortcut files made
// by the shell-link object in the test prefix's Desktop folder.
//
// What Wine (8.0) does, and these tests rely on:
// - IShellLinkA::Resolve never searches for a moved target; it succeeds and the
//   path recorded in the shortcut stands, whether or not the file is still there.
// - IShellLinkA::GetPath ignores SLGP_SHORTPATH and gives the recorded long path;
//   given a buffer too small it copies what fits with no terminator.
// - IPersistFile::Load of a file that is not a shortcut fails (E_FAIL).
// - A file held open without FILE_SHARE_DELETE cannot be deleted (sharing
//   violation), while the shell can still read it.
// - A listed name the ANSI code page cannot hold comes back with "?" in it, and
//   the file has a made-up short name by which it can be opened and deleted.
#include "removal/removal.h"
#include "flow/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char ClientExe[] = "C:\\dvqtest\\lnk\\Solvarine\\DVQ32.EXE";
const char OtherExe[] = "C:\\dvqtest\\lnk\\Other\\NOTEPAD.EXE";
// RemoveDesktopShortcuts takes five buffers; every resolution takes three more.
const long OwnAllocations = 5;
const long ResolveAllocations = 3;

std::string Desktop()
{
    return ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";
}

std::wstring Widen(const std::string &text)
{
    WCHAR wide[MAX_PATH * 2];
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH * 2);
    return wide;
}

// Saves a shortcut to target at the (wide) path link.
void MakeShortcutW(const std::wstring &link, const std::string &target)
{
    IShellLinkA *shellLink = NULL;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&shellLink),
              S_OK);
    IPersistFile *file = NULL;
    HRESULT set = shellLink->SetPath(target.c_str());
    HRESULT saved = shellLink->QueryInterface(IID_IPersistFile, (void **)&file);
    if (SUCCEEDED(saved)) {
        saved = file->Save(link.c_str(), TRUE);
        file->Release();
    }
    shellLink->Release();
    EXPECT_TRUE(SUCCEEDED(set)) << target;
    ASSERT_EQ(saved, S_OK);
}

void MakeShortcut(const std::string &link, const std::string &target)
{
    MakeDirs(link.substr(0, link.rfind('\\')));
    MakeShortcutW(Widen(link), target);
    ASSERT_TRUE(FileExists(link)) << link;
}

std::vector<std::string> DesktopShortcuts()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((Desktop() + "*.lnk").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(entry.cFileName);
    while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return names;
}

void ClearDesktop()
{
    WIN32_FIND_DATAW entry;
    std::wstring desktop = Widen(Desktop());
    HANDLE listing = FindFirstFileW((desktop + L"*.lnk").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring path = desktop + entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

long RunCounted()
{
    ResetScratchCounters(0);
    RemoveDesktopShortcuts();
    EXPECT_EQ(ScratchCounters.Live, 0);
    return ScratchCounters.Allocations;
}

struct DesktopShortcutsTest : ::testing::Test {
    int savedInstallSize = 0, savedWindowsSize = 0;
    char *savedClientPath = NULL;
    char clientPath[1020];
    std::vector<std::string> extraPaths;  // shortcuts and folders made away from the desktop

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        savedInstallSize = InstallPathSize;
        savedWindowsSize = WindowsPathSize;
        savedClientPath = ClientPath;
        InstallPathSize = WindowsPathSize = 1020;
        strcpy(clientPath, ClientExe);
        ClientPath = clientPath;
        ClearDesktop();
        FreshDir("lnk");
        MakeFile(ClientExe);
        MakeFile(OtherExe);
    }

    void TearDown() override
    {
        ResetScratchCounters(0);
        ClearDesktop();
        for (size_t i = 0; i < extraPaths.size(); i++)
            if (!DeleteFileA(extraPaths[i].c_str()))
                DeleteTree(extraPaths[i]);
        DeleteTree("C:\\dvqtest\\lnk");
        InstallPathSize = savedInstallSize;
        WindowsPathSize = savedWindowsSize;
        ClientPath = savedClientPath;
        CoUninitialize();
    }
};

TEST_F(DesktopShortcutsTest, DesktopIsTheShellsDesktop)
{
    char path[MAX_PATH] = "";
    LPITEMIDLIST list = NULL;
    ASSERT_EQ(SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOP, &list), S_OK);
    ASSERT_TRUE(SHGetPathFromIDListA(list, path));
    CoTaskMemFree(list);
    EXPECT_EQ(std::string(path) + "\\", Desktop());
}

TEST_F(DesktopShortcutsTest, NoClientShortcutMeansOnePassAndNothingDeleted)
{
    EXPECT_EQ(RunCounted(), OwnAllocations);

    MakeShortcut(Desktop() + "Notepad.lnk", OtherExe);
    MakeFile(Desktop() + "notes.txt");
    EXPECT_EQ(RunCounted(), OwnAllocations + ResolveAllocations);
    EXPECT_TRUE(FileExists(Desktop() + "Notepad.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "notes.txt"));
    DeleteFileA((Desktop() + "notes.txt").c_str());
}

TEST_F(DesktopShortcutsTest, ClientShortcutsGoWhateverTheirNames)
{
    MakeFile("C:\\dvqtest\\lnk\\Second Copy\\dvq32.exe");
    MakeShortcut(Desktop() + "Solvarine.lnk", ClientExe);
    MakeShortcut(Desktop() + "My own chat thing.lnk", ClientExe);
    MakeShortcut(Desktop() + "Lower.lnk", "C:\\dvqtest\\lnk\\Second Copy\\dvq32.exe");
    MakeShortcut(Desktop() + "Notepad.lnk", OtherExe);
    SetFileAttributesA((Desktop() + "Solvarine.lnk").c_str(), FILE_ATTRIBUTE_READONLY);

    std::vector<std::string> order = DesktopShortcuts();
    ASSERT_EQ(order.size(), 4u);
    long clientsAfterOther = 0;
    for (size_t i = order.size(); order[i - 1] != "Notepad.lnk"; i--)
        clientsAfterOther++;

    long allocations = RunCounted();
    EXPECT_EQ(DesktopShortcuts(), std::vector<std::string>{"Notepad.lnk"});
    // Three passes delete one each, listing from the start up to it (the other
    // program's shortcut too, when it comes first); a fourth finds nothing.
    EXPECT_EQ(allocations, OwnAllocations + (3 + clientsAfterOther + 1) * ResolveAllocations);
    EXPECT_TRUE(FileExists(ClientExe));
}

TEST_F(DesktopShortcutsTest, OnlyTheTargetsNameCountsAndOnlyOnTheDesktop)
{
    std::string startup = ShellFolder(CSIDL_STARTUP) + "\\";
    std::string commonDesktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\";
    MakeShortcut(Desktop() + "Unrelated.lnk", "C:\\dvqtest\\lnk\\Some\\Where\\Else\\DVQ32.EXE");
    MakeShortcut(Desktop() + "Near miss.lnk", "C:\\dvqtest\\lnk\\Solvarine\\DVQ32.EXE.bak");
    MakeShortcut(Desktop() + "Other name.lnk", "C:\\dvqtest\\lnk\\Solvarine\\DVQ32A.EXE");
    MakeShortcut(Desktop() + "Sub folder\\Solvarine.lnk", ClientExe);
    MakeShortcut(Desktop() + "Folder.lnk\\Solvarine.lnk", ClientExe);
    MakeShortcut(startup + "DVQ test Solvarine.lnk", ClientExe);
    MakeShortcut(commonDesktop + "DVQ test Solvarine.lnk", ClientExe);
    MakeShortcut("C:\\dvqtest\\lnk\\Elsewhere\\Solvarine.lnk", ClientExe);
    extraPaths = {Desktop() + "Sub folder", Desktop() + "Folder.lnk", startup + "DVQ test Solvarine.lnk",
                  commonDesktop + "DVQ test Solvarine.lnk"};

    RemoveDesktopShortcuts();
    EXPECT_FALSE(FileExists(Desktop() + "Unrelated.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Near miss.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Other name.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Sub folder\\Solvarine.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Folder.lnk\\Solvarine.lnk"));
    EXPECT_TRUE(FileExists(startup + "DVQ test Solvarine.lnk"));
    EXPECT_TRUE(FileExists(commonDesktop + "DVQ test Solvarine.lnk"));
    EXPECT_TRUE(FileExists("C:\\dvqtest\\lnk\\Elsewhere\\Solvarine.lnk"));
}

// Wine does not look for a moved target: the recorded path decides.
TEST_F(DesktopShortcutsTest, MovedTargetIsJudgedByItsRecordedPath)
{
    MakeFile("C:\\dvqtest\\lnk\\Old Place\\DVQ32.EXE");
    MakeFile("C:\\dvqtest\\lnk\\Chat\\Chat.exe");
    MakeShortcut(Desktop() + "Moved client.lnk", "C:\\dvqtest\\lnk\\Old Place\\DVQ32.EXE");
    MakeShortcut(Desktop() + "Renamed chat.lnk", "C:\\dvqtest\\lnk\\Chat\\Chat.exe");
    MakeDirs("C:\\dvqtest\\lnk\\New Place");
    ASSERT_TRUE(MoveFileA("C:\\dvqtest\\lnk\\Old Place\\DVQ32.EXE", "C:\\dvqtest\\lnk\\New Place\\DVQ32.EXE"));
    ASSERT_TRUE(MoveFileA("C:\\dvqtest\\lnk\\Chat\\Chat.exe", "C:\\dvqtest\\lnk\\Chat\\DVQ32.EXE"));

    // The file is gone, so its path cannot be shortened: it comes back as recorded.
    char target[1020] = "junk";
    EXPECT_EQ(ResolveShortcut(NULL, (Desktop() + "Moved client.lnk").c_str(), target), S_OK);
    EXPECT_STREQ(target, "C:\\dvqtest\\lnk\\Old Place\\DVQ32.EXE");

    RemoveDesktopShortcuts();
    EXPECT_FALSE(FileExists(Desktop() + "Moved client.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Renamed chat.lnk"));
}

TEST_F(DesktopShortcutsTest, FilesThatAreNotShortcutsAreLeftAlone)
{
    std::string garbage(300, '\0');
    for (size_t i = 0; i < garbage.size(); i++)
        garbage[i] = (char)(i * 37 + 11);
    garbage.replace(0, 4, "L\0\0\0", 4);  // a shortcut's first field, then nonsense
    MakeFile(Desktop() + "Garbage.lnk", garbage);
    MakeFile(Desktop() + "Empty.lnk", "");
    MakeShortcut(Desktop() + "Solvarine.lnk", ClientExe);

    char target[1020] = "junk";
    EXPECT_TRUE(FAILED(ResolveShortcut(NULL, (Desktop() + "Garbage.lnk").c_str(), target)));
    EXPECT_STREQ(target, "");

    RemoveDesktopShortcuts();
    EXPECT_EQ(DesktopShortcuts().size(), 2u);
    EXPECT_TRUE(FileExists(Desktop() + "Garbage.lnk"));
    EXPECT_TRUE(FileExists(Desktop() + "Empty.lnk"));
}

TEST_F(DesktopShortcutsTest, UndeletableShortcutRunsTwentyPasses)
{
    MakeShortcut(Desktop() + "Solvarine A.lnk", ClientExe);
    MakeShortcut(Desktop() + "Solvarine B.lnk", ClientExe);
    std::vector<std::string> order = DesktopShortcuts();
    ASSERT_EQ(order.size(), 2u);
    HANDLE held = CreateFileA((Desktop() + order[0]).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    // Every pass finds the first one again and stops there.
    EXPECT_EQ(RunCounted(), OwnAllocations + 20 * ResolveAllocations);
    EXPECT_TRUE(FileExists(Desktop() + order[0]));
    EXPECT_TRUE(FileExists(Desktop() + order[1]));

    CloseHandle(held);
    RemoveDesktopShortcuts();
    EXPECT_TRUE(DesktopShortcuts().empty());
}

TEST_F(DesktopShortcutsTest, NamesTheCodePageCannotHoldAreUsedByTheirShortNames)
{
    std::wstring desktop = Widen(Desktop());
    MakeShortcutW(desktop + L"\x4e2d\x6587 client.lnk", ClientExe);
    MakeShortcutW(desktop + L"\x4e2d\x6587 other.lnk", OtherExe);
    ASSERT_EQ(DesktopShortcuts().size(), 2u);

    RemoveDesktopShortcuts();
    EXPECT_EQ(GetFileAttributesW((desktop + L"\x4e2d\x6587 client.lnk").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((desktop + L"\x4e2d\x6587 other.lnk").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DesktopShortcutsTest, PathsThatDoNotFitAreSkipped)
{
    std::string desktop = Desktop();
    std::string longName = std::string(40, 'n') + ".lnk";
    MakeShortcut(desktop + "s.lnk", ClientExe);
    MakeShortcut(desktop + longName, ClientExe);

    // The search pattern does not fit: nothing is listed.
    WindowsPathSize = (int)(desktop.size() + strlen("*.lnk"));
    EXPECT_EQ(RunCounted(), OwnAllocations);
    EXPECT_EQ(DesktopShortcuts().size(), 2u);

    // The pattern and the short name fit, the long name does not.
    WindowsPathSize = (int)(desktop.size() + longName.size());
    ASSERT_GT(WindowsPathSize, (int)strlen(ClientExe) + 1);
    RemoveDesktopShortcuts();
    EXPECT_EQ(DesktopShortcuts(), std::vector<std::string>{longName});
}

TEST_F(DesktopShortcutsTest, FailedAllocationsLeaveOnlyClientShortcutsDeleted)
{
    std::string desktop = Desktop();
    long count = ForEachAllocationFailure(
        [&] {
            ClearDesktop();
            MakeShortcut(desktop + "Solvarine.lnk", ClientExe);
            MakeShortcut(desktop + "Chat.lnk", ClientExe);
            MakeShortcut(desktop + "Notepad.lnk", OtherExe);
        },
        [] { RemoveDesktopShortcuts(); },
        [&](long failAt) {
            EXPECT_TRUE(FileExists(desktop + "Notepad.lnk")) << failAt;
            std::vector<std::string> left = DesktopShortcuts();
            if (failAt <= OwnAllocations)
                EXPECT_EQ(left.size(), 3u) << failAt;
            else  // the shortcut whose resolution failed may be left for that run
                EXPECT_LE(left.size(), 2u) << failAt;
        });
    EXPECT_GT(count, OwnAllocations + 3 * ResolveAllocations);
}

TEST_F(DesktopShortcutsTest, ResolveGivesTheShortFormOfTheTarget)
{
    std::string longTarget = "C:\\dvqtest\\lnk\\Long Folder Name\\DVQ32.EXE";
    MakeFile(longTarget);
    std::string link = Desktop() + "Long.lnk";
    MakeShortcut(link, longTarget);
    char shortTarget[MAX_PATH] = "";
    ASSERT_NE(GetShortPathNameA(longTarget.c_str(), shortTarget, sizeof shortTarget), 0u);
    ASSERT_STRNE(shortTarget, longTarget.c_str());

    char target[1020] = "junk";
    ResetScratchCounters(0);
    EXPECT_EQ(ResolveShortcut(NULL, link.c_str(), target), S_OK);
    EXPECT_STREQ(target, shortTarget);
    EXPECT_EQ(ScratchCounters.Allocations, ResolveAllocations);
    EXPECT_EQ(ScratchCounters.Live, 0);

    for (long failAt = 1; failAt <= ResolveAllocations; failAt++) {
        strcpy(target, "junk");
        ResetScratchCounters(failAt);
        EXPECT_EQ(ResolveShortcut(NULL, link.c_str(), target), E_OUTOFMEMORY) << failAt;
        EXPECT_STREQ(target, "") << failAt;
        EXPECT_EQ(ScratchCounters.Live, 0) << failAt;
    }
    ResetScratchCounters(0);

    strcpy(target, "junk");
    EXPECT_TRUE(FAILED(ResolveShortcut(NULL, (Desktop() + "Missing.lnk").c_str(), target)));
    EXPECT_STREQ(target, "");
}

TEST_F(DesktopShortcutsTest, ResolveNeverHandsBackACutPath)
{
    std::string link = Desktop() + "Solvarine.lnk";
    MakeShortcut(link, ClientExe);
    char target[64];

    // The target does not fit the path buffers: nothing comes back, and nothing is
    // written past them.
    WindowsPathSize = (int)strlen(ClientExe);
    memset(target, 'x', sizeof target);
    EXPECT_TRUE(FAILED(ResolveShortcut(NULL, link.c_str(), target)));
    EXPECT_EQ(target[0], '\0');
    for (int i = WindowsPathSize; i < (int)sizeof target; i++)
        ASSERT_EQ(target[i], 'x') << i;

    // The shell hands over the long form, which must fit; the short one comes back.
    char shortClient[MAX_PATH] = "";
    ASSERT_NE(GetShortPathNameA(ClientExe, shortClient, sizeof shortClient), 0u);
    WindowsPathSize = (int)strlen(ClientExe) + 2;
    EXPECT_EQ(ResolveShortcut(NULL, link.c_str(), target), S_OK);
    EXPECT_STREQ(target, shortClient);

    // The link's own path does not fit the wide buffer.
    WindowsPathSize = 16;
    strcpy(target, "junk");
    EXPECT_TRUE(FAILED(ResolveShortcut(NULL, link.c_str(), target)));
    EXPECT_STREQ(target, "");
}

}  // namespace
