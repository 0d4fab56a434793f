// Registration cleanup on the test prefix's registry, WIN.INI and files: the
// browser plug-in, the client's profile key, and its document type, MIME types and
// uninstall entry.
#include "removal/removal.h"
#include "flow/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include "tests/support/snapshot.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

const char BrowserClass[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}";
const char BrowserServer[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";
const char DefaultPlugin[] = "C:\\NETSCAPE\\Plugins\\NPDVQ32.DLL";
const char RootPlugin[] = "C:\\Plugins\\NPDVQ32.DLL";
const char Suffixes[] = "Software\\Netscape\\Netscape Navigator\\Suffixes";
const char Viewers[] = "Software\\Netscape\\Netscape Navigator\\Viewers";
const char MimeType[] = "application/x-dvq-connection";
const char UninstallList[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string OurEntry = std::string(UninstallList) + "\\The Solvarine Network";
const std::string OtherEntry = std::string(UninstallList) + "\\DVQ Test Other Program";

// Keys the tests create, from the topmost one that may not exist before.
const std::pair<HKEY, std::string> TouchedKeys[] = {
    {HKEY_CLASSES_ROOT, BrowserClass},         {HKEY_CLASSES_ROOT, "Solvarine.Connection"},
    {HKEY_CLASSES_ROOT, ".wnq"},               {HKEY_CURRENT_USER, "Software\\Netscape"},
    {HKEY_LOCAL_MACHINE, OurEntry},            {HKEY_LOCAL_MACHINE, OtherEntry},
};

struct RegistrationTest : ::testing::Test {
    int savedInstallSize = InstallPathSize, savedWindowsSize = WindowsPathSize;
    char *savedClientPath = ClientPath;
    char clientPath[1020] = "C:\\dvqtest\\client\\DVQ32.EXE";
    std::vector<TKeyImage> keys;
    TSectionImage netscape = CaptureSection(ProfileFile("win.ini"), "netscape");
    TSectionImage dvq = CaptureSection(ProfileFile("win.ini"), "DVQ");
    bool hadNetscapeDir = DirExists("C:\\NETSCAPE"), hadRootPlugins = DirExists("C:\\Plugins");
    TFileImage defaultPlugin = CaptureFile(DefaultPlugin), rootPlugin = CaptureFile(RootPlugin);
    char savedCurrentDir[MAX_PATH] = "";
    std::string base;

    void SetUp() override
    {
        InstallPathSize = WindowsPathSize = 1020;
        ClientPath = clientPath;
        for (const auto &key : TouchedKeys) {
            keys.push_back(CaptureKey(key.first, key.second));
            DeleteRegTree(key.first, key.second);
        }
        WriteProfileStringA("netscape", NULL, NULL);
        RemoveFile(DefaultPlugin);
        RemoveFile(RootPlugin);
        GetCurrentDirectoryA(sizeof savedCurrentDir, savedCurrentDir);
        base = FreshDir("registration");
        // The registry's root view is opened once for good by the first call that
        // uses it; do that before any handle count.
        RegKeyExists(HKEY_CLASSES_ROOT, "CLSID");
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(savedCurrentDir);
        for (size_t i = 0; i < keys.size(); i++)
            RestoreKey(TouchedKeys[i].first, TouchedKeys[i].second, keys[i]);
        RestoreSection(netscape);
        RestoreSection(dvq);
        RestoreFile(defaultPlugin);
        RestoreFile(rootPlugin);
        if (!hadNetscapeDir)
            DeleteTree("C:\\NETSCAPE\\");
        if (!hadRootPlugins)
            DeleteTree("C:\\Plugins\\");
        DeleteTree(base);
        InstallPathSize = savedInstallSize;
        WindowsPathSize = savedWindowsSize;
        ClientPath = savedClientPath;
    }

    static void RemoveFile(const std::string &path)
    {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }

    static void RegisterBrowser(const std::string &path)
    {
        SetRegString(HKEY_CLASSES_ROOT, BrowserServer, NULL, path);
    }

    // Runs the step and checks that it closed every handle it opened.
    static void RunBrowserStep()
    {
        long before = OpenHandleCount();
        ResetScratchCounters(0);
        RemoveBrowserPlugin();
        EXPECT_EQ(ScratchCounters.Live, 0);
        EXPECT_EQ(OpenHandleCount(), before) << "a handle was left open";
    }
};

// ----- browser plug-in -----

TEST_F(RegistrationTest, RegisteredBrowserLosesThePluginInItsFolder)
{
    std::string program = base + "Navigator\\Program\\";
    std::string settings = base + "Settings\\";
    RegisterBrowser(program + "netscape.exe");
    WriteProfileStringA("netscape", "ini", (settings + "NETSCAPE.INI").c_str());
    MakeFile(program + "Plugins\\NPDVQ32.DLL");
    SetFileAttributesA((program + "Plugins\\NPDVQ32.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(program + "Plugins\\NPAUDIO.DLL");
    MakeFile(program + "NPDVQ32.DLL");
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");

    RunBrowserStep();

    EXPECT_FALSE(FileExists(program + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(program + "Plugins\\NPAUDIO.DLL"));
    EXPECT_TRUE(FileExists(program + "NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(settings + "Plugins\\NPDVQ32.DLL")) << "the registration comes first";
    EXPECT_TRUE(RegValueExists(HKEY_CLASSES_ROOT, BrowserServer, ""));
}

TEST_F(RegistrationTest, WithoutRegistrationOrSettingTheDefaultSettingsFolderIsUsed)
{
    MakeFile(DefaultPlugin);
    MakeFile("C:\\NETSCAPE\\Plugins\\NPAUDIO.DLL");
    RunBrowserStep();
    EXPECT_FALSE(FileExists(DefaultPlugin));
    EXPECT_TRUE(FileExists("C:\\NETSCAPE\\Plugins\\NPAUDIO.DLL"));
}

TEST_F(RegistrationTest, SettingsFileFromWinIniLocatesThePlugin)
{
    std::string settings = base + "Nav Settings\\";
    WriteProfileStringA("netscape", "ini", (settings + "NETSCAPE.INI").c_str());
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");
    MakeFile(settings + "Plugins\\NPAUDIO.DLL");
    MakeFile(DefaultPlugin);

    RunBrowserStep();

    EXPECT_FALSE(FileExists(settings + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(settings + "Plugins\\NPAUDIO.DLL"));
    EXPECT_TRUE(FileExists(DefaultPlugin));
}

TEST_F(RegistrationTest, RegisteredPathInQuotesDeletesNothing)
{
    std::string program = base + "Program\\";
    RegisterBrowser("\"" + program + "netscape.exe\"");
    MakeFile(program + "Plugins\\NPDVQ32.DLL");
    RunBrowserStep();
    EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL"));
}

// When the registration key opens, its value alone counts: a value that cannot be
// read whole, or that is no absolute path, deletes nothing, there or anywhere else.
TEST_F(RegistrationTest, UnusableRegisteredPathDeletesNothing)
{
    std::string program = base + "Program\\";
    std::string settings = base + "Settings\\";
    MakeFile(program + "Plugins\\NPDVQ32.DLL");
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");
    MakeFile(DefaultPlugin);
    WriteProfileStringA("netscape", "ini", (settings + "NETSCAPE.INI").c_str());
    SetCurrentDirectoryA(program.c_str());
    const std::string values[] = {
        "",                                 // an empty default value
        "netscape.exe",                     // relative to the current directory
        program.substr(2) + "netscape.exe", // relative to the current drive
        "C:netscape.exe",                   // relative to the drive's current directory
    };
    for (const std::string &value : values) {
        RegisterBrowser(value);
        RunBrowserStep();
        EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL")) << value;
    }

    // No default value at all.
    DeleteRegTree(HKEY_CLASSES_ROOT, BrowserServer);
    SetRegString(HKEY_CLASSES_ROOT, BrowserServer, "Other", program + "netscape.exe");
    RunBrowserStep();

    // A value longer than the buffer, whose first bytes alone would name a plug-in.
    WindowsPathSize = 64;
    std::string cut = base + "Cut\\";
    MakeFile(cut + "Plugins\\NPDVQ32.DLL");
    RegisterBrowser(cut + std::string(80, 'a') + "\\netscape.exe");
    RunBrowserStep();
    EXPECT_TRUE(FileExists(cut + "Plugins\\NPDVQ32.DLL"));

    EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(settings + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(DefaultPlugin));
}

TEST_F(RegistrationTest, RegisteredValueMustBeAString)
{
    std::string program = base + "Program\\";
    std::string exe = program + "netscape.exe";
    MakeFile(program + "Plugins\\NPDVQ32.DLL");
    MakeFile(RootPlugin);
    // These bytes read as "C:\" followed by a zero.
    DWORD number = 0x005C3A43;
    std::string list = exe + '\0' + exe + '\0' + '\0';
    struct {
        DWORD type;
        const void *data;
        DWORD size;
    } const values[] = {
        {REG_DWORD, &number, sizeof number},
        {REG_BINARY, exe.c_str(), (DWORD)exe.size() + 1},
        {REG_MULTI_SZ, list.data(), (DWORD)list.size()},
        {REG_NONE, exe.c_str(), (DWORD)exe.size() + 1},
    };
    for (const auto &value : values) {
        SetRegValue(HKEY_CLASSES_ROOT, BrowserServer, NULL, value.type, value.data, value.size);
        RunBrowserStep();
        EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL")) << "type " << value.type;
        EXPECT_TRUE(FileExists(RootPlugin)) << "type " << value.type;
    }

    SetRegValue(HKEY_CLASSES_ROOT, BrowserServer, NULL, REG_EXPAND_SZ, exe.c_str(), (DWORD)exe.size() + 1);
    RunBrowserStep();
    EXPECT_FALSE(FileExists(program + "Plugins\\NPDVQ32.DLL"));
}

TEST_F(RegistrationTest, UnusableSettingsFilePathDeletesNothing)
{
    std::string settings = base + "Settings\\";
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");
    MakeFile(DefaultPlugin);
    SetCurrentDirectoryA(settings.c_str());
    const std::string values[] = {"", "NETSCAPE.INI", settings.substr(2) + "NETSCAPE.INI", "C:NETSCAPE.INI"};
    for (const std::string &value : values) {
        WriteProfileStringA("netscape", "ini", value.c_str());
        RunBrowserStep();
        EXPECT_TRUE(FileExists(settings + "Plugins\\NPDVQ32.DLL")) << value;
    }

    // A value that fills the buffer may have been cut where it names a plug-in.
    WindowsPathSize = 64;
    WriteProfileStringA("netscape", "ini", (settings + std::string(80, 'b') + "\\NETSCAPE.INI").c_str());
    RunBrowserStep();
    EXPECT_TRUE(FileExists(settings + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(DefaultPlugin));
}

TEST_F(RegistrationTest, PluginPathMustFitTheBuffer)
{
    std::string program = base + "Program\\";
    std::string plugin = program + "Plugins\\NPDVQ32.DLL";
    RegisterBrowser(program + "netscape.exe");
    MakeFile(plugin);
    WindowsPathSize = (int)plugin.size();
    RunBrowserStep();
    EXPECT_TRUE(FileExists(plugin));
    WindowsPathSize = (int)plugin.size() + 1;
    RunBrowserStep();
    EXPECT_FALSE(FileExists(plugin));
}

TEST_F(RegistrationTest, BrowserStepUnderAllocationFailure)
{
    std::string program = base + "Program\\";
    RegisterBrowser(program + "netscape.exe");
    long before = OpenHandleCount();
    long allocations = ForEachAllocationFailure(
        [&] {
            MakeFile(program + "Plugins\\NPDVQ32.DLL");
            MakeFile(program + "Plugins\\NPAUDIO.DLL");
        },
        RemoveBrowserPlugin,
        [&](long failAt) {
            EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL")) << failAt;
            EXPECT_TRUE(FileExists(program + "Plugins\\NPAUDIO.DLL")) << failAt;
            EXPECT_EQ(OpenHandleCount(), before) << failAt;
        });
    EXPECT_EQ(allocations, 3);
}

// ----- profile key -----

TEST_F(RegistrationTest, ProfileKeyGoesAndTheRestOfItsSectionStays)
{
    SetExePath("C:\\Program Files\\Solvarine\\DVQ32.EXE");
    WriteProfileStringA("DVQ", "User", "someone");
    WriteProfileStringA("DVQ", "Server", "dvq.example");
    DeleteClientProfileKey();
    EXPECT_EQ(GetExePath(), "");
    EXPECT_EQ(ProfileValue(ProfileFile("win.ini"), "DVQ", "ExePath", "(none)"), "(none)");
    EXPECT_EQ(ProfileValue(ProfileFile("win.ini"), "DVQ", "User"), "someone");
    EXPECT_EQ(ProfileValue(ProfileFile("win.ini"), "DVQ", "Server"), "dvq.example");
}

// ----- document type, MIME types, uninstall entry -----

struct RegistrationEntriesTest : RegistrationTest {
    void MakeBrowserAndUninstallEntries()
    {
        for (const char *key : {Suffixes, Viewers}) {
            SetRegString(HKEY_CURRENT_USER, key, MimeType, "wnq");
            SetRegString(HKEY_CURRENT_USER, key, "text/html", "htm,html");
        }
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry, "DisplayName", "The Solvarine Network");
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry, "UninstallString", "C:\\WINDOWS\\DVQRMV32.EXE");
        SetRegString(HKEY_LOCAL_MACHINE, OtherEntry, "DisplayName", "Other Program");
        SetRegString(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString", "C:\\Other\\remove.exe");
    }

    void ExpectBrowserAndUninstallEntriesRemoved()
    {
        for (const char *key : {Suffixes, Viewers}) {
            EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, key, MimeType)) << key;
            EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, key, "text/html")) << key;
        }
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, OurEntry));
        EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OtherEntry, "DisplayName"));
        EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString"));
        EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallList));
    }
};

