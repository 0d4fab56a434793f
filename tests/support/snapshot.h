// Test helpers that record a piece of the machine's state before a test changes it
// and put it back afterwards: a registry key with everything below it, a section of
// a profile file, a file. Also the number of handles the process holds.
#pragma once
#include "tests/support/machine.h"
#include <windows.h>
#include <winternl.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <utility>
#include <vector>

struct TKeyImage {
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool exists = false;
    std::vector<Value> values;
    std::vector<std::pair<std::string, TKeyImage>> subkeys;
};

inline TKeyImage CaptureKey(HKEY root, const std::string &path)
{
    TKeyImage image;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return image;
    image.exists = true;
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameLength = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, NULL, &type, NULL, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        nameLength = sizeof name;
        RegEnumValueA(key, i, name, &nameLength, NULL, &type, data.data(), &size);
        data.resize(size);
        image.values.push_back({name, type, data});
    }
    for (DWORD i = 0;; i++) {
        char name[256];
        if (RegEnumKeyA(key, i, name, sizeof name) != ERROR_SUCCESS)
            break;
        image.subkeys.push_back({name, CaptureKey(root, path + "\\" + name)});
    }
    RegCloseKey(key);
    return image;
}

// Makes the key exactly what the image recorded (or absent).
inline void RestoreKey(HKEY root, const std::string &path, const TKeyImage &image)
{
    DeleteRegTree(root, path);
    if (!image.exists)
        return;
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    for (const TKeyImage::Value &value : image.values)
        RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(), (DWORD)value.data.size());
    RegCloseKey(key);
    for (const auto &subkey : image.subkeys)
        RestoreKey(root, path + "\\" + subkey.first, subkey.second);
}

inline void SetRegValue(HKEY root, const std::string &key, const char *name, DWORD type, const void *data,
                        DWORD size)
{
    HKEY handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, name, 0, type, (const BYTE *)data, size);
    RegCloseKey(handle);
}

inline std::string ProfileFile(const char *name)
{
    return WindowsDir() + "\\" + name;
}

inline bool ProfileSectionExists(const std::string &file, const char *section)
{
    std::vector<char> names(65536);
    DWORD length = GetPrivateProfileSectionNamesA(names.data(), (DWORD)names.size(), file.c_str());
    for (DWORD i = 0; i < length; i += (DWORD)strlen(&names[i]) + 1)
        if (lstrcmpiA(&names[i], section) == 0)
            return true;
    return false;
}

inline std::string ProfileValue(const std::string &file, const char *section, const char *key,
                                const char *byDefault = "")
{
    char value[4096] = "";
    GetPrivateProfileStringA(section, key, byDefault, value, sizeof value, file.c_str());
    return value;
}

struct TSectionImage {
    std::string file;
    std::string section;
    bool exists = false;
    std::vector<char> content;  // key=value strings, each ending with a zero
};

inline TSectionImage CaptureSection(const std::string &file, const char *section)
{
    TSectionImage image;
    image.file = file;
    image.section = section;
    image.exists = ProfileSectionExists(file, section);
    std::vector<char> content(65536);
    DWORD length = GetPrivateProfileSectionA(section, content.data(), (DWORD)content.size(), file.c_str());
    image.content.assign(content.begin(), content.begin() + length);
    return image;
}

inline void RestoreSection(const TSectionImage &image)
{
    WritePrivateProfileStringA(image.section.c_str(), NULL, NULL, image.file.c_str());
    if (!image.exists)
        return;
    std::vector<char> content = image.content;
    content.push_back('\0');
    content.push_back('\0');
    WritePrivateProfileSectionA(image.section.c_str(), content.data(), image.file.c_str());
}

struct TFileImage {
    std::string path;
    bool exists = false;
    DWORD attributes = 0;
    std::string content;
};

inline TFileImage CaptureFile(const std::string &path)
{
    TFileImage image;
    image.path = path;
    image.attributes = GetFileAttributesA(path.c_str());
    image.exists = image.attributes != INVALID_FILE_ATTRIBUTES && !(image.attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!image.exists)
        return image;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return image;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        image.content.append(buffer, read);
    CloseHandle(file);
    return image;
}

inline void RestoreFile(const TFileImage &image)
{
    SetFileAttributesA(image.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(image.path.c_str());
    if (!image.exists)
        return;
    MakeFile(image.path, image.content);
    SetFileAttributesA(image.path.c_str(), image.attributes);
}

// Handles of every kind (files, registry keys, ...) that this process holds; -1
// when the system does not say.
inline long OpenHandleCount()
{
    struct Entry {
        ULONG processId;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    typedef NTSTATUS(WINAPI * QueryFunction)(ULONG, PVOID, ULONG, PULONG);
    QueryFunction query =
        (QueryFunction)(void (*)())GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (query == NULL)
        return -1;
    const ULONG SystemHandleInformation = 16;
    for (ULONG size = 1 << 16; size < (1u << 28); size *= 2) {
        std::vector<BYTE> buffer(size);
        ULONG returned = 0;
        NTSTATUS status = query(SystemHandleInformation, buffer.data(), size, &returned);
        if (status == (NTSTATUS)0xC0000004L)  // the table did not fit
            continue;
        if (status != 0)
            return -1;
        const Table *table = (const Table *)buffer.data();
        long count = 0;
        for (ULONG i = 0; i < table->count; i++)
            if (table->entries[i].processId == GetCurrentProcessId())
                count++;
        return count;
    }
    return -1;
}
