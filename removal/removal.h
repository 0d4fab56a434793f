// The removal steps, in the order the run calls them. None reports anything: a
// step that cannot get what it needs does nothing more.
#pragma once
#include <windows.h>
#include "findfile/findfile.h"
#include "client/removalrecord.h"
#include "common/ntfile.h"

// What became of what a removal could not delete at once.
struct TTally {
    bool Scheduled;  // it waits for the next restart
    bool Left;       // it stays: it could be neither deleted nor scheduled
};

struct TRestartPlan;  // removal/restart.h

// Deletes the file, read-only or not; when it has other hard links, they keep
// their attributes. The file is opened by its name in its directory, which is
// opened once, and deleted through its own handle; a link is deleted itself. A
// path that is not full (a drive, a colon and a backslash, or a share
// "\\server\share\") is left alone, and so is a directory.
void ForceDeleteFile(const char *path);

// The same for a file that a step sets out to delete: it is recorded, by the
// directory handle the deletion used, for the leftover step.
void ForceDeleteRecordedFile(TRemovalTarget kind, const char *path);

// The per-user steps for the account the process runs as, and (the ...Of forms)
// for a user of the run (client/runuser.h).
struct TRunUser;

void RemoveBrowserPlugin();
void RemoveScreenSaver();
void RemoveScreenSaverSettingOf(const TRunUser *user);
void DeleteClientProfileKey();
// The same key in the user's VirtualStore copy of WIN.INI, when there is one.
void DeleteVirtualProfileKeyOf(const TRunUser *user);
// The client's registration: its document type "Solvarine.Connection" and file
// extension ".wnq" under the machine's classes (HKEY_LOCAL_MACHINE's
// Software\Classes) and the current user's (RemoveUserRegistration), the
// browser's MIME settings, and the uninstall entry. The document type goes with
// everything below it, and so does the extension when it is the client's: when
// its default value names the document type (in any case of its letters), is
// empty or is not there. An extension that names something else, or whose
// default value is no string, stays. Each key is opened by its name in its
// parent as itself: a link is deleted, never what it leads to, and no key more
// than MaxKeyTreeDepth levels below the top is reached. The uninstall entry loses
// its own values and goes unless a subkey is below it. A key of the client's
// that is still there afterwards, in either part or in the merged view
// HKEY_CLASSES_ROOT, and an extension that cannot be told to be another
// program's, is recorded as unreached (client/removalrecord.h).
void RemoveRegistration();

// The same for one user's part of the registry, whose root is userRoot
// (HKEY_CURRENT_USER, or HKEY_USERS\<SID> of another user): the document type and
// extension under userRoot\Software\Classes and the browser's MIME settings
// under userRoot\Software\Netscape.
void RemoveUserRegistration(HKEY userRoot);

// The client's keys of HKEY_LOCAL_MACHINE\Software as a user's VirtualStore
// holds them (userRoot\Software\Classes\VirtualStore\MACHINE\SOFTWARE), where
// the system put what the client wrote there when it ran unelevated: the
// document type, the extension and the uninstall entry, as above.
void RemoveVirtualRegistration(HKEY userRoot);

// The levels below the top of a registry key tree that its removal reaches.
const int MaxKeyTreeDepth = 32;

void RemoveDesktopShortcuts();
void RemoveDesktopShortcutsOf(const TRunUser *user);
// For tests only, null in the program: when set, RemoveDesktopShortcuts calls it
// after each pass that found a shortcut to the client, once that shortcut's
// deletion has been tried and before the next pass lists the desktop.
extern void (*AfterShortcutDeletion)();
void RemoveProgramGroup();
void RemoveProgramGroupOf(const TRunUser *user);
void RemoveInstallDirectory();

// What is left of the run's removal once the steps above have run.
enum TLeftovers {
    NothingLeft,        // everything the steps set out to delete is gone
    LeftForRestart,     // what is left is in use and will be deleted at the next restart
    LeftBehind,         // something could be neither deleted nor scheduled
};

