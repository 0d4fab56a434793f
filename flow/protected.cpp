#include "flow/protected.h"
#include "client/clientpath.h"
#include "client/runuser.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include "common/ntfile.h"
#include "removal/removal.h"
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

// Folders that must survive, with everything above them. The first three are the
// Start menu's Programs, the Desktop and Startup; the others hold what the system
// and the user's other programs keep, and the user's own files.
static const int ProtectedShellFolders[] = {
    CSIDL_PROGRAMS, CSIDL_DESKTOP, CSIDL_STARTUP,
    CSIDL_STARTMENU, CSIDL_PROFILE, CSIDL_PERSONAL, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA,
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_APPDATA, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTUP,
    CSIDL_COMMON_STARTMENU, CSIDL_FONTS, CSIDL_MYMUSIC, CSIDL_MYPICTURES, CSIDL_MYVIDEO, CSIDL_FAVORITES,
    CSIDL_TEMPLATES, CSIDL_COMMON_MUSIC, CSIDL_COMMON_PICTURES, CSIDL_COMMON_VIDEO, CSIDL_COMMON_FAVORITES,
    CSIDL_COMMON_TEMPLATES, CSIDL_COMMON_DOCUMENTS,
};

// Folders that only have a known-folder identifier: Downloads, Public and Public
// Downloads.
static const GUID ProtectedKnownFolders[] = {
    {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}},
    {0xDFDF76A2, 0xC82A, 0x4D63, {0x90, 0x6A, 0x56, 0x44, 0xAC, 0x45, 0x73, 0x85}},
    {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}},
};

// The native Program Files folders, which a 32-bit process on 64-bit Windows
// finds only in its environment.
static const WCHAR *const ProtectedEnvironmentFolders[] = {L"ProgramW6432", L"CommonProgramW6432"};

// The folders that the shell keeps at the top of every profile, the user's
// files and every program's settings among them.
static const WCHAR *const ProfileTopFolders[] = {
    L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos", L"Favorites", L"Links",
    L"Saved Games", L"Contacts", L"Searches", L"OneDrive", L"AppData", L"AppData\\Local", L"AppData\\LocalLow",
    L"AppData\\Roaming",
};

// Where the machine keeps its accounts' profiles.
static const WCHAR ProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The client path must name one file by an absolute path that the ANSI file API
// takes as it stands: no current drive or directory, no "." or ".." and no
// component that the platform would silently trim (trailing dots and spaces), no
// wildcards or stream names, nothing that fills its buffer (it may have been cut
// when read), and a directory part that the removal's buffers hold.
static bool HasRemovableForm(const char *clientPath)
{
    size_t length = strlen(clientPath);
    if (!IsAbsolutePath(clientPath) || length >= MAX_PATH || (int)length >= InstallPathSize - 1)
        return false;
    const char *component = clientPath + 3;
    for (const char *p = component; *p != '\0'; p++) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') {
            p++;
        } else if (*p == '/') {
            return false;
        } else if (*p == '\\') {
            if (!IsPlainName(component, p - component) || p[-1] == '.' || p[-1] == ' ')
                return false;
            component = p + 1;
        }
    }
    return component - (clientPath + 2) <= 255;
}

// Buffers of the check, in characters: a folder as the system names it, and
// the longest path that a handle's final path can take.
static const DWORD FolderChars = MAX_PATH + 2;
static const DWORD FinalChars = 32768;

// A folder's identity on its volume: the same folder under any name (case, short
// name, drive alias, link) has the same one.
struct TIdentity {
    DWORD Volume;
    DWORD IndexHigh;
    DWORD IndexLow;
};

// One check of the installation directory against the protected folders.
struct TCheck {
    WCHAR *Directory;           // the directory, full, ending with a backslash
    const TIdentity *Identity;  // its identity; null when it is not there
    WCHAR *Folder;              // FolderChars: the protected folder at hand
    WCHAR *LongForm;            // FolderChars of scratch
    WCHAR *Final;               // FinalChars: the folder the one at hand really is
    WCHAR *Profile;             // FolderChars: the profile folder at hand
    WCHAR *Value;               // FolderChars: a registry value as read
    IMalloc *ShellMalloc;
};

