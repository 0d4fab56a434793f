// The removal steps, in the order the run calls them. None reports anything: a
// step that cannot get what it needs does nothing more.
#pragma once
#include <windows.h>
#include "findfile/findfile.h"

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

// Resolves the shortcut file linkPath and copies the short form of its target's
// path into targetPath (WindowsPathSize bytes); targetPath is empty unless the
// resolution succeeded all the way. Returns the platform's result code.
HRESULT ResolveShortcut(HWND ownerWindow, const char *linkPath, char *targetPath);

// Deletes directory (a full path ending with a backslash) with everything in it,
// in repeated passes of the walker. A drive's root, a relative path, or one
// through "." or ".." is left alone.
void RemoveDirectoryTree(const char *directory);

// The walker's callback for those passes: deletes the entry. Always returns 1.
int RemoveTreeEntry(const char *directory, WIN32_FIND_DATAA *entry, void *userData);