// The last removal step: what the steps recorded (client/removalrecord.h) as
// still there is deleted once more through the handles recorded, or else
// scheduled for deletion at the next restart where it may wait
// (removal/restart.h), files before the directories holding them and the
// deepest first. Only the recorded files and what lies inside the recorded trees
// is touched, and links are never entered. Without an open, complete record the
// answer is LeftBehind.
TLeftovers RemoveLeftovers();

// True when the target path names a file called DVQ32.EXE, in any directory and
// in any case.
bool IsClientTarget(const char *targetPath);

// The full path of a shortcut listed on the desktop into shortcut, size bytes. An
// entry whose name did not come through the ANSI conversion exactly ("?" for a
// character the code page lacks, or a best-fit look-alike) is named by its short
// name; false when that will not do either, when the entry is a directory, or
// when the path does not fit.
bool GetListedShortcut(const char *desktop, const WIN32_FIND_DATAA *entry, char *shortcut, DWORD size);

// The same in wide characters: the target of the shortcut file at linkPath (a
// full path) into target (chars characters), empty unless resolution succeeded.
HRESULT ResolveShortcutW(const WCHAR *linkPath, WCHAR *target, DWORD chars);
bool IsClientTargetW(const WCHAR *target);

// The client's shortcuts on the desktop open in directory, whose full path is
// desktop, in one listing through the handle: each shortcut is resolved by its
// wide path and, when it leads to the client, deleted through directory. With a
// plan (the leftover step) those recorded are passed over and what stays is
// settled into tally; without one, what stays is recorded.
void RemoveClientShortcutsIn(HANDLE directory, const WCHAR *desktop, TRestartPlan *plan, TTally *tally);

// Resolves the shortcut file linkPath and copies the short form of its target's
// path into targetPath (WindowsPathSize bytes); targetPath is empty unless the
// resolution succeeded all the way. Returns the platform's result code.
HRESULT ResolveShortcut(HWND ownerWindow, const char *linkPath, char *targetPath);


// Deletes directory (a full path ending with a backslash) with everything in it.
// The top is opened without following a link; a top that is a link, a drive's
// root, a relative path, or one through "." or "..", is left alone.
void RemoveDirectoryTree(const char *directory);

// True for a directory that the tree removal may act in: a drive, a colon and a
// backslash (or a share, "\\server\share\"), then one or more plain names each
// followed by a backslash.
bool IsTreeDirectory(const char *directory);

// Opens the top of a tree (a directory as IsTreeDirectory takes it) for its
// removal: TreeAccess, not shared for deletion, a link opened as itself. A top
// that another program holds open without delete sharing is opened without the
// right to delete it, one whose rights may not be changed without that right. On failure *top is INVALID_HANDLE_VALUE and the status
// says why: gone (IsGone), or StatusAccessDenied for a link, something that is
// no directory, or one that cannot be opened.
TStatus OpenTreeTop(const char *directory, HANDLE *top);

// The same for a full wide path without its trailing backslash.
TStatus OpenTreeTopW(const WCHAR *path, HANDLE *top);

// Removes the tree whose top is open (RemoveOpenTree, without a plan); when it
// is not gone, it is recorded as a target of kind, which takes the handle.
// Otherwise the handle is closed.
void RemoveRecordedTree(TRemovalTarget kind, HANDLE top, bool closeToOthers);

// Removes the tree whose top directory is open in top: every entry is opened by
// its name through the handle of the directory that lists it, checked to be the
// entry listed (its kind and file number), and deleted through its own handle;
// a link is deleted itself and never entered, an entry that is not the one
// listed is left. Each directory is removed after what it holds, the top last,
// through top. With closeToOthers, each directory is closed to everybody but
// administrators and the system (common/security.h) before anything in it is
// deleted. With a plan, what stays is scheduled for the restart where it may
// be (removal/restart.h); tally says what became of it.
void RemoveOpenTree(HANDLE top, bool closeToOthers, TRestartPlan *plan, TTally *tally);

// For tests only, null in the program: when set, the tree removal calls it after
// each entry it deleted.
extern void (*AfterTreeDeletion)();
