#include "flow/protected.h"
#include "client/clientpath.h"
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

// Protected folders before the shell's: the Windows directory, the system
// directory, the 32-bit system directory of 64-bit Windows, and the alias under
// which a 32-bit process reaches the native system directory.
enum { SystemFolderCount = 4 };
static const int ProtectedFolderCount = SystemFolderCount + sizeof ProtectedEnvironmentFolders / sizeof(WCHAR *) +
                                        sizeof ProtectedShellFolders / sizeof(int) +
                                        sizeof ProtectedKnownFolders / sizeof(GUID);

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

// Buffers of the check, in characters.
static const DWORD FolderChars = MAX_PATH + 2;

// Copies a wide string into out (FolderChars); false when it is empty or does not fit.
static bool CopyFolder(WCHAR *out, const WCHAR *folder)
{
    size_t length = folder != NULL ? wcslen(folder) : 0;
    if (length == 0 || length >= FolderChars)
        return false;
    memcpy(out, folder, (length + 1) * sizeof(WCHAR));
    return true;
}

// Protected folder number index into folder (FolderChars). False when this
// system has no such folder or it cannot be had.
static bool GetProtectedFolder(int index, IMalloc *shellMalloc, WCHAR *folder)
{
    if (index < SystemFolderCount) {
        UINT length = 0;
        if (index == 0 || index == 3)
            length = GetWindowsDirectoryW(folder, FolderChars);
        else if (index == 1)
            length = GetSystemDirectoryW(folder, FolderChars);
        else
            length = GetSystemWow64DirectoryW(folder, FolderChars);
        if (length == 0 || length >= FolderChars)
            return false;
        if (index != 3)
            return true;
        const WCHAR *alias = folder[length - 1] == L'\\' ? L"Sysnative" : L"\\Sysnative";
        return length + wcslen(alias) < FolderChars && wcscat(folder, alias) != NULL;
    }
    index -= SystemFolderCount;
    const int environment = sizeof ProtectedEnvironmentFolders / sizeof(WCHAR *);
    if (index < environment) {
        DWORD length = GetEnvironmentVariableW(ProtectedEnvironmentFolders[index], folder, FolderChars);
        return length > 0 && length < FolderChars;
    }
    index -= environment;
    const int shell = sizeof ProtectedShellFolders / sizeof(int);
    if (index < shell)
        return GetShellFolderPathW(shellMalloc, ProtectedShellFolders[index], folder, FolderChars);
    WCHAR *known = NULL;
    bool found = SHGetKnownFolderPath(ProtectedKnownFolders[index - shell], 0, NULL, &known) == S_OK &&
                 CopyFolder(folder, known);
    CoTaskMemFree(known);
    return found;
}

// A folder's identity on its volume: the same folder under any name (case, short
// name, drive alias, link) has the same one.
struct TIdentity {
    DWORD Volume;
    DWORD IndexHigh;
    DWORD IndexLow;
};

static bool GetIdentity(const WCHAR *path, TIdentity *identity)
{
    HANDLE folder = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0, sizeof info);
    bool known = GetFileInformationByHandle(folder, &info) != FALSE;
    CloseHandle(folder);
    identity->Volume = info.dwVolumeSerialNumber;
    identity->IndexHigh = info.nFileIndexHigh;
    identity->IndexLow = info.nFileIndexLow;
    return known;
}

// The length of the root of a full wide path: "X:\" or "\\server\share\"; 0 for
// any other.
static size_t RootLength(const WCHAR *path)
{
    if (path[0] != 0 && path[1] == L':' && path[2] == L'\\')
        return 3;
    if (path[0] != L'\\' || path[1] != L'\\' || path[2] == L'?' || path[2] == L'.')
        return 0;
    const WCHAR *share = wcschr(path + 2, L'\\');
    const WCHAR *end = share != NULL && share[1] != 0 ? wcschr(share + 1, L'\\') : NULL;
    return end != NULL ? (size_t)(end - path) + 1 : 0;
}

