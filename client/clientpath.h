// Where the client is installed, and how large the run's path buffers are.
#pragma once

extern int InstallPathSize;  // bytes of a buffer for a path on the client's volume
extern int WindowsPathSize;  // bytes of a buffer for a path on the Windows volume,
                             // or a value read from the profile or the registry
extern char *ClientPath;     // the client executable's full path, InstallPathSize bytes

// Reads "ExePath" of section "DVQ" of WIN.INI into buffer (size bytes with the
// terminator); true when the value read is not empty.
bool ReadClientPath(char *buffer, int size);

// Sets both path sizes from the volumes of the client and of Windows and allocates
// ClientPath. False when there is no client or no memory; nothing is then held.
bool InitPathBuffers();

// Releases ClientPath; safe when it was never allocated.
void FreePathBuffers();