// Copies a wide string into out (FolderChars); false when it is empty or does not fit.
static bool CopyFolder(WCHAR *out, const WCHAR *folder)
{
    size_t length = folder != NULL ? wcslen(folder) : 0;
    if (length == 0 || length >= FolderChars)
        return false;
    memcpy(out, folder, (length + 1) * sizeof(WCHAR));
    return true;
}

// Opens a folder to ask what it is, following any link on its path.
static HANDLE OpenFolder(const WCHAR *path)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static bool IsIdentity(HANDLE folder, const TIdentity *identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0, sizeof info);
    return GetFileInformationByHandle(folder, &info) && info.dwVolumeSerialNumber == identity->Volume &&
           info.nFileIndexHigh == identity->IndexHigh && info.nFileIndexLow == identity->IndexLow;
}

// The path of the folder that the open handle really is, every link on the way
// resolved, into final (FinalChars): \\?\X:\..., \\?\UNC\server\share\..., or for
// a volume without a drive letter \\?\Volume{...}\....
static bool GetFinalFolder(HANDLE folder, WCHAR *final)
{
    DWORD length = GetFinalPathNameByHandleW(folder, final, FinalChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= FinalChars)
        length = GetFinalPathNameByHandleW(folder, final, FinalChars, FILE_NAME_NORMALIZED | VOLUME_NAME_GUID);
    return length > 0 && length < FinalChars;
}

// The length of the root of a full wide path: "X:\", "\\server\share\", and
// their verbatim forms "\\?\X:\", "\\?\UNC\server\share\" and
// "\\?\Volume{...}\"; 0 for any other.
static size_t RootLength(const WCHAR *path)
{
    if (path[0] != 0 && path[1] == L':' && path[2] == L'\\')
        return 3;
    if (path[0] != L'\\' || path[1] != L'\\')
        return 0;
    const WCHAR *server = path + 2;
    if (path[2] == L'?' && path[3] == L'\\') {
        if (wcsncmp(path + 4, L"UNC\\", 4) != 0) {
            const WCHAR *end = path[4] != L'\\' ? wcschr(path + 4, L'\\') : NULL;
            return end != NULL ? (size_t)(end - path) + 1 : 0;
        }
        server = path + 8;
    } else if (path[2] == L'?' || path[2] == L'.') {
        return 0;
    }
    const WCHAR *share = server[0] != L'\\' ? wcschr(server, L'\\') : NULL;
    const WCHAR *end = share != NULL && share[1] != 0 && share[1] != L'\\' ? wcschr(share + 1, L'\\') : NULL;
    return end != NULL ? (size_t)(end - path) + 1 : 0;
}

// Shortens path to the folder above it, its root kept with its backslash and
// any other folder without one; false at the root.
static bool GoUp(WCHAR *path, size_t root)
{
    size_t length = wcslen(path);
    while (length > root && path[length - 1] == L'\\')
        length--;
    if (length <= root)
        return false;
    while (length > root && path[length - 1] != L'\\')
        length--;
    while (length > root && path[length - 1] == L'\\')
        length--;
    path[length] = 0;
    return true;
}

// True when the folder at path, or with withParents any folder above it by its
// path, is the directory by identity; path is shortened in the search. final,
// when not null, receives the path of the folder that path really is (empty
// when it cannot be had).
static bool IsAtOrBelow(WCHAR *path, const TIdentity *directory, bool withParents, WCHAR *final)
{
    if (final != NULL)
        final[0] = 0;
    size_t root = RootLength(path);
    if (root == 0)
        return false;
    bool first = true;
    do {
        HANDLE folder = OpenFolder(path);
        bool same = folder != INVALID_HANDLE_VALUE && IsIdentity(folder, directory);
        if (first && final != NULL && folder != INVALID_HANDLE_VALUE && !same && !GetFinalFolder(folder, final))
            final[0] = 0;
        first = false;
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
        if (same)
            return true;
    } while (withParents && GoUp(path, root));
    return false;
}