// True when the folder, or a folder that holds it, is the client directory by
// identity. folder (FolderChars) is shortened in the search.
static bool IsAtOrBelow(WCHAR *folder, const TIdentity *directory)
{
    size_t root = RootLength(folder);
    if (root == 0)
        return false;
    for (;;) {
        TIdentity identity = {0, 0, 0};
        if (GetIdentity(folder, &identity) && identity.Volume == directory->Volume &&
            identity.IndexHigh == directory->IndexHigh && identity.IndexLow == directory->IndexLow)
            return true;
        // One level up: the last name goes, its backslash stays.
        size_t length = wcslen(folder);
        if (length <= root)
            return false;
        while (length > root && folder[length - 1] == L'\\')
            length--;
        while (length > root && folder[length - 1] != L'\\')
            length--;
        folder[length] = 0;
    }
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

// The check proper, for directory (a full path ending with a backslash) whose
// identity is known when it exists.
static bool IsProtectedWide(WCHAR *directory, const TIdentity *identity, WCHAR *folder, WCHAR *longForm,
                            IMalloc *shellMalloc)
{
    if (!MakeComparable(directory, longForm))
        return true;
    for (int i = 0; i < ProtectedFolderCount; i++) {
        if (!GetProtectedFolder(i, shellMalloc, folder))
            continue;
        if (!MakeComparable(folder, longForm) || SpellingReaches(directory, folder) ||
            (identity != NULL && IsAtOrBelow(folder, identity)))
            return true;
    }
    return false;
}

// Opens the client's directory (drive and directory, ending with a backslash) as
// the removal will have it. False when it is there and cannot be had so (a
// link, or something that cannot be opened); a directory that is not there
// leaves top closed.
static bool OpenClientDirectory(const char *drive, const char *directory, HANDLE *top, TIdentity *identity)
{
    char path[MAX_PATH + 4];
    TStatus status = StatusAccessDenied;
    if (JoinPath(path, sizeof path, drive, directory))
        status = OpenTreeTop(path, top);
    TEntryFacts facts;
    if (status != StatusSuccess || !ReadEntryFacts(*top, &facts) || !ReadEntryVolume(*top, &identity->Volume))
        return IsGone(status);
    identity->IndexHigh = (DWORD)(facts.FileId >> 32);
    identity->IndexLow = (DWORD)facts.FileId;
    return true;
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
    }
    if (!HasRemovableForm(clientPath))
        return true;
    DWORD size = (DWORD)InstallPathSize;
    char *directory = (char *)AllocScratch(size);
    WCHAR *wide = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    WCHAR *folder = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    WCHAR *longForm = (WCHAR *)AllocScratch(FolderChars * sizeof(WCHAR));
    IMalloc *shellMalloc = NULL;
    bool isProtected = true;
    char drive[3];
    HANDLE top = INVALID_HANDLE_VALUE;
    TIdentity identity = {0, 0, 0};
    // A directory that does not exist has no identity, and is judged by spelling.
    if (directory != NULL && wide != NULL && folder != NULL && longForm != NULL &&
        SplitPath(clientPath, drive, sizeof drive, directory, size, NULL, 0, NULL, 0) &&
        strcmp(directory, "\\") != 0 && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, drive, -1, wide, 3) > 0 &&
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, directory, -1, wide + 2, FolderChars - 2) > 0 &&
        OpenClientDirectory(drive, directory, &top, &identity) && SHGetMalloc(&shellMalloc) == S_OK)
        isProtected = IsProtectedWide(wide, top != INVALID_HANDLE_VALUE ? &identity : NULL, folder, longForm,
                                      shellMalloc);
    if (shellMalloc != NULL)
        shellMalloc->Release();
    if (!isProtected && approved != NULL) {
        approved->Top = top;
        approved->Missing = top == INVALID_HANDLE_VALUE;
        approved->Volume = identity.Volume;
        approved->FileId = ((ULONGLONG)identity.IndexHigh << 32) | identity.IndexLow;
    } else if (top != INVALID_HANDLE_VALUE) {
        CloseHandle(top);
    }
    FreeScratch(longForm);
    FreeScratch(folder);
    FreeScratch(wide);
    FreeScratch(directory);
    return isProtected;
}
