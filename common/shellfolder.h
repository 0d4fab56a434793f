#pragma once
#include <windows.h>
#include <shlobj.h>

// The file-system path of a shell special folder (CSIDL_*), through the shell's
// allocator: the item-ID list is obtained, turned into a path and freed. A folder
// of which the shell makes no list (some shells, for a folder on a share) is asked
// for by its path. False when the folder cannot be had or its path does not fit
// size bytes.
bool GetShellFolderPath(IMalloc *shellMalloc, int csidl, char *path, size_t size);

// The same in wide characters, into path (size characters).
bool GetShellFolderPathW(IMalloc *shellMalloc, int csidl, WCHAR *path, size_t size);

// The ANSI form of the wide folder path into path (size bytes) when it names the
// folder exactly: no character of it is replaced ("?") or changed by best fit
// (an "L" for an "Ł"). False when it does not, or does not fit.
bool IsExactAnsiForm(const WCHAR *wide, char *path, size_t size);