// Folder path to compare by spelling: with a trailing backslash, in its long form
// when it exists (longForm is scratch). False when it does not fit.
static bool MakeComparable(WCHAR *path, WCHAR *longForm)
{
    size_t length = wcslen(path);
    if (length == 0 || (path[length - 1] != L'\\' && length + 1 >= FolderChars))
        return false;
    if (path[length - 1] != L'\\')
        wcscat(path, L"\\");
    DWORD longLength = GetLongPathNameW(path, longForm, FolderChars);
    if (longLength > 0 && longLength < FolderChars)
        wcscpy(path, longForm);
    return true;
}

// True when removing directory would remove folder by their spellings: the same
// folder, or one that holds it. Both end with a backslash, so a prefix always
// ends at a component.
static bool SpellingReaches(const WCHAR *directory, const WCHAR *folder)
{
    int length = (int)wcslen(directory);
    return (int)wcslen(folder) >= length &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, directory, length, folder, length) == CSTR_EQUAL;
}

// True when removing the directory would remove the protected folder in
// check->Folder (which the check shortens): by spelling it is the folder or holds
// it; by identity it is the folder, with withParents one of the folders above it
// by its path, or, where the folder is a link or lies below one, the folder it
// really is or one above that.
static bool ReachesFolder(TCheck *check, bool withParents)
{
    if (!MakeComparable(check->Folder, check->LongForm) || SpellingReaches(check->Directory, check->Folder))
        return true;
    if (check->Identity == NULL)
        return false;
    if (IsAtOrBelow(check->Folder, check->Identity, withParents, check->Final))
        return true;
    size_t root = RootLength(check->Final);
    return root > 0 && GoUp(check->Final, root) && IsAtOrBelow(check->Final, check->Identity, true, NULL);
}

// The same for a folder given, which is copied into check->Folder; one that the
// buffer cannot hold is passed over.
static bool ReachesCopiedFolder(TCheck *check, const WCHAR *folder)
{
    return CopyFolder(check->Folder, folder) && ReachesFolder(check, true);
}

// A profile in check->Profile: the profile folder with everything above it, and
// the folders at its top. Those are checked without what is above them, which
// is the profile's, or another of them.
static bool ReachesProfile(TCheck *check)
{
    if (ReachesCopiedFolder(check, check->Profile))
        return true;
    size_t length = wcslen(check->Profile);
    bool separated = length > 0 && check->Profile[length - 1] == L'\\';
    for (size_t i = 0; i < sizeof ProfileTopFolders / sizeof ProfileTopFolders[0]; i++) {
        size_t name = wcslen(ProfileTopFolders[i]);
        if (length + 1 + name >= FolderChars)
            continue;
        wcscpy(check->Folder, check->Profile);
        if (!separated)
            wcscat(check->Folder, L"\\");
        wcscat(check->Folder, ProfileTopFolders[i]);
        if (ReachesFolder(check, false))
            return true;
    }
    return false;
}

// The system's folders: the Windows directory, the system directory, the 32-bit
// system directory of 64-bit Windows, and the alias under which a 32-bit process
// reaches the native system directory.
static bool ReachesSystemFolders(TCheck *check)
{
    WCHAR *folder = check->Folder;
    UINT length = GetWindowsDirectoryW(folder, FolderChars);
    if (length > 0 && length < FolderChars && ReachesFolder(check, true))
        return true;
    length = GetSystemDirectoryW(folder, FolderChars);
    if (length > 0 && length < FolderChars && ReachesFolder(check, true))
        return true;
    length = GetSystemWow64DirectoryW(folder, FolderChars);
    if (length > 0 && length < FolderChars && ReachesFolder(check, true))
        return true;
    length = GetWindowsDirectoryW(folder, FolderChars);
    const WCHAR *alias = length > 0 && folder[length - 1] == L'\\' ? L"Sysnative" : L"\\Sysnative";
    return length > 0 && length + wcslen(alias) < FolderChars && wcscat(folder, alias) != NULL &&
           ReachesFolder(check, true);
}

