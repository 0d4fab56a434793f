#pragma once

// True when the directory of clientPath (the client executable's full path) must
// not be removed: a drive's root, a folder the system or the user cannot do
// without or a folder holding one, or a path whose form could make the removal
// act anywhere but where the user is shown.
bool IsProtectedDirectory(const char *clientPath);
