// Registration cleanup on the test prefix's registry, WIN.INI and files: the
// browser plug-in, the client's profile key, and its document type, MIME types and
// uninstall entry.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

namespace {

const char BrowserServer[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";
const char DefaultPlugin[] = "C:\\NETSCAPE\\Plugins\\NPDVQ32.DLL";
const char RootPlugin[] = "C:\\Plugins\\NPDVQ32.DLL";
const char *const MimeKeys[] = {"Software\\Netscape\\Netscape Navigator\\Suffixes",
                                "Software\\Netscape\\Netscape Navigator\\Viewers"};
const char MimeType[] = "application/x-dvq-connection";
const std::string OurEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\The Solvarine Network";
const std::string OtherEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DVQ Test Other Program";
// Classes under the machine's root, the current user's, or another user's: a key
// of the tests' standing for that user's root.
const std::string Classes = "Software\\Classes\\", OtherUser = "Software\\DVQ Test User";
const char *const ClassKeys[] = {"Solvarine.Connection", ".wnq", "Other.Connection", ".xyz"};

// The client's document type and extension with the subkeys installers add, and
// another program's twins.
void MakeClasses(HKEY root, const std::string &classes)
{
    const char *const values[][3] = {
        {"Solvarine.Connection", "", "Solvarine Connection"}, {"Solvarine.Connection\\DefaultIcon", "", "DVQ32.EXE,1"},
        {"Solvarine.Connection\\Shell\\Open\\Command", "", "DVQ32.EXE %1"}, {".wnq", "", "Solvarine.Connection"},
        {".wnq\\ShellNew", "NullFile", ""}, {"Other.Connection\\Shell\\Open\\Command", "", "other.exe %1"},
        {".xyz", "", "Other.Connection"}, {".xyz\\ShellNew", "NullFile", ""}};
    for (const auto &value : values)
        SetRegString(root, classes + value[0], value[1], value[2]);
}

bool OthersWhole(HKEY root, const std::string &classes)
{
    return RegValueExists(root, classes + "Other.Connection\\Shell\\Open\\Command", "") &&
           RegValueExists(root, classes + ".xyz", "") && RegValueExists(root, classes + ".xyz\\ShellNew", "NullFile");
}

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
            {HKEY_CURRENT_USER, "Software\\Netscape"},   {HKEY_LOCAL_MACHINE, OurEntry},
            {HKEY_LOCAL_MACHINE, OtherEntry},            {HKEY_CURRENT_USER, OtherUser}};
        for (const auto &key : keys)
            DeleteRegTree(key.first, key.second);
        for (const char *key : ClassKeys)
            for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
                DeleteRegTree(root, Classes + key);
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

    // Runs a registration step in a record of its own: true when it recorded
    // something as unreached.
    static bool RunRegistrationStep(const std::function<void()> &step = RemoveRegistration)
    {
        long before = OpenHandleCount();
        OpenRemovalRecord();
        step();
        bool unreached = RemovalRecord.Incomplete;
        CloseRemovalRecord();
        EXPECT_EQ(OpenHandleCount(), before) << "a handle was left open";
        return unreached;
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
// entry. Phase 0 is a machine without the document type, phase 1 has all of it,
// phase 2 adds subkeys: the document type goes with its own, the uninstall entry
// keeps the key, which holds another's.
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
        EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Solvarine.Connection")) << phase;
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
    EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "Note"));
}