static bool ReachesEnvironmentFolders(TCheck *check)
{
    for (size_t i = 0; i < sizeof ProtectedEnvironmentFolders / sizeof(WCHAR *); i++) {
        DWORD length = GetEnvironmentVariableW(ProtectedEnvironmentFolders[i], check->Folder, FolderChars);
        if (length > 0 && length < FolderChars && ReachesFolder(check, true))
            return true;
    }
    return false;
}

// The shell folders of the account that the process runs as.
static bool ReachesShellFolders(TCheck *check)
{
    for (size_t i = 0; i < sizeof ProtectedShellFolders / sizeof(int); i++)
        if (GetShellFolderPathW(check->ShellMalloc, ProtectedShellFolders[i], check->Folder, FolderChars) &&
            ReachesFolder(check, true))
            return true;
    for (size_t i = 0; i < sizeof ProtectedKnownFolders / sizeof(GUID); i++) {
        WCHAR *known = NULL;
        bool reached = SHGetKnownFolderPath(ProtectedKnownFolders[i], 0, NULL, &known) == S_OK &&
                       ReachesCopiedFolder(check, known);
        CoTaskMemFree(known);
        if (reached)
            return true;
    }
    return false;
}

// The folders of the run's other users (the shell's owner when that is another
// account than the one the process runs as): those the run acts in, and the
// shell's folders for that user's token.
static bool ReachesOtherUsersFolders(TCheck *check)
{
    for (int u = 1; u < RunUsers.Count; u++) {
        const TRunUser *user = &RunUsers.Users[u];
        const WCHAR *const folders[] = {user->Desktop, user->Programs, user->LocalAppData};
        for (const WCHAR *folder : folders)
            // cppcheck-suppress useStlAlgorithm
            if (folder[0] != 0 && ReachesCopiedFolder(check, folder))
                return true;
        if (user->Token == NULL)
            continue;
        for (size_t i = 0; i < sizeof ProtectedShellFolders / sizeof(int); i++)
            if (SHGetFolderPathW(NULL, ProtectedShellFolders[i], user->Token, SHGFP_TYPE_CURRENT, check->Folder) ==
                    S_OK &&
                ReachesFolder(check, true))
                return true;
        for (size_t i = 0; i < sizeof ProtectedKnownFolders / sizeof(GUID); i++) {
            WCHAR *known = NULL;
            bool reached = SHGetKnownFolderPath(ProtectedKnownFolders[i], 0, user->Token, &known) == S_OK &&
                           ReachesCopiedFolder(check, known);
            CoTaskMemFree(known);
            if (reached)
                return true;
        }
    }
    return false;
}

// Reads the folder path in value name of key into check->Profile, its
// environment references expanded; false when it is not there, not a string,
// empty or too long.
static bool ReadFolderValue(TCheck *check, HKEY key, const WCHAR *name)
{
    DWORD type = REG_NONE;
    DWORD bytes = (FolderChars - 1) * sizeof(WCHAR);
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE *)check->Value, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    check->Value[bytes / sizeof(WCHAR)] = 0;
    DWORD chars = ExpandEnvironmentStringsW(check->Value, check->Profile, FolderChars);
    return chars > 1 && chars <= FolderChars;
}

