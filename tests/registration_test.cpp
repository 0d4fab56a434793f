// Registration cleanup on the test prefix's registry, WIN.INI and files: the
// browser plug-in, the client's profile key, and its document type, MIME types and
// uninstall entry.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

const char BrowserServer[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";
const char DefaultPlugin[] = "C:\\NETSCAPE\\Plugins\\NPDVQ32.DLL";
const char RootPlugin[] = "C:\\Plugins\\NPDVQ32.DLL";
const char *const MimeKeys[] = {"Software\\Netscape\\Netscape Navigator\\Suffixes",
                                "Software\\Netscape\\Netscape Navigator\\Viewers"};
const char MimeType[] = "application/x-dvq-connection";
const std::string OurEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\The Solvarine Network";
const std::string OtherEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DVQ Test Other Program";

void SetBrowser(DWORD type, const std::string &data)
{
    RegSetKeyValueA(HKEY_CLASSES_ROOT, BrowserServer, NULL, type, data.data(), (DWORD)data.size());
}

// Handles of every kind (files, registry keys, ...) that this process holds, from
// the system's table of all handles: a count, then one entry a handle.
long OpenHandleCount()
{
    struct TEntry {
        ULONG processId;
        BYTE objectType, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    typedef LONG(WINAPI * TQuery)(ULONG, PVOID, ULONG, PULONG);
    TQuery query = (TQuery)(void (*)())GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    std::vector<ULONG_PTR> table(1 << 14);
    ULONG returned = 0;
    // SystemHandleInformation, in a buffer made larger until the table fits.
    while (query(16, table.data(), (ULONG)(table.size() * sizeof table[0]), &returned) == (LONG)0xC0000004L)
        table.resize(table.size() * 2);
    const TEntry *entries = (const TEntry *)&table[1];
    DWORD self = GetCurrentProcessId();
    return (long)std::count_if(entries, entries + (ULONG)table[0], [=](const TEntry &e) { return e.processId == self; });
}

struct RegistrationTest : ::testing::Test {
    int savedWindowsSize = WindowsPathSize;
    char savedCurrentDir[MAX_PATH] = "";
    const std::string base = "C:\\dvqtest\\registration\\";
    const std::string program = base + "Program\\", settings = base + "Settings\\";

    // What the tests make outside C:\dvqtest\: the browser's and the client's keys,
    // the browser's section of WIN.INI, plug-ins in the default folders.
    static void Clean()
    {
        const std::pair<HKEY, std::string> keys[] = {
            {HKEY_CLASSES_ROOT, "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}"},
            {HKEY_CLASSES_ROOT, "Solvarine.Connection"}, {HKEY_CLASSES_ROOT, ".wnq"},
            {HKEY_CURRENT_USER, "Software\\Netscape"},   {HKEY_LOCAL_MACHINE, OurEntry},
            {HKEY_LOCAL_MACHINE, OtherEntry}};
        for (const auto &key : keys)
            DeleteRegTree(key.first, key.second);
        WriteProfileStringA("netscape", NULL, NULL);
        for (const char *path : {DefaultPlugin, RootPlugin}) {
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        }
        for (const char *folder : {"C:\\NETSCAPE\\Plugins", "C:\\NETSCAPE", "C:\\Plugins"})
            RemoveDirectoryA(folder);
    }

    void SetUp() override
    {
        WindowsPathSize = 1020;
        GetCurrentDirectoryA(sizeof savedCurrentDir, savedCurrentDir);
        Clean();
        FreshDir("registration");
        // The registry's root view is opened once for good by the first call that
        // uses it; do that before any handle count.
        RegKeyExists(HKEY_CLASSES_ROOT, "CLSID");
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(savedCurrentDir);
        Clean();
        DeleteTree(base);
        WindowsPathSize = savedWindowsSize;
    }

    // Runs the step and checks that it released every block and handle it took.
    static void RunBrowserStep()
    {
        long before = OpenHandleCount();
        ResetScratchCounters(0);
        RemoveBrowserPlugin();
        EXPECT_EQ(ScratchCounters.Live, 0);
        EXPECT_EQ(OpenHandleCount(), before) << "a handle was left open";
    }
};

TEST_F(RegistrationTest, PluginGoesFromTheBrowsersFolder)
{
    // Neither a registration nor a settings file: the default settings folder.
    MakeFile(DefaultPlugin);
    RunBrowserStep();
    EXPECT_FALSE(FileExists(DefaultPlugin));

    // The settings file named in WIN.INI.
    MakeFile(DefaultPlugin);
    WriteProfileStringA("netscape", "ini", (settings + "NETSCAPE.INI").c_str());
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");
    RunBrowserStep();
    EXPECT_FALSE(FileExists(settings + "Plugins\\NPDVQ32.DLL"));
    EXPECT_TRUE(FileExists(DefaultPlugin));

    // A registered browser comes first. The plug-in's path must fit the buffer.
    std::string plugin = program + "Plugins\\NPDVQ32.DLL";
    MakeFile(settings + "Plugins\\NPDVQ32.DLL");
    MakeFile(plugin);
    SetFileAttributesA(plugin.c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(program + "NPDVQ32.DLL");
    MakeFile(program + "Plugins\\NPAUDIO.DLL");
    SetRegString(HKEY_CLASSES_ROOT, BrowserServer, NULL, program + "netscape.exe");
    WindowsPathSize = (int)plugin.size();
    RunBrowserStep();
    EXPECT_TRUE(FileExists(plugin));
    WindowsPathSize = (int)plugin.size() + 1;
    RunBrowserStep();
    EXPECT_EQ(ListTree(base), (std::vector<std::string>{"Program\\", "Program\\NPDVQ32.DLL", "Program\\Plugins\\",
                                                        "Program\\Plugins\\NPAUDIO.DLL", "Settings\\",
                                                        "Settings\\Plugins\\", "Settings\\Plugins\\NPDVQ32.DLL"}));
    EXPECT_TRUE(RegValueExists(HKEY_CLASSES_ROOT, BrowserServer, ""));
}

// When the registration key opens, its value alone counts: a value that is no
// string, cannot be read whole or is no absolute path deletes nothing, there or
// anywhere else. The same goes for the settings file's path.
TEST_F(RegistrationTest, UnusablePathsDeleteNothing)
{
    std::string exe = program + "netscape.exe";
    const std::vector<std::string> plugins = {program + "Plugins\\NPDVQ32.DLL", settings + "Plugins\\NPDVQ32.DLL", DefaultPlugin,
                           RootPlugin};
    for (const std::string &plugin : plugins)
        MakeFile(plugin);
    SetCurrentDirectoryA(program.c_str());
    WriteProfileStringA("netscape", "ini", (settings + "NETSCAPE.INI").c_str());
    const std::pair<DWORD, std::string> values[] = {
        {REG_SZ, std::string("", 1)},          {REG_SZ, "\"" + exe + "\"" + '\0'},
        {REG_SZ, std::string("netscape.exe", 13)}, {REG_SZ, exe.substr(2) + '\0'},
        {REG_SZ, std::string("C:netscape.exe", 15)}, {REG_DWORD, std::string("C:\\\0", 4)},
        {REG_BINARY, exe + '\0'},               {REG_MULTI_SZ, exe + '\0' + exe + '\0' + '\0'},
        {REG_NONE, exe + '\0'},
    };
    for (const auto &value : values) {
        SetBrowser(value.first, value.second);
        RunBrowserStep();
    }
    DeleteRegTree(HKEY_CLASSES_ROOT, BrowserServer);
    SetRegString(HKEY_CLASSES_ROOT, BrowserServer, "Other", exe);  // no default value
    RunBrowserStep();
    DeleteRegTree(HKEY_CLASSES_ROOT, BrowserServer);
    for (const std::string &value : {std::string(""), std::string("NETSCAPE.INI"), settings.substr(2) + "NETSCAPE.INI",
                                     std::string("C:NETSCAPE.INI")}) {
        WriteProfileStringA("netscape", "ini", value.c_str());
        RunBrowserStep();
    }
    // Values longer than the buffer, whose first bytes alone would name a plug-in.
    WindowsPathSize = 64;
    WriteProfileStringA("netscape", "ini", (settings + std::string(80, 'b') + "\\NETSCAPE.INI").c_str());
    RunBrowserStep();
    SetRegString(HKEY_CLASSES_ROOT, BrowserServer, NULL, program + std::string(80, 'a') + "\\netscape.exe");
    RunBrowserStep();
    for (const std::string &plugin : plugins)
        EXPECT_TRUE(FileExists(plugin)) << plugin;
}

TEST_F(RegistrationTest, BrowserStepUnderAllocationFailure)
{
    SetBrowser(REG_EXPAND_SZ, program + "netscape.exe" + '\0');
    long before = OpenHandleCount();
    long allocations = ForEachAllocationFailure(
        [&] { MakeFile(program + "Plugins\\NPDVQ32.DLL"); }, RemoveBrowserPlugin,
        [&](long failAt) {
            EXPECT_TRUE(FileExists(program + "Plugins\\NPDVQ32.DLL")) << failAt;
            EXPECT_EQ(OpenHandleCount(), before) << failAt;
        });
    EXPECT_EQ(allocations, 4);  // three buffers, and one for the deletion
    RunBrowserStep();
    EXPECT_FALSE(FileExists(program + "Plugins\\NPDVQ32.DLL")) << "an expandable string is a path too";
}

TEST_F(RegistrationTest, ProfileKeyGoesAndTheRestOfItsSectionStays)
{
    SetExePath("C:\\Program Files\\Solvarine\\DVQ32.EXE");
    WriteProfileStringA("DVQ", "User", "someone");
    DeleteClientProfileKey();
    char value[64];
    GetProfileStringA("DVQ", "ExePath", "(none)", value, sizeof value);
    EXPECT_STREQ(value, "(none)");
    GetProfileStringA("DVQ", "User", "", value, sizeof value);
    EXPECT_STREQ(value, "someone");
    WriteProfileStringA("DVQ", NULL, NULL);
}

// The document type and extension, the browser's MIME settings and the uninstall
// entry go, each beside another program's, which stays: other values, another
// entry, and keys that hold another program's subkeys. Phase 0 is a machine
// without the document type, phase 1 has all of it, phase 2 adds the subkeys.
TEST_F(RegistrationTest, EverythingTheClientRegisteredGoes)
{
    for (int phase = 0; phase < 3; phase++) {
        if (phase > 0) {
            SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection", NULL, "Solvarine Connection");
            SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell\\Open\\Command", NULL, "DVQ32.EXE \"%1\"");
            SetRegString(HKEY_CLASSES_ROOT, ".wnq", "Content Type", MimeType);
        }
        if (phase > 1) {
            SetRegString(HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon", NULL, "other.exe,1");
            SetRegString(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "Note", "kept");
        }
        for (const char *key : MimeKeys) {
            SetRegString(HKEY_CURRENT_USER, key, MimeType, "wnq");
            SetRegString(HKEY_CURRENT_USER, key, "text/html", "htm,html");
        }
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry, "DisplayName", "The Solvarine Network");
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry, "UninstallString", "C:\\WINDOWS\\DVQRMV32.EXE");
        SetRegString(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString", "C:\\Other\\remove.exe");
        long before = OpenHandleCount();
        RemoveRegistration();
        EXPECT_EQ(OpenHandleCount(), before);

        EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell")) << phase;
        EXPECT_EQ(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection"), phase > 1) << phase;
        EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, ".wnq")) << phase;
        for (const char *key : MimeKeys) {
            EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, key, MimeType)) << key;
            EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, key, "text/html")) << key;
        }
        // Our entry's own values go; the key stays for what it still holds.
        EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry, "DisplayName")) << phase;
        EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry, "UninstallString")) << phase;
        EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, OurEntry), phase > 1) << phase;
        EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString")) << phase;
    }
    EXPECT_TRUE(RegValueExists(HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon", ""));
    EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "Note"));
}

}  // namespace
