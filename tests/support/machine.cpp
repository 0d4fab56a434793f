#include "tests/support/machine.h"
#include "testtools/seed.h"
#include "common/scratch.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>

std::string FreshDir(const std::string &name)
{
    std::string path = "C:\\dvqtest\\" + name + "\\";
    DeleteTree(path);
    MakeDirs(path);
    return path;
}

void MakeDirs(const std::string &path)
{
    for (size_t i = 3; i <= path.size(); i++)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), NULL);
}

void MakeFile(const std::string &path, const std::string &content)
{
    MakeDirs(path.substr(0, path.rfind('\\')));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, content.data(), (DWORD)content.size(), &written, NULL);
    CloseHandle(file);
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void CollectTree(const std::string &dir, const std::string &relative, std::vector<std::string> &out,
                        bool remove)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string full = dir + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(relative + name + "\\");
            CollectTree(full + "\\", relative + name + "\\", out, remove);
            if (remove)
                RemoveDirectoryA(full.c_str());
        } else {
            out.push_back(relative + name);
            if (remove) {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

static std::string WithBackslash(const std::string &path)
{
    return !path.empty() && path.back() == '\\' ? path : path + "\\";
}

void DeleteTree(const std::string &path)
{
    std::vector<std::string> ignored;
    CollectTree(WithBackslash(path), "", ignored, true);
    RemoveDirectoryA(path.c_str());
}

std::vector<std::string> ListTree(const std::string &dir)
{
    std::vector<std::string> out;
    CollectTree(WithBackslash(dir), "", out, false);
    std::sort(out.begin(), out.end());
    return out;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, path);
    return path;
}

std::string WindowsDir()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, sizeof path);
    return path;
}

void SetRegString(HKEY root, const std::string &key, const char *name, const std::string &value)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL), ERROR_SUCCESS) << key;
    RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(handle);
}

bool RegKeyExists(HKEY root, const std::string &key)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool RegValueExists(HKEY root, const std::string &key, const char *name)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(handle, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return found;
}

void DeleteRegTree(HKEY root, const std::string &key)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        bool link = RegQueryValueExA(handle, "SymbolicLinkValue", NULL, &type, NULL, NULL) == ERROR_SUCCESS &&
                    type == REG_LINK;
        typedef LONG(NTAPI * TNtDeleteKey)(HANDLE);
        if (link)
            ((TNtDeleteKey)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey"))((HANDLE)handle);
        RegCloseKey(handle);
        if (link)
            return;
    }
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
        char name[256];
        while (RegEnumKeyA(handle, 0, name, sizeof name) == ERROR_SUCCESS) {
            size_t before = RegKeyExists(root, key + "\\" + name);
            DeleteRegTree(root, key + "\\" + name);
            if (before && RegKeyExists(root, key + "\\" + name))
                break;
        }
        RegCloseKey(handle);
    }
    RegDeleteKeyA(root, key.c_str());
}

void SetRegBytes(HKEY root, const std::string &key, const wchar_t *name, DWORD type, const std::string &bytes)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL), ERROR_SUCCESS)
        << key;
    RegSetValueExW(handle, name, 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(handle);
}

void MakeRegLink(HKEY root, const std::string &key, const std::string &machineKey)
{
    std::string target = "\\Registry\\Machine\\" + machineKey;
    std::wstring wide(target.begin(), target.end());
    HKEY link;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              NULL, &link, NULL),
              ERROR_SUCCESS)
        << key;
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, (const BYTE *)wide.data(), (DWORD)(wide.size() * 2));
    RegCloseKey(link);
}

void SetExePath(const char *value)
{
    WriteProfileStringA("DVQ", "ExePath", value);
}

std::string GetExePath()
{
    char value[2048] = "";
    GetProfileStringA("DVQ", "ExePath", "", value, sizeof value);
    return value;
}

long ForEachAllocationFailure(const std::function<void()> &setUp, const std::function<void()> &action,
                              const std::function<void(long failAt)> &check)
{
    setUp();
    ResetScratchCounters(0);
    action();
    long count = ScratchCounters.Allocations;
    EXPECT_EQ(ScratchCounters.Live, 0) << "held after a run without failures";
    for (long failAt = 1; failAt <= count; failAt++) {
        setUp();
        ResetScratchCounters(failAt);
        action();
        EXPECT_EQ(ScratchCounters.Live, 0) << "held after allocation " << failAt << " failed";
        ResetScratchCounters(0);
        check(failAt);
    }
    return count;
}

std::string ReadWholeFile(const std::string &path)
{
    std::string content;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        content.append(buffer, read);
    CloseHandle(file);
    return content;
}

TSavedRegValue::TSavedRegValue(HKEY root, const std::string &key, const std::string &name)
    : root(root), key(key), name(name)
{
    char value[4096];
    DWORD size = sizeof value;
    if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, value, &size) ==
        ERROR_SUCCESS)
        bytes.assign(value, size);
    else
        type = REG_NONE;
}

TSavedRegValue::~TSavedRegValue()
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
        return;
    if (type == REG_NONE)
        RegDeleteValueA(handle, name.c_str());
    else
        RegSetValueExA(handle, name.c_str(), 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(handle);
}

static const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

static std::string Utf8(const wchar_t *text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, NULL, NULL);
    out.resize(strlen(out.c_str()));
    return out;
}

std::vector<std::string> PendingDeletions()
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, &type, NULL, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, &type, (BYTE *)data.data(), &size);
        // Pairs of strings, a name and what it becomes ("" to delete it).
        for (size_t i = 0; i < size / sizeof(wchar_t) && data[i] != L'\0';) {
            std::string name = Utf8(&data[i]);
            i += wcslen(&data[i]) + 1;
            std::string target = Utf8(&data[i]);
            i += wcslen(&data[i]) + 1;
            names.push_back(target.empty() ? name : name + " -> " + target);
        }
    }
    RegCloseKey(key);
    return names;
}

void ClearPendingDeletions()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

THeldFile::THeldFile(const std::string &path, DWORD sharing)
    : file(CreateFileA(path.c_str(), GENERIC_READ, sharing, NULL, OPEN_EXISTING, 0, NULL))
{
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
}

void RestartMachine()
{
    char line[] = "wineboot.exe -r";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void SaveShortcut(const std::string &path, const std::string &target)
{
    EXPECT_TRUE(SaveShortcutFile(std::wstring(path.begin(), path.end()), target)) << path << " -> " << target;
}
