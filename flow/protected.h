#pragma once
#include "client/clientpath.h"

// True when the directory of clientPath (the client executable's full path) must
// not be removed: a drive's root, a folder the system or any account of the
// machine cannot do without or a folder holding one (every profile, with the
// folders at its top), a path whose form could make the removal act anywhere
// but where the user is shown, or a path that names no client: a file that is
// not called DVQ32.EXE, or a directory. Folders are compared by identity, and a
// protected folder that is a link, or lies below one, protects the folder it
// really is, with everything above that, as well as its own path.
bool IsProtectedDirectory(const char *clientPath);

// The same check, and when the directory may be removed, its approval: the
// directory is held open in approved (not shared for deletion) with its
// identity; or, when it is not there, marked missing (gone from a volume that is
// there) or unreachable (its volume, or a folder on its way, cannot be reached),
// which is not refused. approved is released first, and holds nothing when the
// answer is true.
bool CheckInstallDirectory(const char *clientPath, TApprovedDirectory *approved);