// Every profile that the machine's list names: each account's
// ProfileImagePath, and the Default and Public profiles.
static bool ReachesListedProfiles(TCheck *check, HKEY list)
{
    for (DWORD i = 0;; i++) {
        WCHAR account[256];
        DWORD chars = sizeof account / sizeof account[0];
        LONG result = RegEnumKeyExW(list, i, account, &chars, NULL, NULL, NULL, NULL);
        if (result == ERROR_MORE_DATA)
            continue;  // no account's name
        if (result != ERROR_SUCCESS)
            break;
        HKEY key = NULL;
        if (RegOpenKeyExW(list, account, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            continue;
        bool reached = ReadFolderValue(check, key, L"ProfileImagePath") && ReachesProfile(check);
        RegCloseKey(key);
        if (reached)
            return true;
    }
    return (ReadFolderValue(check, list, L"Default") && ReachesProfile(check)) ||
           (ReadFolderValue(check, list, L"Public") && ReachesProfile(check));
}

// Every directory directly in the profiles directory (the list's
// ProfilesDirectory, or without one the folder holding this account's
// profile), each taken for a profile.
static bool ReachesProfilesDirectory(TCheck *check, HKEY list)
{
    if (list == NULL || !ReadFolderValue(check, list, L"ProfilesDirectory")) {
        size_t root = 0;
        if (!GetShellFolderPathW(check->ShellMalloc, CSIDL_PROFILE, check->Profile, FolderChars) ||
            (root = RootLength(check->Profile)) == 0 || !GoUp(check->Profile, root))
            return false;
    }
    size_t length = wcslen(check->Profile);
    while (length > 0 && check->Profile[length - 1] == L'\\')
        length--;
    if (length + 3 >= FolderChars)
        return false;
    wcscpy(check->Profile + length, L"\\*");
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileExW(check->Profile, FindExInfoBasic, &entry, FindExSearchLimitToDirectories, NULL, 0);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    bool reached = false;
    do {
        const WCHAR *name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || wcscmp(name, L".") == 0 ||
            wcscmp(name, L"..") == 0 || length + 1 + wcslen(name) >= FolderChars)
            continue;
        wcscpy(check->Profile + length + 1, name);
        reached = ReachesProfile(check);
    } while (!reached && FindNextFileW(listing, &entry));
    FindClose(listing);
    return reached;
}

// The profiles of every account of the machine.
static bool ReachesMachineProfiles(TCheck *check)
{
    HKEY list = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProfileListKey, 0, KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS)
        list = NULL;
    bool reached = (list != NULL && ReachesListedProfiles(check, list)) || ReachesProfilesDirectory(check, list);
    if (list != NULL)
        RegCloseKey(list);
    return reached;
}

// Where the protected folders come from, each source handing its folders to
// ReachesFolder in turn (a profile to ReachesProfile) until one is reached.
// Another source of folders is one more entry here.
typedef bool (*TProtectedSource)(TCheck *check);
static const TProtectedSource ProtectedSources[] = {
    ReachesSystemFolders, ReachesEnvironmentFolders, ReachesShellFolders, ReachesOtherUsersFolders,
    ReachesMachineProfiles,
};

// The check proper, for the directory in check->Directory (a full path ending
// with a backslash) with its identity when it exists.
static bool IsProtectedWide(TCheck *check)
{
    if (!MakeComparable(check->Directory, check->LongForm))
        return true;
    for (size_t i = 0; i < sizeof ProtectedSources / sizeof ProtectedSources[0]; i++)
        if (ProtectedSources[i](check))
            return true;
    return false;
}

// What the check found at the installation directory's path.
enum TPresence {
    DirectoryOpen,       // there, and open
    DirectoryGone,       // not there, on a volume that is: nothing of it is left
    DirectoryUnreached,  // not to be had: what is there is not known
};

// For a directory that is not there, whether it is gone from a volume that is
// there: going up its path (a full wide path, shortened here), every folder is
// missing until a directory is there, the volume's root at the latest.
static TPresence FindPresence(WCHAR *path)
{
    size_t root = RootLength(path);
    if (root == 0)
        return DirectoryUnreached;
    size_t length = wcslen(path);
    while (length > root && path[length - 1] == L'\\')
        path[--length] = 0;
    for (bool first = true;; first = false) {
        HANDLE folder = OpenFolder(path);
        DWORD error = GetLastError();
        if (folder != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            bool holds = GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            CloseHandle(folder);
            // Something at the directory's own path after all, or a file on its
            // way, leaves what is there unknown.
            return !first && holds ? DirectoryGone : DirectoryUnreached;
        }
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || !GoUp(path, root))
            return DirectoryUnreached;
    }
}

