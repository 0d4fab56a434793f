// Where the client is installed, and how large the run's path buffers are.
#pragma once
#include <windows.h>
#include "client/runuser.h"

extern int InstallPathSize;  // bytes of a buffer for a path on the client's volume
extern int WindowsPathSize;  // bytes of a buffer for a path on the Windows volume,
                             // or a value read from the profile or the registry
extern char *ClientPath;     // the client executable's full path, InstallPathSize bytes

// Reads "ExePath" of section "DVQ" of WIN.INI into buffer (size bytes with the
// terminator); true when the value read is not empty. When WIN.INI has none, the
// VirtualStore copies of WIN.INI of the run's users (RunUsers) are read, where
// the client's writes went when it ran unelevated: a value there that the ANSI
// code page holds exactly, whole, counts.
bool ReadClientPath(char *buffer, int size);

// The path of the user's VirtualStore copy of WIN.INI into path (chars
// characters); false when the user has none to have.
bool GetVirtualWinIni(const TRunUser *user, WCHAR *path, DWORD chars);

// Sets both path sizes from the volumes of the client and of Windows and allocates
// ClientPath. False when there is no client or no memory; nothing is then held.
bool InitPathBuffers();

// Releases ClientPath and the approved directory; safe when they were never had.
void FreePathBuffers();

// The installation directory as the protected-directory check approved it: held
// open from the check to the end of the run, not shared for deletion, so that
// nobody can rename or replace it meanwhile; with its identity, which the
// removal finds again at its path before it goes on.
struct TApprovedDirectory {
    HANDLE Top;        // INVALID_HANDLE_VALUE when nothing is held
    bool Missing;      // the check found no directory there, on a volume that is
                       // there: it is gone
    bool Unreachable;  // the check could not reach it (its volume, a folder on its
                       // way): what is there is not known
    DWORD Volume;      // serial number of its volume
    ULONGLONG FileId;  // its number on the volume
};
extern TApprovedDirectory ApprovedDirectory;

// The VirtualStore copies of the installation directory (client/runuser.h), one
// a user of the run, approved by the check with the directory: each is removed
// with it, and as it is.
struct TApprovedCopy {
    TApprovedDirectory Approval;
    WCHAR Path[2 * MAX_PATH];  // its full path, without a trailing backslash
};
extern TApprovedCopy ApprovedCopies[MaxRunUsers];

// Lets go of the approved directory and its copies; safe when none is held.
void ReleaseApprovedDirectory();
