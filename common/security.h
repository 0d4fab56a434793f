// Who may change a directory: closing one to everybody but administrators and
// the system, and telling whether anybody else may delete it, rename it, change
// its rights or remove what it holds.
#pragma once
#include <windows.h>

// A security descriptor that closes a directory: owner Administrators; a
// protected DACL (nothing inherited) that gives Administrators and SYSTEM full
// control, inherited by what is made inside, and withdraws from the owner the
// right to change the DACL that owning it would otherwise imply.
struct TClosedDescriptor {
    SECURITY_DESCRIPTOR Descriptor;
    BYTE Administrators[SECURITY_MAX_SID_SIZE];
    BYTE System[SECURITY_MAX_SID_SIZE];
    BYTE OwnerRights[SECURITY_MAX_SID_SIZE];
    BYTE Acl[256];
};
bool MakeClosedDescriptor(TClosedDescriptor *closed);

// Gives the open directory (opened with WRITE_DAC, and WRITE_OWNER for the owner)
// that descriptor, on it alone: what it holds keeps its own. The owner becomes
// Administrators where the system lets it. True when the DACL was set.
bool CloseToOthers(HANDLE directory);

// True when nobody but Administrators, SYSTEM, TrustedInstaller and the account
// the run is (when it is an administrator) may delete or rename the open entry,
// change its rights or owner, or delete what it holds: its owner and its DACL
// say so. With againstAdding, nor add entries to it. (An entry that nobody can
// remove cannot be replaced by adding another: adding matters only where the
// entry itself might be removed, in the directory that holds it.)
bool IsGuardedDirectory(HANDLE directory, bool againstAdding);

// The account of a token (opened with TOKEN_QUERY), into sid
// (SECURITY_MAX_SID_SIZE bytes).
bool GetTokenAccount(HANDLE token, BYTE *sid);