// Opens the client's directory (drive and directory, ending with a backslash;
// wide, the same in wide characters) as the removal will have it. False when it
// is there and cannot be had so (a link, or something that cannot be opened). A
// directory that is not there leaves top closed, and presence says whether it
// is gone; scratch holds FolderChars.
static bool OpenClientDirectory(const char *drive, const char *directory, const WCHAR *wide, WCHAR *scratch,
                                HANDLE *top, TIdentity *identity, TPresence *presence)
{
    char path[MAX_PATH + 4];
    TStatus status = StatusAccessDenied;
    if (JoinPath(path, sizeof path, drive, directory))
        status = OpenTreeTop(path, top);
    TEntryFacts facts;
    if (status != StatusSuccess || !ReadEntryFacts(*top, &facts) || !ReadEntryVolume(*top, &identity->Volume)) {
        if (!IsGone(status) || !CopyFolder(scratch, wide))
            return false;
        *presence = FindPresence(scratch);
        return true;
    }
    identity->IndexHigh = (DWORD)(facts.FileId >> 32);
    identity->IndexLow = (DWORD)facts.FileId;
    *presence = DirectoryOpen;
    return true;
}

// True when the entry that the client path names in its open directory is no
// directory, or is not there: a client path that names a directory names no
// client, and the directory holding it may be another program's. The name is
// DVQ32.EXE in some case (IsClientTarget).
static bool NamesNoDirectory(HANDLE top, const char *clientPath)
{
    char name[16];
    char extension[16];
    char file[16];
    WCHAR wide[16];
    int chars = 0;
    if (SplitPath(clientPath, NULL, 0, NULL, 0, name, sizeof name, extension, sizeof extension) &&
        JoinPath(file, sizeof file, name, extension))
        chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, file, -1, wide, sizeof wide / sizeof wide[0]);
    if (chars <= 1)
        return false;
    HANDLE entry = INVALID_HANDLE_VALUE;
    TStatus status = OpenEntry(top, wide, (DWORD)chars - 1, FILE_READ_ATTRIBUTES, ShareAll, 0, &entry);
    TEntryFacts facts;
    bool noDirectory = IsGone(status) || (status == StatusSuccess && ReadEntryFacts(entry, &facts) &&
                                          !(facts.Attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (entry != INVALID_HANDLE_VALUE)
        CloseHandle(entry);
    return noDirectory;
}

// The VirtualStore copies of the installation directory (a full path with its
// backslash), one a user of the run, each checked as the directory is: true
// when one is protected, or is there and cannot be had as the removal will
// have it. Those there are held in copies, each not shared for deletion.
static bool CheckCopies(TCheck *check, const WCHAR *directory, TApprovedCopy *copies)
{
    for (int u = 0; u < MaxRunUsers; u++) {
        copies[u].Approval.Top = INVALID_HANDLE_VALUE;
        copies[u].Approval.Missing = copies[u].Approval.Unreachable = false;
    }
    for (int u = 0; u < RunUsers.Count; u++) {
        TApprovedCopy *copy = &copies[u];
        if (!GetVirtualStoreCopy(&RunUsers.Users[u], directory, copy->Path, sizeof copy->Path / sizeof(WCHAR)))
            continue;
        size_t length = wcslen(copy->Path);
        copy->Path[length - 1] = 0;  // without its backslash
        HANDLE top = INVALID_HANDLE_VALUE;
        TStatus status = OpenTreeTopW(copy->Path, &top);
        if (IsGone(status))
            continue;
        TEntryFacts facts = {0, 0};
        TIdentity identity = {0, 0, 0};
        bool held = status == StatusSuccess && ReadEntryFacts(top, &facts) && ReadEntryVolume(top, &identity.Volume);
        identity.IndexHigh = (DWORD)(facts.FileId >> 32);
        identity.IndexLow = (DWORD)facts.FileId;
        copy->Path[length - 1] = L'\\';
        check->Identity = &identity;
        bool refused = !held || !CopyFolder(check->Directory, copy->Path) || IsProtectedWide(check);
        copy->Path[length - 1] = 0;
        if (refused) {
            if (top != INVALID_HANDLE_VALUE)
                CloseHandle(top);
            return true;
        }
        copy->Approval.Top = top;
        copy->Approval.Volume = identity.Volume;
        copy->Approval.FileId = facts.FileId;
    }
    return false;
}

bool IsProtectedDirectory(const char *clientPath)
{
    return CheckInstallDirectory(clientPath, NULL);
}

bool CheckInstallDirectory(const char *clientPath, TApprovedDirectory *approved)
{
    if (approved != NULL) {
        if (approved->Top != INVALID_HANDLE_VALUE)
            CloseHandle(approved->Top);
        approved->Top = INVALID_HANDLE_VALUE;
        approved->Missing = false;
        approved->Unreachable = false;
    }
    // The client path names the client's executable, a file called DVQ32.EXE
    // as the shortcut step knows it: a file of another name may be another
    // program's, in a directory of another program's.
    if (!HasRemovableForm(clientPath) || !IsClientTarget(clientPath))
        return true;
    DWORD size = (DWORD)InstallPathSize;
    char *directory = (char *)AllocScratch(size);
    TCheck check;
    check.Directory = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    check.Identity = NULL;
    check.Folder = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    check.LongForm = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    check.Final = (WCHAR *)AllocScratch(FinalChars * sizeof(WCHAR));
    check.Profile = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    check.Value = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    check.ShellMalloc = NULL;
    bool isProtected = true;
    char drive[3];
    HANDLE top = INVALID_HANDLE_VALUE;
    TIdentity identity = {0, 0, 0};
    TPresence presence = DirectoryUnreached;
    WCHAR *wide = check.Directory;
    // A directory that is not there has no identity, and is judged by spelling.
    if (directory != NULL && wide != NULL && check.Folder != NULL && check.LongForm != NULL && check.Final != NULL &&
        check.Profile != NULL && check.Value != NULL &&
        SplitPath(clientPath, drive, sizeof drive, directory, size, NULL, 0, NULL, 0) &&
        strcmp(directory, "\\") != 0 && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, drive, -1, wide, 3) > 0 &&
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, directory, -1, wide + 2, FolderChars - 2) > 0 &&
        OpenClientDirectory(drive, directory, wide, check.Folder, &top, &identity, &presence) &&
        (presence != DirectoryOpen || NamesNoDirectory(top, clientPath)) && SHGetMalloc(&check.ShellMalloc) == S_OK) {
        check.Identity = presence == DirectoryOpen ? &identity : NULL;
        WCHAR installation[FolderChars];
        isProtected = !CopyFolder(installation, wide) || IsProtectedWide(&check) ||
                      (approved != NULL && CheckCopies(&check, installation, ApprovedCopies));
    }
    if (check.ShellMalloc != NULL)
        check.ShellMalloc->Release();
    if (isProtected && approved != NULL)
        ReleaseApprovedDirectory();  // the copies, when some were held
    if (!isProtected && approved != NULL) {
        approved->Top = top;
        approved->Missing = presence == DirectoryGone;
        approved->Unreachable = presence == DirectoryUnreached;
        approved->Volume = identity.Volume;
        approved->FileId = ((ULONGLONG)identity.IndexHigh << 32) | identity.IndexLow;
    } else if (top != INVALID_HANDLE_VALUE) {
        CloseHandle(top);
    }
    FreeScratch(check.Value);
    FreeScratch(check.Profile);
    FreeScratch(check.Final);
    FreeScratch(check.LongForm);
    FreeScratch(check.Folder);
    FreeScratch(check.Directory);
    FreeScratch(directory);
    return isProtected;
}
