// The users whose own items the run removes: the account the process runs as,
// and the account that owns the session's shell when that is another one (a
// standard user for whom an administrator approved the un-installer's elevation:
// the process then runs as the administrator). Each user's folders come from the
// shell with that user's token, its registry from its own hive; the per-user
// part of each step takes the user as an argument.
#pragma once
#include <windows.h>

const int MaxRunUsers = 2;

struct TRunUser {
    HANDLE Token;         // the user's token; NULL for the account the process runs as
    HKEY Registry;        // root of the user's registry: HKEY_CURRENT_USER, or its key under HKEY_USERS
    bool OwnsRegistry;    // Registry was opened for the run, and is closed with it
    WCHAR Desktop[MAX_PATH];       // the user's folders; empty when the shell gives none
    WCHAR Programs[MAX_PATH];
    WCHAR LocalAppData[MAX_PATH];  // where the user's VirtualStore is
};

struct TRunUsers {
    TRunUser Users[MaxRunUsers];
    int Count;  // the account the process runs as first
};

// The run's users, found once before the client is located.
extern TRunUsers RunUsers;

// Finds the users: the account the process runs as, and the shell's owner when
// that is another account. When the shell cannot be had (none runs), the
// account the process runs as alone.
void OpenRunUsers(TRunUsers *users);
void CloseRunUsers(TRunUsers *users);

// The account the process runs as alone, as a step run on its own has it.
void OpenRunningUser(TRunUser *user);
void CloseRunUser(TRunUser *user);

// Where the user's VirtualStore keeps its copy of path (a full path on the
// system's volume, X:\...): LocalAppData\VirtualStore\ followed by the path
// without its drive, into copy (chars characters). The system put there what
// the client wrote to protected places (the Windows directory, Program Files)
// while it ran unelevated. False for a path on another volume, for a user
// without the folder, or when it does not fit.
bool GetVirtualStoreCopy(const TRunUser *user, const WCHAR *path, WCHAR *copy, DWORD chars);

// For tests only, null in the program: when set, it stands for the shell's owner
// of another account. It fills the user given (folders and registry root, a
// token of NULL) and returns true, or returns false for none.
extern bool (*SecondRunUserForTests)(TRunUser *user);