TEST_F(RegistrationEntriesTest, EverythingTheClientRegisteredGoes)
{
    SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection", NULL, "Solvarine Connection");
    SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell\\Open\\Command", NULL,
                 "C:\\Solvarine\\DVQ32.EXE \"%1\"");
    SetRegString(HKEY_CLASSES_ROOT, ".wnq", NULL, "Solvarine.Connection");
    SetRegString(HKEY_CLASSES_ROOT, ".wnq", "Content Type", MimeType);
    MakeBrowserAndUninstallEntries();
    long before = OpenHandleCount();

    RemoveRegistration();

    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection"));
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, ".wnq"));
    ExpectBrowserAndUninstallEntriesRemoved();
    EXPECT_EQ(OpenHandleCount(), before);
}

TEST_F(RegistrationEntriesTest, MissingDocumentTypeDoesNotStopTheRest)
{
    MakeBrowserAndUninstallEntries();
    RemoveRegistration();
    ExpectBrowserAndUninstallEntriesRemoved();
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection"));
}

TEST_F(RegistrationEntriesTest, KeysWithSubkeysOfAnotherProgramStay)
{
    SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell\\Open\\Command", NULL, "DVQ32.EXE");
    SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon", NULL, "other.exe,1");
    SetRegString(HKEY_CLASSES_ROOT, ".wnq", NULL, "Solvarine.Connection");
    MakeBrowserAndUninstallEntries();
    SetRegString(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "Note", "kept");

    RemoveRegistration();

    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell"));
    EXPECT_TRUE(RegValueExists(HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon", ""));
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, ".wnq"));
    // The entry's own values go; the key stays for what it still holds.
    EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry, "DisplayName"));
    EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry, "UninstallString"));
    EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "Note"));
}

}  // namespace
