// Desktop shortcut removal and shortcut resolution, with real shortcut files made
// by the shell-link object in the test prefix's Desktop folder.
//
// What Wine (8.0) does, and these tests rely on: IShellLinkA::Resolve never
// searches for a moved target (the recorded path stands); GetPath ignores
// SLGP_SHORTPATH; loading a file that is no shortcut fails; a file held open
// without FILE_SHARE_DELETE cannot be deleted but can be read; a name the ANSI code
// page cannot hold is listed with "?" and has a made-up short name.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "client/runuser.h"
#include "common/scratch.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include "testtools/seed.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>
#include <algorithm>

namespace {

const char ClientExe[] = "C:\\dvqtest\\lnk\\Solvarine\\DVQ32.EXE";
const char OtherExe[] = "C:\\dvqtest\\lnk\\Other\\NOTEPAD.EXE";
// RemoveDesktopShortcuts takes five buffers; every resolution takes three more.
const long OwnAllocations = 5;
const long ResolveAllocations = 3;
const long DeleteAllocations = 1;  // each shortcut deleted, or tried
typedef std::vector<std::wstring> TNames;

const std::string Desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";
const std::wstring WideDesktop(Desktop.begin(), Desktop.end());

// Saves a shortcut to target at link, a name on the desktop or a full path.
void MakeShortcut(const std::wstring &link, const std::string &target)
{
    std::wstring path = link.find(L'\\') == std::wstring::npos ? WideDesktop + link : link;
    CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), NULL);
    EXPECT_TRUE(SaveShortcutFile(path, target)) << target;
}

// The shortcuts on the desktop, sorted; removes them with remove.
TNames Shortcuts(bool remove = false)
{
    TNames names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((WideDesktop + L"*.lnk").c_str(), &entry);
    for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileW(listing, &entry)) {
        std::wstring path = WideDesktop + entry.cFileName;
        if (!remove)
            names.push_back(entry.cFileName);
        else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                 SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
            DeleteFileW(path.c_str());
    }
    FindClose(listing);
    std::sort(names.begin(), names.end());
    return names;
}

long RunCounted()
{
    ResetScratchCounters(0);
    RemoveDesktopShortcuts();
    EXPECT_EQ(ScratchCounters.Live, 0);
    return ScratchCounters.Allocations;
}

struct DesktopShortcutsTest : ::testing::Test {
    int savedWindowsSize = WindowsPathSize;
    std::vector<std::string> elsewhere;  // shortcuts and folders made away from the desktop

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        WindowsPathSize = 1020;
        Shortcuts(true);
        FreshDir("lnk");
        MakeFile(ClientExe);
        MakeFile(OtherExe);
    }

    void TearDown() override
    {
        AfterShortcutDeletion = NULL;
        ResetScratchCounters(0);
        Shortcuts(true);
        for (const std::string &path : elsewhere)
            if (!DeleteFileA(path.c_str()))
                DeleteTree(path);
        DeleteTree("C:\\dvqtest\\lnk");
        WindowsPathSize = savedWindowsSize;
        CoUninitialize();
    }
};

// The tests' shortcuts are the files IPersistFile::Save writes, byte for byte.
TEST_F(DesktopShortcutsTest, ShortcutFilesAreThoseTheShellSaves)
{
    IShellLinkA *shellLink = NULL;
    IPersistFile *file = NULL;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&shellLink),
              S_OK);
    EXPECT_EQ(shellLink->SetPath(ClientExe), S_OK);
    EXPECT_TRUE(SaveLinkFile(shellLink, L"C:\\dvqtest\\lnk\\mine.lnk"));
    ASSERT_EQ(shellLink->QueryInterface(IID_IPersistFile, (void **)&file), S_OK);
    EXPECT_EQ(file->Save(L"C:\\dvqtest\\lnk\\shells.lnk", FALSE), S_OK);
    file->Release();
    shellLink->Release();
    std::string saved = ReadWholeFile("C:\\dvqtest\\lnk\\shells.lnk");
    EXPECT_GT(saved.size(), 76u);  // more than the header
    EXPECT_EQ(ReadWholeFile("C:\\dvqtest\\lnk\\mine.lnk"), saved);
}

