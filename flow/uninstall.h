#pragma once
#include <windows.h>

// The whole run, from the running-client check to the final message. Returns the
// process exit code, 0 on every path.
int RunUninstall(HINSTANCE instance);

// The removal sequence, run only after both confirmations, and its last message.
// Drive and directory are the installation directory as the boxes show it.
void RunRemoval(const char *drive, const char *directory);
