// Test helpers that set up and inspect the state of the (Wine) machine: folders
// and files, the registry, WIN.INI, shell folders, and the program's scratch
// accounting.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// A fresh, empty folder C:\dvqtest\<name>\ (with the trailing backslash).
std::string FreshDir(const std::string &name);
void MakeDirs(const std::string &path);              // with every missing parent
void MakeFile(const std::string &path, const std::string &content = "x");
bool FileExists(const std::string &path);             // a file, not a directory
bool DirExists(const std::string &path);
void DeleteTree(const std::string &path);            // test clean-up; ignores errors
// Every file and folder below dir, as paths relative to it, sorted.
std::vector<std::string> ListTree(const std::string &dir);

std::string ShellFolder(int csidl);                  // without a trailing backslash
std::string WindowsDir();                            // without a trailing backslash

void SetRegString(HKEY root, const std::string &key, const char *name, const std::string &value);
bool RegKeyExists(HKEY root, const std::string &key);
bool RegValueExists(HKEY root, const std::string &key, const char *name);
void DeleteRegTree(HKEY root, const std::string &key);  // a link itself, not what it leads to
// Sets a value to the bytes given (a string's in UTF-16); a null name is the
// default value.
void SetRegBytes(HKEY root, const std::string &key, const wchar_t *name, DWORD type, const std::string &bytes);
// Makes key a registry link to machineKey, a key under HKEY_LOCAL_MACHINE.
void MakeRegLink(HKEY root, const std::string &key, const std::string &machineKey);

// A registry value saved when made and put back as it was (or deleted, when it
// was not there) when destroyed.
struct TSavedRegValue {
    HKEY root;
    std::string key, name;
    DWORD type = REG_NONE;
    std::string bytes;
    TSavedRegValue(HKEY root, const std::string &key, const std::string &name);
    ~TSavedRegValue();
};

// "ExePath" of section "DVQ" of WIN.INI; null removes the key.
void SetExePath(const char *value);
std::string GetExePath();

// Runs action once to count its scratch allocations, then once for each of them
// with that allocation failing; after every run, check() is called and the test
// fails if a scratch block is still held. Returns the number of allocations.
long ForEachAllocationFailure(const std::function<void()> &setUp, const std::function<void()> &action,
                              const std::function<void(long failAt)> &check);

// The whole content of a file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string &path);

// The machine's list of files to delete at the next restart (the session
// manager's PendingFileRenameOperations), as the names it holds ("\??\C:\...");
// a rename to somewhere else is listed as "name -> new name". Empty when none.
std::vector<std::string> PendingDeletions();
void ClearPendingDeletions();

// A file kept open, as a running program keeps what it uses, until destroyed.
struct THeldFile {
    HANDLE file;
    THeldFile(const std::string &path, DWORD sharing);
    ~THeldFile() { CloseHandle(file); }
};

// Restarts the (Wine) machine the way the pending list is carried out: wineboot
// with -r, waited for.
void RestartMachine();

// Saves a shortcut file at path (a full path) that leads to target; COM must be
// initialised.
void SaveShortcut(const std::string &path, const std::string &target);