// One pass over a desktop without a client shortcut: each shortcut resolved once,
// files that are no shortcut resolved to an empty target, nothing deleted.
TEST_F(DesktopShortcutsTest, NoClientShortcutMeansOnePassAndNothingDeleted)
{
    EXPECT_EQ(RunCounted(), OwnAllocations);

    std::string garbage(300, '\0');
    for (size_t i = 0; i < garbage.size(); i++)
        garbage[i] = (char)(i * 37 + 11);
    garbage.replace(0, 4, "L\0\0\0", 4);  // a shortcut's first field, then nonsense
    MakeFile(Desktop + "Garbage.lnk", garbage);
    MakeFile(Desktop + "Empty.lnk", "");
    MakeShortcut(L"Notepad.lnk", OtherExe);
    char target[1020] = "junk";
    EXPECT_TRUE(FAILED(ResolveShortcut(NULL, (Desktop + "Garbage.lnk").c_str(), target)));
    EXPECT_STREQ(target, "");

    EXPECT_EQ(RunCounted(), OwnAllocations + 3 * ResolveAllocations);
    EXPECT_EQ(Shortcuts(), (TNames{L"Empty.lnk", L"Garbage.lnk", L"Notepad.lnk"}));
}

// A shortcut goes when its target, as recorded, is called DVQ32.EXE, in any case
// and any folder, whatever its own name; only those at the top of the user's
// desktop.
TEST_F(DesktopShortcutsTest, ClientShortcutsGoWhateverTheirNames)
{
    const std::wstring chinese = L"\x4e2d\x6587";
    MakeShortcut(L"Solvarine.lnk", ClientExe);
    SetFileAttributesA((Desktop + "Solvarine.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeShortcut(L"My own chat thing.lnk", ClientExe);
    MakeFile("C:\\dvqtest\\lnk\\Second Copy\\dvq32.exe");
    MakeShortcut(L"Lower.lnk", "C:\\dvqtest\\lnk\\Second Copy\\dvq32.exe");
    MakeShortcut(L"Unrelated.lnk", "C:\\dvqtest\\lnk\\Some\\Where\\Else\\DVQ32.EXE");
    MakeShortcut(chinese + L" client.lnk", ClientExe);
    MakeShortcut(L"Notepad.lnk", OtherExe);
    MakeShortcut(chinese + L" other.lnk", OtherExe);
    MakeShortcut(L"Near miss.lnk", "C:\\dvqtest\\lnk\\Solvarine\\DVQ32.EXE.bak");
    MakeShortcut(L"Other name.lnk", "C:\\dvqtest\\lnk\\Solvarine\\DVQ32A.EXE");
    elsewhere = {Desktop + "Sub folder", Desktop + "Folder.lnk", ShellFolder(CSIDL_STARTUP) + "\\DVQ test.lnk",
                 ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\DVQ test.lnk"};
    const std::vector<std::string> kept = {elsewhere[0] + "\\Solvarine.lnk", elsewhere[1] + "\\Solvarine.lnk",
                                           elsewhere[2], elsewhere[3], "C:\\dvqtest\\lnk\\Solvarine.lnk"};
    for (const std::string &path : kept)
        MakeShortcut(std::wstring(path.begin(), path.end()), ClientExe);
    // Targets that moved away, one of them renamed DVQ32.EXE: Wine does not look
    // for them, and the recorded names decide.
    MakeFile("C:\\dvqtest\\lnk\\Old\\DVQ32.EXE");
    MakeFile("C:\\dvqtest\\lnk\\Chat.exe");
    MakeShortcut(L"Moved client.lnk", "C:\\dvqtest\\lnk\\Old\\DVQ32.EXE");
    MakeShortcut(L"Renamed chat.lnk", "C:\\dvqtest\\lnk\\Chat.exe");
    ASSERT_TRUE(MoveFileA("C:\\dvqtest\\lnk\\Old\\DVQ32.EXE", "C:\\dvqtest\\lnk\\Other\\DVQ32.EXE"));
    ASSERT_TRUE(MoveFileA("C:\\dvqtest\\lnk\\Chat.exe", "C:\\dvqtest\\lnk\\DVQ32.EXE"));
    char target[1020] = "";
    EXPECT_EQ(ResolveShortcut(NULL, (Desktop + "Renamed chat.lnk").c_str(), target), S_OK);
    EXPECT_STREQ(target, "C:\\dvqtest\\lnk\\Chat.exe");

    RemoveDesktopShortcuts();
    EXPECT_EQ(Shortcuts(), (TNames{L"Folder.lnk", L"Near miss.lnk", L"Notepad.lnk", L"Other name.lnk",
                                   L"Renamed chat.lnk", chinese + L" other.lnk"}));
    for (const std::string &path : kept)
        EXPECT_TRUE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(ClientExe));
}

TEST_F(DesktopShortcutsTest, UndeletableShortcutRunsTwentyPasses)
{
    MakeShortcut(L"Solvarine.lnk", ClientExe);
    HANDLE held = CreateFileA((Desktop + "Solvarine.lnk").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    // Every pass finds it again.
    EXPECT_EQ(RunCounted(), OwnAllocations + 20 * (ResolveAllocations + DeleteAllocations));
    CloseHandle(held);
    EXPECT_EQ(Shortcuts(), TNames{L"Solvarine.lnk"});
}

// A shortcut found not to lead to the client is resolved again only when it is
// listed with another size or last-write time. After the first pass, the held
// client shortcut is let go and rewritten to lead elsewhere, and a shortcut to
// another program rewritten to lead to the client.
HANDLE HeldShortcut = NULL;

TEST_F(DesktopShortcutsTest, ShortcutRewrittenBetweenPassesIsResolvedAgain)
{
    for (const wchar_t *name : {L"a other.lnk", L"b other.lnk"})
        MakeShortcut(name, OtherExe);
    for (const wchar_t *name : {L"c client.lnk", L"d client.lnk"})
        MakeShortcut(name, ClientExe);
    HeldShortcut = CreateFileA((Desktop + "c client.lnk").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               NULL, OPEN_EXISTING, 0, NULL);
    AfterShortcutDeletion = [] {
        if (HeldShortcut == NULL)
            return;
        CloseHandle(HeldShortcut);
        HeldShortcut = NULL;
        MakeShortcut(L"a other.lnk", ClientExe);
        MakeShortcut(L"c client.lnk", OtherExe);
    };
    // Passes: a, b, c (held); a again; b kept, c again, d; b and c kept, nothing.
    EXPECT_EQ(RunCounted(), OwnAllocations + 6 * ResolveAllocations + 3 * DeleteAllocations);
    EXPECT_EQ(Shortcuts(), (TNames{L"b other.lnk", L"c client.lnk"}));
}

// The short form of the target comes back, and only when it fits; paths that do
// not fit the buffers are skipped, never cut.
TEST_F(DesktopShortcutsTest, PathsComeBackShortAndWholeOrNotAtAll)
{
    std::string longTarget = "C:\\dvqtest\\lnk\\Long Folder Name\\DVQ32.EXE";
    MakeFile(longTarget);
    MakeShortcut(L"s.lnk", longTarget);
    std::string longName = std::string(40, 'n') + ".lnk";
    MakeShortcut(std::wstring(longName.begin(), longName.end()), ClientExe);
    char shortTarget[MAX_PATH] = "", target[1020] = "junk";
    ASSERT_NE(GetShortPathNameA(longTarget.c_str(), shortTarget, sizeof shortTarget), 0u);
    ASSERT_STRNE(shortTarget, longTarget.c_str());
    EXPECT_EQ(ResolveShortcut(NULL, (Desktop + "s.lnk").c_str(), target), S_OK);
    EXPECT_STREQ(target, shortTarget);

    // The shell hands over the long form: without room for it nothing comes back,
    // and nothing is written past the buffer; with it, the short form. A link path
    // that does not fit is not loaded.
    for (int size : {(int)longTarget.size(), (int)longTarget.size() + 2, 16}) {
        WindowsPathSize = size;
        memset(target, 'x', sizeof target);
        HRESULT result = ResolveShortcut(NULL, (Desktop + "s.lnk").c_str(), target);
        EXPECT_EQ(std::string(target), size == (int)longTarget.size() + 2 ? shortTarget : "") << size;
        EXPECT_EQ(SUCCEEDED(result), size == (int)longTarget.size() + 2) << size;
        EXPECT_EQ(std::string(target + size, 16), std::string(16, 'x')) << size;
    }

    // The search pattern does not fit: nothing is listed. Then the pattern and the
    // short name fit, the long name does not.
    WindowsPathSize = (int)(Desktop.size() + strlen("*.lnk"));
    EXPECT_EQ(RunCounted(), OwnAllocations);
    WindowsPathSize = (int)(Desktop.size() + longName.size());
    ASSERT_GT(WindowsPathSize, (int)longTarget.size() + 1);
    RemoveDesktopShortcuts();
    EXPECT_EQ(Shortcuts(), TNames{std::wstring(longName.begin(), longName.end())});
}

TEST_F(DesktopShortcutsTest, FailedAllocationsLeaveOnlyClientShortcutsDeleted)
{
    long count = ForEachAllocationFailure(
        [&] {
            Shortcuts(true);
            MakeShortcut(L"Solvarine.lnk", ClientExe);
            MakeShortcut(L"Chat.lnk", ClientExe);
            MakeShortcut(L"Notepad.lnk", OtherExe);
        },
        RemoveDesktopShortcuts,
        [&](long failAt) {
            TNames left = Shortcuts();
            EXPECT_TRUE(std::count(left.begin(), left.end(), L"Notepad.lnk")) << failAt;
            if (failAt <= OwnAllocations)
                EXPECT_EQ(left.size(), 3u) << failAt;
            else  // the shortcut whose resolution failed may be left for that run
                EXPECT_LE(left.size(), 2u) << failAt;
        });
    // Each shortcut resolved once, the client's two deleted.
    EXPECT_EQ(count, OwnAllocations + 3 * ResolveAllocations + 2 * DeleteAllocations);
}

}  // namespace

namespace {

// The Desktop and Programs folders redirected to a share, \\server\share (under
// Wine a link in the prefix's dosdevices\unc folder), for one test.
struct TRedirected {
    std::string folder = FreshDir("share");
    std::string links = UnixPath("C:\\") + "/../dosdevices/unc/server";
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    TSavedRegValue desktop{HKEY_CURRENT_USER, key, "Desktop"}, programs{HKEY_CURRENT_USER, key, "Programs"};

    TRedirected()
    {
        RunUnix({"/bin/mkdir", "-p", links});
        RunUnix({"/bin/ln", "-sfn", UnixPath(folder), links + "/share"});
        for (const char *name : {"Desktop", "Programs"}) {
            SetRegString(HKEY_CURRENT_USER, key, name, std::string("\\\\server\\share\\") + name);
            MakeDirs(folder + name + "\\");
        }
    }
    ~TRedirected() { RunUnix({"/bin/rm", "-rf", links, UnixPath(folder)}); }
};

TEST_F(DesktopShortcutsTest, ShortcutsAndGroupOnAShareGoAndTheirNeighboursStay)
{
    TRedirected share;
    const std::string desktop = "\\\\server\\share\\Desktop\\", programs = "\\\\server\\share\\Programs\\";
    ASSERT_EQ(ShellFolder(CSIDL_DESKTOP) + "\\", desktop);
    ASSERT_EQ(ShellFolder(CSIDL_PROGRAMS) + "\\", programs);
    MakeShortcut(std::wstring(desktop.begin(), desktop.end()) + L"Solvarine.lnk", ClientExe);
    MakeShortcut(std::wstring(desktop.begin(), desktop.end()) + L"Other.lnk", OtherExe);
    MakeFile(programs + "Solvarine\\Solvarine.lnk");
    MakeFile(programs + "Solvarine\\Extras\\Read me.lnk");
    MakeFile(programs + "Solvarine2\\Solvarine2.lnk");
    // The shell of this process keeps the Desktop it found first: a fresh
    // un-installer finds the redirected one.
    SetExePath(ClientExe);
    TBoxScript script({"Yes", "Yes", "OK"});
    EXPECT_EQ(RunWithBoxes(UninstallerCommand(), script), 0);
    SetExePath(NULL);
    EXPECT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
    EXPECT_EQ(ListTree(share.folder), (std::vector<std::string>{"Desktop\\", "Desktop\\Other.lnk", "Programs\\",
                                                                "Programs\\Solvarine2\\",
                                                                "Programs\\Solvarine2\\Solvarine2.lnk"}));
}

// The Desktop and Programs folders in a folder whose name the ANSI code page
// cannot hold exactly, for one test: the shell's ANSI calls would give a
// look-alike name ("L" for "Ł") or question marks.
struct TRedirectedWide {
    std::wstring folder;
    const char *key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    TSavedRegValue desktop{HKEY_CURRENT_USER, key, "Desktop"}, programs{HKEY_CURRENT_USER, key, "Programs"};

    explicit TRedirectedWide(const std::wstring &name) : folder(L"C:\\dvqtest\\" + name + L"\\")
    {
        CreateDirectoryW(L"C:\\dvqtest", NULL);
        CreateDirectoryW(folder.c_str(), NULL);
        HKEY handle;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
        for (const wchar_t *name : {L"Desktop", L"Programs"}) {
            std::wstring path = folder + name;
            CreateDirectoryW(path.c_str(), NULL);
            RegSetValueExW(handle, name, 0, REG_SZ, (const BYTE *)path.c_str(), (DWORD)(path.size() + 1) * 2);
        }
        RegCloseKey(handle);
    }
    ~TRedirectedWide() { RunUnix({"/bin/rm", "-rf", UnixPath("C:\\dvqtest") + "/" + Utf8(folder.substr(11))}); }
    static std::string Utf8(const std::wstring &text)
    {
        char out[MAX_PATH * 3] = "";
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, NULL, NULL);
        return std::string(out).substr(0, strlen(out) - 1);  // without the trailing backslash
    }
    bool Exists(const std::wstring &relative) const
    {
        return GetFileAttributesW((folder + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST_F(DesktopShortcutsTest, ShortcutsAndGroupWhoseFolderTheCodePageCannotNameGo)
{
    const struct {
        std::wstring name;
        const char *ansi;  // what the ANSI code page makes of it
    } folders[] = {{L"\x0141ukasz", "Lukasz"}, {L"\x0418\x0432\x0430\x043D", "????"}};
    for (const auto &f : folders) {
        char ansi[MAX_PATH] = "";
        WideCharToMultiByte(CP_ACP, 0, f.name.c_str(), -1, ansi, sizeof ansi, NULL, NULL);
        ASSERT_STREQ(ansi, f.ansi) << "the ANSI code page must change the name";
        TRedirectedWide redirected(f.name);
        for (const wchar_t *name : {L"Desktop\\Solvarine.lnk", L"Desktop\\Chat.lnk"})
            MakeShortcut(redirected.folder + name, ClientExe);
        MakeShortcut(redirected.folder + L"Desktop\\Other.lnk", OtherExe);
        MakeShortcut(redirected.folder + L"Programs\\Solvarine\\Solvarine.lnk", ClientExe);
        MakeShortcut(redirected.folder + L"Programs\\Solvarine2\\Solvarine2.lnk", OtherExe);
        // A fresh un-installer, whose shell finds the redirected folders.
        SetExePath(ClientExe);
        TBoxScript script({"Yes", "Yes", "OK"});
        EXPECT_EQ(RunWithBoxes(UninstallerCommand(), script), 0);
        SetExePath(NULL);
        ASSERT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
        EXPECT_EQ(script.seen[2].text, Removed) << f.ansi;
        EXPECT_FALSE(redirected.Exists(L"Desktop\\Solvarine.lnk")) << f.ansi;
        EXPECT_FALSE(redirected.Exists(L"Desktop\\Chat.lnk")) << f.ansi;
        EXPECT_FALSE(redirected.Exists(L"Programs\\Solvarine")) << f.ansi;
        EXPECT_TRUE(redirected.Exists(L"Desktop\\Other.lnk")) << f.ansi;
        EXPECT_TRUE(redirected.Exists(L"Programs\\Solvarine2\\Solvarine2.lnk")) << f.ansi;
    }
}

// A desktop reached in wide characters that cannot be listed, for want of
// memory, is not reported clean: the shortcut it holds is either gone or counts
// as left.
TEST_F(DesktopShortcutsTest, AWideDesktopNotListedCountsAsLeft)
{
    TRedirectedWide redirected(L"\x0141ukasz");
    TRunUser user;
    memset(&user, 0, sizeof user);
    user.Registry = HKEY_CURRENT_USER;
    wcscpy(user.Desktop, (redirected.folder + L"Desktop").c_str());
    const std::wstring shortcut = redirected.folder + L"Desktop\\Solvarine.lnk";
    long allocations = 0;
    for (long failAt = 0; failAt == 0 || failAt <= allocations; failAt++) {
        MakeShortcut(shortcut, ClientExe);
        OpenRemovalRecord();
        ResetScratchCounters(failAt);
        RemoveDesktopShortcutsOf(&user);
        if (failAt == 0)
            allocations = ScratchCounters.Allocations;
        EXPECT_EQ(ScratchCounters.Live, 0) << failAt;
        ResetScratchCounters(0);
        bool stayed = redirected.Exists(L"Desktop\\Solvarine.lnk");
        EXPECT_EQ(stayed, failAt > 0) << failAt;
        EXPECT_EQ(RemovalRecord.Incomplete, stayed) << failAt;
        CloseRemovalRecord();
    }
    EXPECT_EQ(allocations, 3);  // the path, the target and the listing
}

}  // namespace
