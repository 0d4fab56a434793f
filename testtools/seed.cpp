#include "testtools/seed.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <algorithm>

const char SeedInstallDir[] = "C:\\Program Files\\Solvarine\\";
const char SeedClientExe[] = "C:\\Program Files\\Solvarine\\DVQ32.EXE";

namespace {

const char SiblingDir[] = "C:\\Program Files\\Solvarine2\\";
const char SiblingExe[] = "C:\\Program Files\\Solvarine2\\SOLVAR2.EXE";
const char BrowserDir[] = "C:\\Program Files\\Netscape\\";
const char BrowserExe[] = "C:\\Program Files\\Netscape\\Program\\netscape.exe";
const char PluginDir[] = "C:\\Program Files\\Netscape\\Program\\Plugins\\";

const char BrowserClassKey[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}";
const char BrowserServerKey[] = "CLSID\\{EF5F7050-385A-11CE-8193-0020AF18F905}\\LocalServer32";
const char NetscapeKey[] = "Software\\Netscape";
const char SuffixesKey[] = "Software\\Netscape\\Netscape Navigator\\Suffixes";
const char ViewersKey[] = "Software\\Netscape\\Netscape Navigator\\Viewers";
const char UninstallList[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char ClientEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\The Solvarine Network";
const char SiblingEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Solvarine2";
const char DesktopSettingsKey[] = "Control Panel\\Desktop";
const char MimeType[] = "application/x-dvq-connection";
const char UserClassesKey[] = "Software\\Classes\\";
const char OtherCommand[] = "\"C:\\Program Files\\Other\\other.exe\" \"%1\"";
const char OtherMimeType[] = "audio/x-pn-realaudio";

// Names outside the ANSI code page: a Cyrillic folder ("Справка", help) with a CJK
// file ("説明書.txt", manual) in it, and a Cyrillic read-only file at the top
// ("Настройки.ini", settings).
const wchar_t CyrillicFolder[] = L"\x0421\x043F\x0440\x0430\x0432\x043A\x0430";
const wchar_t CjkFile[] = L"\x8AAC\x660E\x66F8.txt";
const wchar_t CyrillicFile[] = L"\x041D\x0430\x0441\x0442\x0440\x043E\x0439\x043A\x0438.ini";

enum TKind { KindDir, KindFile, KindShortcut, KindProfile, KindKey, KindValue, KindSwitch };
const char *const KindNames[] = {"dir", "file", "shortcut", "profile", "key", "value", "setting"};

struct TItem {
    bool client;
    TKind kind;
    std::wstring path;     // dir, file, shortcut (a dir ends with a backslash)
    DWORD attributes;      // file
    std::string data;      // file content, shortcut target, profile value, registry string
    std::string profile;   // "WIN.INI" or "SYSTEM.INI"
    std::string section;
    std::string name;      // profile key or registry value name; empty: the default value
    HKEY root;
    std::string key;
};

std::wstring Wide(const std::string &text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, NULL, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string Utf8(const std::wstring &wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, NULL, 0, NULL, NULL);
    std::string text(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], length, NULL, NULL);
    text.resize(strlen(text.c_str()));
    return text;
}

std::wstring FolderPath(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, path);
    return std::wstring(path) + L"\\";
}

std::wstring WindowsDirectory()
{
    wchar_t path[MAX_PATH] = L"";
    GetWindowsDirectoryW(path, MAX_PATH);
    std::wstring directory = path;
    return directory.empty() || directory.back() == L'\\' ? directory : directory + L"\\";
}

// The Windows directory as the ANSI API gives it: the un-installer looks for its
// screen saver in SYSTEM.INI under exactly that spelling.
std::string AnsiWindowsDirectory()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, sizeof path);
    return path;
}

const char *RootName(HKEY root)
{
    return root == HKEY_CLASSES_ROOT ? "HKCR" : root == HKEY_CURRENT_USER ? "HKCU" : "HKLM";
}

std::string Location(const TItem &item)
{
    switch (item.kind) {
    case KindDir:
    case KindFile:
    case KindShortcut:
        return Utf8(item.path);
    case KindProfile:
        return item.profile + " [" + item.section + "] " + item.name;
    case KindKey:
        return std::string(RootName(item.root)) + "\\" + item.key;
    case KindValue:
        return std::string(RootName(item.root)) + "\\" + item.key + " : " +
               (item.name.empty() ? "(default)" : item.name);
    case KindSwitch:
        return "screen saving";
    }
    return "";
}

