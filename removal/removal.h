// The removal steps, in the order the run calls them. None reports anything: a
// step that cannot get what it needs does nothing more.
#pragma once
#include <windows.h>
#include "findfile/findfile.h"

// Attributes that are cleared before a file is deleted.
const DWORD AttributesInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Deletes the file, clearing its attributes first when they stand in the way;
// the results are ignored. A read-only file's other hard links keep their
// attributes. A path that is not full (a drive, a colon and a backslash, or a
// share "\\server\share\") is left alone.
void ForceDeleteFile(const char *path);

void RemoveBrowserPlugin();
void RemoveScreenSaver();
void DeleteClientProfileKey();
void RemoveRegistration();
void RemoveDesktopShortcuts();
// For tests only, null in the program: when set, RemoveDesktopShortcuts calls it
// after each pass that found a shortcut to the client, once that shortcut's
// deletion has been tried and before the next pass lists the desktop.
extern void (*AfterShortcutDeletion)();
void RemoveProgramGroup();
void RemoveInstallDirectory();

// What is left of the run's removal once the steps above have run.
enum TLeftovers {
    NothingLeft,        // everything the steps set out to delete is gone
    LeftForRestart,     // what is left is in use and will be deleted at the next restart
    LeftBehind,         // something could be neither deleted nor scheduled
};

// The last removal step: what the steps recorded (client/removalrecord.h) and is
// still there is deleted once more, through the wide API, or else scheduled for
// deletion at the next restart, files before the directories holding them and the
// deepest first. Only the recorded files and what lies inside the recorded trees
// is touched; links are never entered, and a tree whose top is a link is left
// alone. Without an open, complete record the answer is LeftBehind.
TLeftovers RemoveLeftovers();

// For tests: while set, scheduling a deletion for the next restart fails, as it
// does for a user who may not change the machine's settings.
extern volatile LONG RefuseRestartDeletion;

// True when the target path names a file called DVQ32.EXE, in any directory and
// in any case.
bool IsClientTarget(const char *targetPath);

// The full path of a shortcut listed on the desktop into shortcut, size bytes. An
// entry whose name did not come through the ANSI conversion exactly ("?" for a
// character the code page lacks, or a best-fit look-alike) is named by its short
// name; false when that will not do either, when the entry is a directory, or
// when the path does not fit.
bool GetListedShortcut(const char *desktop, const WIN32_FIND_DATAA *entry, char *shortcut, DWORD size);

// Resolves the shortcut file linkPath and copies the short form of its target's
// path into targetPath (WindowsPathSize bytes); targetPath is empty unless the
// resolution succeeded all the way. Returns the platform's result code.
HRESULT ResolveShortcut(HWND ownerWindow, const char *linkPath, char *targetPath);

// Deletes directory (a full path ending with a backslash) with everything in it,
// in repeated passes of the walker. A drive's root, a relative path, or one
// through "." or ".." is left alone.
void RemoveDirectoryTree(const char *directory);

// True for a directory that the tree removal may act in: a drive, a colon and a
// backslash (or a share, "\\server\share\"), then one or more plain names each
// followed by a backslash.
bool IsTreeDirectory(const char *directory);

// The walker's callback for those passes: deletes the entry. Always returns 1.
int RemoveTreeEntry(const char *directory, WIN32_FIND_DATAA *entry, void *userData);