// The document type and the extension that names it go with everything below
// them, for the machine, the current user, or another user whose root the user
// step is given (the current user's then stay); links among them go themselves,
// and so does an uninstall entry that is a link. Other programs' twins and what
// a link leads to stay. What stays of the client's counts as left.
TEST_F(RegistrationTest, ClassKeysGoWithTheirSubkeys)
{
    const HKEY machine = HKEY_LOCAL_MACHINE, user = HKEY_CURRENT_USER;
    auto otherUser = [] {
        HKEY root;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, OtherUser.c_str(), 0, KEY_READ, &root), ERROR_SUCCESS);
        RemoveUserRegistration(root);
        RegCloseKey(root);
    };
    auto links = [](const std::string &below) {  // below the document type, or the top
        return [below](HKEY root, const std::string &classes) {
            const std::pair<std::string, std::string> made[] = {
                {classes + "Solvarine.Connection" + below, Classes + "Other.Connection" + below},
                {classes + ".wnq\\ShellNew", Classes + ".xyz\\ShellNew"}};
            for (const auto &link : made) {
                DeleteRegTree(root, link.first);
                MakeRegLink(root, link.first, link.second);
            }
            DeleteRegTree(HKEY_LOCAL_MACHINE, OurEntry);
            MakeRegLink(HKEY_LOCAL_MACHINE, OurEntry, OtherEntry);
        };
    };
    auto deep = [](int levels) {  // below the document type
        return [levels](HKEY root, const std::string &classes) {
            std::string key = classes + "Solvarine.Connection";
            for (int level = 1; level <= levels; level++)
                SetRegString(root, key += "\\k", NULL, "deep");
        };
    };
    auto entryHolding = [](HKEY, const std::string &) {
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry + "\\Extra", "", "");
    };
    const struct {
        const char *name;
        HKEY root;
        std::string classes;
        std::function<void(HKEY, const std::string &)> spoil;
        bool stays, counted;  // the document type stays; something is counted as left
    } cases[] = {
        {"machine", machine, Classes, nullptr, false, false},
        {"current user", user, Classes, nullptr, false, false},
        {"another user", user, OtherUser + "\\" + Classes, nullptr, false, false},
        {"links in the machine's", machine, Classes, links("\\Shell"), false, false},
        {"links in the user's", user, Classes, links(""), false, false},
        {"as deep as the removal goes", machine, Classes, deep(MaxKeyTreeDepth), false, false},
        {"deeper than the removal goes", machine, Classes, deep(MaxKeyTreeDepth + 1), true, true},
        {"the user's deeper than the removal goes", user, Classes, deep(MaxKeyTreeDepth + 1), true, true},
        {"uninstall entry holding a subkey", machine, Classes, entryHolding, false, true},
    };
    for (const auto &c : cases) {
        Clean();
        MakeClasses(HKEY_LOCAL_MACHINE, Classes);  // what links lead to
        MakeClasses(c.root, c.classes);
        for (const std::string &root : {OtherUser + "\\", std::string()})
            SetRegString(HKEY_CURRENT_USER, root + MimeKeys[0], MimeType, "wnq");
        if (c.classes != Classes)
            MakeClasses(HKEY_CURRENT_USER, Classes);
        SetRegString(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString", "C:\\Other\\remove.exe");
        SetRegString(HKEY_LOCAL_MACHINE, OurEntry, "UninstallString", "C:\\WINDOWS\\DVQRMV32.EXE");
        if (c.spoil)
            c.spoil(c.root, c.classes);
        if (c.classes != Classes)
            EXPECT_FALSE(RunRegistrationStep(otherUser)) << c.name;
        else
            EXPECT_EQ(RunRegistrationStep(), c.counted) << c.name;
        EXPECT_EQ(RegKeyExists(c.root, c.classes + "Solvarine.Connection"), c.stays) << c.name;
        EXPECT_FALSE(RegKeyExists(c.root, c.classes + ".wnq")) << c.name;
        EXPECT_FALSE(RegKeyExists(c.root, c.classes + "Solvarine.Connection\\Shell")) << c.name;
        EXPECT_TRUE(OthersWhole(machine, Classes) && OthersWhole(c.root, c.classes)) << c.name;
        EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, OtherEntry, "UninstallString")) << c.name;
        EXPECT_EQ(RegKeyExists(user, Classes + ".wnq"), c.classes != Classes) << c.name;
        EXPECT_EQ(RegValueExists(user, OtherUser + "\\" + MimeKeys[0], MimeType), c.classes == Classes) << c.name;
    }
    // The step on its own records nothing.
    RemoveRegistration();
    EXPECT_FALSE(RemovalRecord.Incomplete);
}

// The extension is the client's when its default value, a string, is empty or
// names the document type in any case, or when it has none: it then goes with
// its subkeys. Any other value names something else: it stays, and does not
// count as left. An extension that is a link is no installer's: it stays.
TEST_F(RegistrationTest, ExtensionGoesOnlyWhenItIsTheClients)
{
    auto utf16 = [](const std::string &text) {
        std::string bytes;
        for (char c : text)
            bytes += std::string(1, c) + '\0';
        return bytes;
    };
    const std::string name = "Solvarine.Connection", end(1, '\0');
    const struct {
        DWORD type;
        std::string bytes;
        bool clients;
    } values[] = {
        {REG_SZ, "", true}, {REG_SZ, utf16(end), true}, {REG_SZ, utf16(name), true},
        {REG_SZ, utf16("sOLVARINE.connection" + end + end), true}, {REG_EXPAND_SZ, utf16(name + end), true},
        // Another name, more after the end, longer than any name, an odd number of
        // bytes, a dotless i, and no string.
        {REG_SZ, utf16("Other.Connection" + end), false}, {REG_SZ, utf16(name + "2"), false},
        {REG_SZ, utf16(name + end + "x"), false}, {REG_SZ, utf16(name + std::string(300, 'x')), false},
        {REG_SZ, utf16(name) + 'x', false}, {REG_SZ, utf16("Solvar") + "\x31\x01" + utf16("ne.Connection"), false},
        {REG_DWORD, std::string(4, '\0'), false}, {REG_BINARY, utf16(name), false},
    };
    MakeClasses(HKEY_LOCAL_MACHINE, Classes);
    for (const auto &value : values) {
        SetRegBytes(HKEY_LOCAL_MACHINE, Classes + ".wnq", NULL, value.type, value.bytes);
        SetRegString(HKEY_LOCAL_MACHINE, Classes + ".wnq\\ShellNew", "NullFile", "");
        EXPECT_FALSE(RunRegistrationStep()) << &value - values;
        EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, Classes + ".wnq\\ShellNew"), !value.clients) << &value - values;
        DeleteRegTree(HKEY_LOCAL_MACHINE, Classes + ".wnq");
    }
    SetRegString(HKEY_LOCAL_MACHINE, Classes + ".wnq\\ShellNew", "NullFile", "");  // no default value
    MakeRegLink(HKEY_CURRENT_USER, Classes + ".wnq", Classes + ".xyz");
    EXPECT_FALSE(RunRegistrationStep());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, Classes + ".wnq"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Classes + ".wnq"));
    EXPECT_TRUE(OthersWhole(HKEY_LOCAL_MACHINE, Classes));
}

}  // namespace