TItem Dir(bool client, const std::wstring &path)
{
    TItem item = {client, KindDir, path, 0, "", "", "", "", NULL, ""};
    return item;
}

TItem File(bool client, const std::wstring &path, const std::string &content, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE)
{
    TItem item = {client, KindFile, path, attributes, content, "", "", "", NULL, ""};
    return item;
}

TItem Shortcut(bool client, const std::wstring &path, const std::string &target)
{
    TItem item = {client, KindShortcut, path, 0, target, "", "", "", NULL, ""};
    return item;
}

TItem Profile(bool client, const char *profile, const char *section, const char *name, const std::string &value)
{
    TItem item = {client, KindProfile, L"", 0, value, profile, section, name, NULL, ""};
    return item;
}

TItem Key(bool client, HKEY root, const std::string &key)
{
    TItem item = {client, KindKey, L"", 0, "", "", "", "", root, key};
    return item;
}

TItem Value(bool client, HKEY root, const std::string &key, const char *name, const std::string &value)
{
    TItem item = {client, KindValue, L"", 0, value, "", "", name, root, key};
    return item;
}

TItem Switch()
{
    TItem item = {true, KindSwitch, L"", 0, "", "", "", "", NULL, ""};
    return item;
}

// Every client item and every neighbour, each directory before what is in it and
// each file before the shortcuts to it.
std::vector<TItem> Items()
{
    const std::wstring install = Wide(SeedInstallDir), sibling = Wide(SiblingDir);
    const std::wstring browser = Wide(BrowserDir), plugins = Wide(PluginDir);
    const std::wstring windows = WindowsDirectory(), desktop = FolderPath(CSIDL_DESKTOPDIRECTORY);
    const std::wstring programs = FolderPath(CSIDL_PROGRAMS);
    const std::wstring group = programs + L"Solvarine\\";
    const std::string client = SeedClientExe, screenSaver = AnsiWindowsDirectory() + "\\KOVRAL32.SCR";
    const DWORD readOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    const bool C = true, N = false;
    std::vector<TItem> items = {
        // The installation: nested folders, read-only and hidden files, names that
        // the ANSI code page cannot hold.
        Dir(C, install),
        File(C, install + L"DVQ32.EXE", "the Solvarine client"),
        File(C, install + L"DVQRMV32.EXE", "the Solvarine un-installer"),
        File(C, install + L"DVQ32.INI", "[Settings]\r\nServer=chat.solvarine.example\r\n", readOnly),
        File(C, install + L"README.TXT", "Welcome to The Solvarine Network.\r\n"),
        File(C, install + CyrillicFile, "[Language]\r\nName=ru\r\n", readOnly),
        Dir(C, install + L"Data\\"),
        File(C, install + L"Data\\USERS.DAT", "users"),
        File(C, install + L"Data\\SESSION.LCK", "lock", FILE_ATTRIBUTE_HIDDEN | readOnly),
        Dir(C, install + L"Data\\Cache\\"),
        Dir(C, install + L"Data\\Cache\\Pictures\\"),
        Dir(C, install + L"Data\\Cache\\Pictures\\Thumbs\\"),
        File(C, install + L"Data\\Cache\\Pictures\\Thumbs\\00000001.TMP", "thumbnail 1"),
        File(C, install + L"Data\\Cache\\Pictures\\Thumbs\\00000002.TMP", "thumbnail 2", readOnly),
        Dir(C, install + L"Help\\"),
        File(C, install + L"Help\\DVQ32.HLP", "help", readOnly),
        Dir(C, install + L"Help\\" + CyrillicFolder + L"\\"),
        File(C, install + L"Help\\" + CyrillicFolder + L"\\" + CjkFile, "manual"),
        // A sibling installation whose name starts like the client's.
        Dir(N, sibling),
        File(N, sibling + L"SOLVAR2.EXE", "another program"),
        File(N, sibling + L"README.TXT", "Solvarine 2 beta\r\n"),
        Dir(N, sibling + L"Data\\"),
        File(N, sibling + L"Data\\USERS.DAT", "other users", readOnly),
        // The browser, registered as a local server, with the client's plug-in and
        // another one in its plug-in folder.
        Dir(N, browser),
        Dir(N, browser + L"Program\\"),
        File(N, browser + L"Program\\netscape.exe", "the browser"),
        Dir(N, plugins),
        File(C, plugins + L"NPDVQ32.DLL", "the Solvarine plug-in"),
        File(N, plugins + L"NPAUDIO.DLL", "another plug-in"),
        Key(N, HKEY_CLASSES_ROOT, BrowserServerKey),
        Value(N, HKEY_CLASSES_ROOT, BrowserServerKey, "", BrowserExe),
        // The screen saver, the active one, beside others in the Windows directory.
        File(C, windows + L"KOVRAL32.SCR", "the Solvarine screen saver"),
        File(N, windows + L"SSMARQUE.SCR", "another screen saver"),
        File(N, windows + L"SOLVAR2.INI", "[Solvarine2]\r\n"),
        Profile(C, "SYSTEM.INI", "boot", "SCRNSAVE.EXE", screenSaver),
        Switch(),
        Profile(N, "SYSTEM.INI", "boot", "drivers", "mmsystem.dll"),
        Profile(N, "SYSTEM.INI", "boot.description", "display.drv", "Standard VGA"),
        // The profile key, and the sibling's own section.
        Profile(C, "WIN.INI", "DVQ", "ExePath", client),
        Profile(N, "WIN.INI", "Solvarine2", "ExePath", SiblingExe),
        // The document type and file extension with the icon and new-file subkeys
        // installers add, for the machine and for the user, and other programs'
        // twins.
        Key(C, HKEY_CLASSES_ROOT, "Solvarine.Connection"),
        Key(C, HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell\\Open\\Command"),
        Value(C, HKEY_CLASSES_ROOT, "Solvarine.Connection", "", "Solvarine Connection"),
        Value(C, HKEY_CLASSES_ROOT, "Solvarine.Connection\\Shell\\Open\\Command", "",
              "\"" + client + "\" \"%1\""),
        Key(C, HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon"),
        Value(C, HKEY_CLASSES_ROOT, "Solvarine.Connection\\DefaultIcon", "", "\"" + client + "\",0"),
        Key(C, HKEY_CLASSES_ROOT, ".wnq"),
        Value(C, HKEY_CLASSES_ROOT, ".wnq", "", "Solvarine.Connection"),
        Key(C, HKEY_CLASSES_ROOT, ".wnq\\ShellNew"),
        Value(C, HKEY_CLASSES_ROOT, ".wnq\\ShellNew", "NullFile", ""),
        Key(C, HKEY_CURRENT_USER, UserClassesKey + std::string("Solvarine.Connection")),
        Key(C, HKEY_CURRENT_USER, UserClassesKey + std::string("Solvarine.Connection\\Shell\\Open\\Command")),
        Value(C, HKEY_CURRENT_USER, UserClassesKey + std::string("Solvarine.Connection\\Shell\\Open\\Command"), "",
              "\"" + client + "\" \"%1\""),
        Key(C, HKEY_CURRENT_USER, UserClassesKey + std::string(".wnq")),
        Value(C, HKEY_CURRENT_USER, UserClassesKey + std::string(".wnq"), "", "Solvarine.Connection"),
        Key(C, HKEY_CURRENT_USER, UserClassesKey + std::string(".wnq\\ShellNew")),
        Key(N, HKEY_CLASSES_ROOT, "Solvarine2.Connection\\Shell\\Open\\Command"),
        Value(N, HKEY_CLASSES_ROOT, "Solvarine2.Connection\\Shell\\Open\\Command", "",
              "\"" + std::string(SiblingExe) + "\" \"%1\""),
        Key(N, HKEY_CLASSES_ROOT, ".wnx"),
        Value(N, HKEY_CLASSES_ROOT, ".wnx", "", "Solvarine2.Connection"),
        Key(N, HKEY_CLASSES_ROOT, "Other.Connection\\Shell\\Open\\Command"),
        Value(N, HKEY_CLASSES_ROOT, "Other.Connection\\Shell\\Open\\Command", "", OtherCommand),
        Key(N, HKEY_CLASSES_ROOT, ".xyz\\ShellNew"),
        Value(N, HKEY_CLASSES_ROOT, ".xyz", "", "Other.Connection"),
        Value(N, HKEY_CLASSES_ROOT, ".xyz\\ShellNew", "NullFile", ""),
        // The browser's MIME settings: the client's type and another.
        Value(C, HKEY_CURRENT_USER, SuffixesKey, MimeType, "wnq"),
        Value(C, HKEY_CURRENT_USER, ViewersKey, MimeType, client),
        Value(N, HKEY_CURRENT_USER, SuffixesKey, OtherMimeType, "ra,ram"),
        Value(N, HKEY_CURRENT_USER, ViewersKey, OtherMimeType, "C:\\Program Files\\Real\\raplayer.exe"),
        // The entries in the list of installed programs.
        Key(C, HKEY_LOCAL_MACHINE, ClientEntryKey),
        Value(C, HKEY_LOCAL_MACHINE, ClientEntryKey, "DisplayName", "The Solvarine Network"),
        Value(C, HKEY_LOCAL_MACHINE, ClientEntryKey, "UninstallString", std::string(SeedInstallDir) + "DVQRMV32.EXE"),
        Key(N, HKEY_LOCAL_MACHINE, SiblingEntryKey),
        Value(N, HKEY_LOCAL_MACHINE, SiblingEntryKey, "DisplayName", "Solvarine 2 beta"),
        Value(N, HKEY_LOCAL_MACHINE, SiblingEntryKey, "UninstallString", std::string(SiblingDir) + "UNINST.EXE"),
        // Desktop shortcuts to the client, one under a name the user gave it and one
        // with its target in lower case, beside other programs' shortcuts and a file.
        Shortcut(C, desktop + L"Solvarine.lnk", client),
        Shortcut(C, desktop + L"Chat with Grandma.lnk", client),
        Shortcut(C, desktop + L"Shortcut to DVQ32.lnk", "c:\\program files\\solvarine\\dvq32.exe"),
        Shortcut(N, desktop + L"Solvarine 2 beta.lnk", SiblingExe),
        Shortcut(N, desktop + L"Netscape Navigator.lnk", BrowserExe),
        File(N, desktop + L"Solvarine notes.txt", "my notes"),
        // The program group, with a folder of its own, beside other programs'.
        Dir(C, group),
        Shortcut(C, group + L"Solvarine.lnk", client),
        Shortcut(C, group + L"Un-install Solvarine.lnk", std::string(SeedInstallDir) + "DVQRMV32.EXE"),
        Shortcut(C, group + L"Read Me.lnk", std::string(SeedInstallDir) + "README.TXT"),
        Dir(C, group + L"Extras\\"),
        Shortcut(C, group + L"Extras\\Solvarine Help.lnk", std::string(SeedInstallDir) + "Help\\DVQ32.HLP"),
        Dir(N, programs + L"Solvarine2\\"),
        Shortcut(N, programs + L"Solvarine2\\Solvarine 2 beta.lnk", SiblingExe),
        Shortcut(N, programs + L"Netscape Navigator.lnk", BrowserExe),
    };
    return items;
}

// The profile file's path for the private-profile API.
std::string ProfilePath(const std::string &profile)
{
    return AnsiWindowsDirectory() + "\\" + profile;
}

bool ProfileHasKey(const TItem &item)
{
    char value[2048] = "";
    const char *unlikely = "\x01missing\x01";
    GetPrivateProfileStringA(item.section.c_str(), item.name.c_str(), unlikely, value, sizeof value,
                             ProfilePath(item.profile).c_str());
    return strcmp(value, unlikely) != 0;
}

bool ScreenSavingOn()
{
    GetDesktopWindow();  // under Wine the switch is the display driver's once it is loaded
    BOOL active = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return active != FALSE;
}

void SetScreenSaving(bool on)
{
    GetDesktopWindow();
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, on, NULL, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
}

bool IsPresent(const TItem &item)
{
    switch (item.kind) {
    case KindDir: {
        DWORD attributes = GetFileAttributesW(item.path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    case KindFile:
    case KindShortcut: {
        DWORD attributes = GetFileAttributesW(item.path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    case KindProfile:
        return ProfileHasKey(item);
    case KindKey: {
        HKEY key;
        if (RegOpenKeyExA(item.root, item.key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    case KindValue: {
        HKEY key;
        if (RegOpenKeyExA(item.root, item.key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        bool found = RegQueryValueExA(key, item.name.empty() ? NULL : item.name.c_str(), NULL, NULL, NULL, NULL) ==
                     ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }
    case KindSwitch:
        return ScreenSavingOn();
    }
    return false;
}

bool MakeDirectories(const std::wstring &path)
{
    for (size_t i = 3; i <= path.size(); i++)
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), NULL);
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Parent(const std::wstring &path)
{
    return path.substr(0, path.rfind(L'\\', path.size() - 2) + 1);
}

bool MakeFile(const TItem &item)
{
    if (!MakeDirectories(Parent(item.path)))
        return false;
    SetFileAttributesW(item.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(item.path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(file, item.data.data(), (DWORD)item.data.size(), &written, NULL) &&
                 written == item.data.size();
    CloseHandle(file);
    return whole && SetFileAttributesW(item.path.c_str(), item.attributes);
}

bool MakeShortcut(const TItem &item)
{
    if (!MakeDirectories(Parent(item.path)))
        return false;
    HRESULT com = CoInitialize(NULL);
    bool saved = SaveShortcutFile(item.path, item.data);
    if (SUCCEEDED(com))
        CoUninitialize();
    return saved;
}

bool SetValue(const TItem &item)
{
    HKEY key;
    if (RegCreateKeyExA(item.root, item.key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    bool set = item.kind != KindValue ||
               RegSetValueExA(key, item.name.empty() ? NULL : item.name.c_str(), 0, REG_SZ,
                              (const BYTE *)item.data.c_str(), (DWORD)item.data.size() + 1) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

bool Make(const TItem &item)
{
    switch (item.kind) {
    case KindDir:
        return MakeDirectories(item.path);
    case KindFile:
        return MakeFile(item);
    case KindShortcut:
        return MakeShortcut(item);
    case KindProfile:
        WritePrivateProfileStringA(item.section.c_str(), item.name.c_str(), item.data.c_str(),
                                   ProfilePath(item.profile).c_str());
        return ProfileHasKey(item);
    case KindKey:
    case KindValue:
        return SetValue(item);
    case KindSwitch:
        SetScreenSaving(true);
        return ScreenSavingOn();
    }
    return false;
}

// True when the folder is a link (under Wine, to a folder of the Unix home
// directory): nothing is seeded through it.
bool IsLink(const std::wstring &folder)
{
    DWORD attributes = GetFileAttributesW(folder.substr(0, folder.size() - 1).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Deletes a tree with the wide API, read-only files included; links are removed,
// never followed.
void DeleteTreeW(const std::wstring &directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = directory + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                DeleteTreeW(path + L"\\");
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path.c_str());
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

void DeleteRegistryTree(HKEY root, const std::string &path)
{
    HKEY key;
    // A link is deleted itself, never entered.
    if (RegOpenKeyExA(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        bool link = RegQueryValueExA(key, "SymbolicLinkValue", NULL, &type, NULL, NULL) == ERROR_SUCCESS &&
                    type == REG_LINK;
        typedef LONG(NTAPI * TNtDeleteKey)(HANDLE);
        if (link)
            ((TNtDeleteKey)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey"))((HANDLE)key);
        RegCloseKey(key);
        if (link)
            return;
    }
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        std::vector<std::string> subkeys;
        char name[256];
        for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++)
            subkeys.push_back(name);
        RegCloseKey(key);
        for (const std::string &subkey : subkeys)
            DeleteRegistryTree(root, path + "\\" + subkey);
    }
    RegDeleteKeyA(root, path.c_str());
}

bool SectionIsEmpty(const std::string &profile, const char *section)
{
    char content[16] = "";
    return GetPrivateProfileSectionA(section, content, sizeof content, ProfilePath(profile).c_str()) == 0;
}

// --- The full inventory ---

unsigned long Checksum(const std::wstring &path)
{
    unsigned long sum = 2166136261UL;  // FNV-1a
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        for (DWORD i = 0; i < read; i++)
            sum = ((sum ^ buffer[i]) * 16777619UL) & 0xFFFFFFFFUL;
    CloseHandle(file);
    return sum;
}

std::string Hex(unsigned long number, int digits)
{
    char text[16];
    snprintf(text, sizeof text, "%0*lx", digits, number);
    return text;
}

// Lines for the entries of directory (and below, when deep). Files whose content
// is recorded elsewhere (the profile files) are listed by name and attributes.
void ListFiles(const std::wstring &directory, bool deep, std::vector<std::string> &lines)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = directory + name;
        std::string attributes = "attributes " + Hex(entry.dwFileAttributes, 4);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            lines.push_back("dir\t" + Utf8(path) + "\\\t" + attributes);
            if (deep && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ListFiles(path + L"\\", true, lines);
        } else if (lstrcmpiW(name.c_str(), L"win.ini") == 0 || lstrcmpiW(name.c_str(), L"system.ini") == 0) {
            lines.push_back("file\t" + Utf8(path) + "\t" + attributes);
        } else {
            unsigned long long size = ((unsigned long long)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
            lines.push_back("file\t" + Utf8(path) + "\t" + attributes + ", " + std::to_string(size) +
                            " bytes, sum " + Hex(Checksum(path), 8));
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

void ListTreeFrom(const std::wstring &top, bool deep, std::vector<std::string> &lines)
{
    DWORD attributes = GetFileAttributesW(top.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    lines.push_back("dir\t" + Utf8(top) + "\t" + "attributes " + Hex(attributes, 4));
    ListFiles(top, deep, lines);
}

void ListSection(const std::string &profile, const char *section, std::vector<std::string> &lines)
{
    std::string file = ProfilePath(profile);
    std::vector<char> names(65536);
    DWORD length = GetPrivateProfileSectionNamesA(names.data(), (DWORD)names.size(), file.c_str());
    bool exists = false;
    for (DWORD i = 0; i < length && names[i] != '\0'; i += (DWORD)strlen(&names[i]) + 1)
        exists = exists || lstrcmpiA(&names[i], section) == 0;
    if (!exists)
        return;
    std::string where = profile + " [" + section + "]";
    lines.push_back("section\t" + where);
    std::vector<char> content(65536);
    length = GetPrivateProfileSectionA(section, content.data(), (DWORD)content.size(), file.c_str());
    for (DWORD i = 0; i < length && content[i] != '\0'; i += (DWORD)strlen(&content[i]) + 1) {
        std::string entry = &content[i];
        size_t equals = entry.find('=');
        std::string name = entry.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : entry.substr(equals + 1);
        lines.push_back("profile\t" + where + " " + name + "\t" + value);
    }
}

std::string ValueText(DWORD type, const std::vector<BYTE> &data)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text((const char *)data.data(), data.size());
        if (!text.empty() && text.back() == '\0')
            text.resize(text.size() - 1);
        return std::string(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + " \"" + text + "\"";
    }
    std::string text = "type " + std::to_string(type) + ",";
    for (BYTE b : data)
        text += " " + Hex(b, 2);
    return text;
}

// The key, everything below it and all their values; only the value named when
// onlyValue is given.
void ListKey(HKEY root, const std::string &path, std::vector<std::string> &lines, const char *onlyValue = NULL)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::string where = std::string(RootName(root)) + "\\" + path;
    if (onlyValue == NULL)
        lines.push_back("key\t" + where);
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameLength = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, NULL, &type, NULL, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        nameLength = sizeof name;
        RegEnumValueA(key, i, name, &nameLength, NULL, &type, data.data(), &size);
        data.resize(size);
        if (onlyValue != NULL && lstrcmpiA(name, onlyValue) != 0)
            continue;
        lines.push_back("value\t" + where + " : " + (name[0] == '\0' ? "(default)" : name) + "\t" +
                        ValueText(type, data));
    }
    std::vector<std::string> subkeys;
    char name[256];
    for (DWORD i = 0; onlyValue == NULL && RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++)
        subkeys.push_back(name);
    RegCloseKey(key);
    for (const std::string &subkey : subkeys)
        ListKey(root, path + "\\" + subkey, lines);
}

}  // namespace

bool SaveLinkFile(IUnknown *link, const std::wstring &path)
{
    IPersistStream *persist = NULL;
    IStream *stream = NULL;
    HRESULT result = link->QueryInterface(IID_IPersistStream, (void **)&persist);
    if (SUCCEEDED(result))
        result = CreateStreamOnHGlobal(NULL, TRUE, &stream);
    if (SUCCEEDED(result))
        result = persist->Save(stream, TRUE);
    bool saved = false;
    LARGE_INTEGER start = {};
    ULARGE_INTEGER size = {};
    HGLOBAL memory = NULL;
    if (SUCCEEDED(result) && SUCCEEDED(stream->Seek(start, STREAM_SEEK_CUR, &size)) &&
        SUCCEEDED(GetHGlobalFromStream(stream, &memory))) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(file, GlobalLock(memory), (DWORD)size.QuadPart, &written, NULL) &&
                    written == size.QuadPart;
            GlobalUnlock(memory);
            CloseHandle(file);
        }
    }
    if (stream != NULL)
        stream->Release();
    if (persist != NULL)
        persist->Release();
    return saved;
}

bool SaveShortcutFile(const std::wstring &path, const std::string &target)
{
    IShellLinkA *link = NULL;
    bool saved = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                            (void **)&link)) &&
                 SUCCEEDED(link->SetPath(target.c_str())) && SaveLinkFile(link, path);
    if (link != NULL)
        link->Release();
    return saved;
}

bool SeedInstall(std::string *error)
{
    std::wstring desktop = FolderPath(CSIDL_DESKTOPDIRECTORY);
    if (IsLink(desktop)) {
        if (error != NULL)
            *error = "the Desktop folder " + Utf8(desktop) + " is a link out of this machine's own folders";
        return false;
    }
    bool made = true;
    for (const TItem &item : Items()) {
        if (!Make(item)) {
            if (error != NULL && made)
                *error = "could not make " + std::string(KindNames[item.kind]) + " " + Location(item);
            made = false;
        }
    }
    return made;
}

void SeedClean()
{
    std::vector<TItem> items = Items();
    // Files and shortcuts outside the trees that go whole.
    for (const TItem &item : items) {
        if (item.kind == KindFile || item.kind == KindShortcut) {
            SetFileAttributesW(item.path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(item.path.c_str());
        }
    }
    const std::wstring programs = FolderPath(CSIDL_PROGRAMS);
    const std::wstring trees[] = {Wide(SeedInstallDir), Wide(SiblingDir), Wide(BrowserDir),
                                  programs + L"Solvarine\\", programs + L"Solvarine2\\"};
    for (const std::wstring &tree : trees)
        DeleteTreeW(tree);

    for (const TItem &item : items)
        if (item.kind == KindProfile)
            WritePrivateProfileStringA(item.section.c_str(), item.name.c_str(), NULL, ProfilePath(item.profile).c_str());
    // The sections the seeding made, when nothing else is left in them.
    const std::pair<const char *, const char *> sections[] = {
        {"WIN.INI", "DVQ"}, {"WIN.INI", "Solvarine2"}, {"SYSTEM.INI", "boot"}, {"SYSTEM.INI", "boot.description"}};
    for (const auto &section : sections)
        if (SectionIsEmpty(section.first, section.second))
            WritePrivateProfileStringA(section.second, NULL, NULL, ProfilePath(section.first).c_str());

    const std::pair<HKEY, std::string> keys[] = {
        {HKEY_CLASSES_ROOT, "Solvarine.Connection"}, {HKEY_CLASSES_ROOT, ".wnq"},
        {HKEY_CLASSES_ROOT, "Solvarine2.Connection"}, {HKEY_CLASSES_ROOT, ".wnx"},
        {HKEY_CLASSES_ROOT, "Other.Connection"},     {HKEY_CLASSES_ROOT, ".xyz"},
        {HKEY_CURRENT_USER, std::string(UserClassesKey) + "Solvarine.Connection"},
        {HKEY_CURRENT_USER, std::string(UserClassesKey) + ".wnq"},
        {HKEY_CLASSES_ROOT, BrowserClassKey},       {HKEY_CURRENT_USER, NetscapeKey},
        {HKEY_LOCAL_MACHINE, ClientEntryKey},       {HKEY_LOCAL_MACHINE, SiblingEntryKey},
    };
    for (const auto &key : keys)
        DeleteRegistryTree(key.first, key.second);
    SetScreenSaving(false);
}

std::vector<TInventoryItem> Inventory()
{
    std::vector<TInventoryItem> inventory;
    for (const TItem &item : Items())
        inventory.push_back({item.client, IsPresent(item), KindNames[item.kind], Location(item)});
    // Clients first, each group in the order of the seeding.
    std::stable_partition(inventory.begin(), inventory.end(), [](const TInventoryItem &i) { return i.client; });
    return inventory;
}

std::string FormatInventory(const std::vector<TInventoryItem> &items)
{
    std::string text;
    for (const TInventoryItem &item : items) {
        char head[64];
        snprintf(head, sizeof head, "%-9s %-8s %-9s ", item.client ? "client" : "neighbour",
                 item.present ? "present" : "absent", item.kind.c_str());
        text += head + item.location + "\n";
    }
    return text;
}

std::vector<std::string> FullInventory()
{
    std::vector<std::string> lines;
    const std::wstring programs = FolderPath(CSIDL_PROGRAMS);
    ListTreeFrom(Wide(SeedInstallDir), true, lines);
    ListTreeFrom(Wide(SiblingDir), true, lines);
    ListTreeFrom(Wide(BrowserDir), true, lines);
    ListTreeFrom(programs, true, lines);
    ListTreeFrom(FolderPath(CSIDL_DESKTOPDIRECTORY), false, lines);
    ListTreeFrom(WindowsDirectory(), false, lines);

    const char *const winIni[] = {"DVQ", "Solvarine2", "netscape"};
    for (const char *section : winIni)
        ListSection("WIN.INI", section, lines);
    const char *const systemIni[] = {"boot", "boot.description"};
    for (const char *section : systemIni)
        ListSection("SYSTEM.INI", section, lines);

    ListKey(HKEY_CLASSES_ROOT, "Solvarine.Connection", lines);
    ListKey(HKEY_CLASSES_ROOT, ".wnq", lines);
    ListKey(HKEY_CLASSES_ROOT, "Solvarine2.Connection", lines);
    ListKey(HKEY_CLASSES_ROOT, ".wnx", lines);
    ListKey(HKEY_CLASSES_ROOT, "Other.Connection", lines);
    ListKey(HKEY_CLASSES_ROOT, ".xyz", lines);
    ListKey(HKEY_CURRENT_USER, UserClassesKey + std::string("Solvarine.Connection"), lines);
    ListKey(HKEY_CURRENT_USER, UserClassesKey + std::string(".wnq"), lines);
    ListKey(HKEY_CLASSES_ROOT, BrowserClassKey, lines);
    ListKey(HKEY_CURRENT_USER, NetscapeKey, lines);
    ListKey(HKEY_LOCAL_MACHINE, UninstallList, lines);
    ListKey(HKEY_CURRENT_USER, DesktopSettingsKey, lines, "ScreenSaveActive");
    lines.push_back(std::string("setting\tscreen saving\t") + (ScreenSavingOn() ? "on" : "off"));
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string InventoryLocation(const std::string &line)
{
    size_t start = line.find('\t');
    if (start == std::string::npos)
        return "";
    size_t end = line.find('\t', start + 1);
    return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

bool InventoryCovers(const TInventoryItem &item, const std::string &location)
{
    if (location == item.location)
        return true;
    if (item.kind == "dir")
        return location.compare(0, item.location.size(), item.location) == 0;
    if (item.kind == "key") {
        std::string below = item.location + "\\", values = item.location + " : ";
        return location.compare(0, below.size(), below) == 0 || location.compare(0, values.size(), values) == 0;
    }
    return false;
}

std::string DiffInventories(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    std::vector<std::string> gone, came;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(came));
    std::string text;
    for (const std::string &line : gone)
        text += "- " + line + "\n";
    for (const std::string &line : came)
        text += "+ " + line + "\n";
    return text;
}
