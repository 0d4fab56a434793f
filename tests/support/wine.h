// Wine's own side doors, for tests that shape the machine as Windows would have
// it: Unix paths and programs, and drive letters.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The Unix path of a Windows path; empty when not running under Wine.
std::string UnixPath(const std::string &windowsPath);

// Runs a Unix program and waits for it; false when that cannot be done.
bool RunUnix(std::vector<std::string> args);

// Maps the drive letter to a Unix folder, or removes it when unixPath is empty,
// as Wine's configuration tool does (a link in the prefix's dosdevices folder),
// as a drive of the given type (DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_REMOTE, ...).
// Returns once every file under the letter reports its new volume, up to a second
// after the letter itself answers.
bool DefineWineDrive(char letter, const std::string &unixPath, UINT type = DRIVE_FIXED);

// A folder moved to target (where nothing is yet) with a link to it left in its
// place, as a folder move followed by mklink /D makes it: the folder keeps its
// path and is the target. Moved back when destroyed.
struct TLinkedFolder {
    std::string unixFolder, unixTarget;
    bool ready;
    TLinkedFolder(const std::string &folder, const std::string &target);
    ~TLinkedFolder();
};
