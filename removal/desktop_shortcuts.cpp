#include "removal/removal.h"
#include "removal/restart.h"
#include "common/entryname.h"
#include "common/paths.h"
#include "common/scratch.h"
#include "common/shellfolder.h"
#include "client/clientpath.h"
#include "client/removalrecord.h"
#include "client/runuser.h"
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// At most this many passes over the desktop, each deleting at most one shortcut.
static const int MaxShortcutPasses = 20;

void (*AfterShortcutDeletion)() = NULL;

// True when the shell left a string in buffer that is certainly whole: it ends
// before the last byte. A string that fills the buffer may have been cut (the
// shell copies what fits, with or without a terminator), so it is not taken.
static bool HoldsWholeString(const char *buffer, DWORD size)
{
    const void *end = memchr(buffer, '\0', size);
    return end != NULL && (DWORD)((const char *)end - buffer) < size - 1;
}

// A shell-link object asking for linkInterface (IShellLinkA or IShellLinkW)
// into *shellLink, with its file interface into *persistFile, the shortcut file at
// linkPath loaded into it when linkPath is not null. What was not obtained is null.
static HRESULT LoadShellLink(REFIID linkInterface, const WCHAR *linkPath, void **shellLink, IPersistFile **persistFile)
{
    *persistFile = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, linkInterface, shellLink);
    if (FAILED(result)) {
        *shellLink = NULL;
        return result;
    }
    result = ((IUnknown *)*shellLink)->QueryInterface(IID_IPersistFile, (void **)persistFile);
    if (FAILED(result))
        *persistFile = NULL;
    else if (linkPath != NULL)
        result = (*persistFile)->Load(linkPath, STGM_READ);
    return result;
}

HRESULT ResolveShortcut(HWND ownerWindow, const char *linkPath, char *targetPath)
{
    DWORD size = (DWORD)WindowsPathSize;
    targetPath[0] = '\0';
    WCHAR *wideLinkPath = (WCHAR *)AllocScratch(size * sizeof(WCHAR));
    char *path = (char *)AllocScratch(size);
    char *description = (char *)AllocScratch(size);
    IShellLinkA *shellLink = NULL;
    IPersistFile *persistFile = NULL;
    HRESULT result = E_OUTOFMEMORY;
    if (wideLinkPath != NULL && path != NULL && description != NULL) {
        WIN32_FIND_DATAA findData;
        // A link path longer than the wide buffer would be loaded cut: refused.
        bool converted = MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideLinkPath, (int)size) != 0;
        result = LoadShellLink(IID_IShellLinkA, converted ? wideLinkPath : NULL, (void **)&shellLink, &persistFile);
        if (SUCCEEDED(result) && !converted)
            result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        // No user interface; a target that has moved is searched for.
        if (SUCCEEDED(result))
            result = shellLink->Resolve(ownerWindow, SLR_NO_UI | SLR_ANY_MATCH);
        if (SUCCEEDED(result)) {
            // A shortcut without a path may leave the buffer as it was.
            path[0] = '\0';
            result = shellLink->GetPath(path, (int)size, &findData, SLGP_SHORTPATH);
        }
        if (SUCCEEDED(result)) {
            description[0] = '\0';
            result = shellLink->GetDescription(description, (int)size);
        }
        if (SUCCEEDED(result) && !HoldsWholeString(path, size))
            result = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        if (SUCCEEDED(result)) {
            // Some shells give the long form whatever the flag asks; the short form
            // of an existing target is made here. A target that is not there keeps
            // the form the shell gave.
            DWORD shortLength = GetShortPathNameA(path, targetPath, size);
            if (shortLength == 0 || shortLength >= size)
                JoinPath(targetPath, size, path, NULL);
        }
    }
    FreeScratch(description);
    FreeScratch(path);
    FreeScratch(wideLinkPath);
    if (persistFile != NULL)
        persistFile->Release();
    if (shellLink != NULL)
        shellLink->Release();
    return result;
}

HRESULT ResolveShortcutW(const WCHAR *linkPath, WCHAR *target, DWORD chars)
{
    target[0] = 0;
    IShellLinkW *shellLink = NULL;
    IPersistFile *persistFile = NULL;
    HRESULT result = LoadShellLink(IID_IShellLinkW, linkPath, (void **)&shellLink, &persistFile);
    if (SUCCEEDED(result))
        result = shellLink->Resolve(NULL, SLR_NO_UI | SLR_ANY_MATCH);
    if (SUCCEEDED(result))
        result = shellLink->GetPath(target, (int)chars, NULL, 0);
    // A path that fills the buffer may have been cut.
    if (FAILED(result) || wcslen(target) + 1 >= chars)
        target[0] = 0;
    if (persistFile != NULL)
        persistFile->Release();
    if (shellLink != NULL)
        shellLink->Release();
    return target[0] != 0 ? result : FAILED(result) ? result : E_FAIL;
}

bool IsClientTargetW(const WCHAR *target)
{
    const WCHAR *name = wcsrchr(target, L'\\');
    name = name != NULL ? name + 1 : target;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, -1, L"DVQ32.EXE", -1) == CSTR_EQUAL;
}

// True for a listed entry that a "*.lnk" listing would show: a file whose name
// ends with ".lnk", in any case.
static bool IsShortcutEntry(const FILE_ID_BOTH_DIR_INFO *entry)
{
    DWORD chars = entry->FileNameLength / sizeof(WCHAR);
    return !(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && chars > 4 &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, entry->FileName + chars - 4, 4, L".lnk", 4) ==
               CSTR_EQUAL;
}

void RemoveClientShortcutsIn(HANDLE directory, const WCHAR *desktop, TRestartPlan *plan, TTally *tally)
{
    const DWORD chars = 32768;
    WCHAR *path = (WCHAR *)AllocScratch(chars * sizeof(WCHAR));
    WCHAR *target = path != NULL ? (WCHAR *)AllocScratch(MAX_PATH * sizeof(WCHAR)) : NULL;
    TListing listing;
    size_t base = wcslen(desktop);
    if (target == NULL || base + 2 >= chars || !OpenListing(directory, &listing)) {
        // Whether the client has shortcuts here is not known.
        tally->Left = true;
        if (plan == NULL)
            RecordUnreachedTarget();
        FreeScratch(target);
        FreeScratch(path);
        return;
    }
    memcpy(path, desktop, base * sizeof(WCHAR));
    path[base++] = L'\\';
    for (const FILE_ID_BOTH_DIR_INFO *entry = NextListed(&listing); entry != NULL; entry = NextListed(&listing)) {
        DWORD nameChars = entry->FileNameLength / sizeof(WCHAR);
        if (!IsShortcutEntry(entry) || base + nameChars >= chars ||
            (plan != NULL && IsRecordedShortcut(directory, entry->FileName, nameChars)))
            continue;
        memcpy(path + base, entry->FileName, nameChars * sizeof(WCHAR));
        path[base + nameChars] = 0;
        ResolveShortcutW(path, target, MAX_PATH);
        if (!IsClientTargetW(target))
            continue;
        TListedName listed = {entry->FileName, nameChars, entry->FileAttributes, (ULONGLONG)entry->FileId.QuadPart};
        TTally stayed = {false, false};
        HANDLE kept = INVALID_HANDLE_VALUE;
        if (!DeleteListedEntry(plan, directory, &listed, &stayed) && plan == NULL && stayed.Left &&
            (!DuplicateHandle(GetCurrentProcess(), directory, GetCurrentProcess(), &kept, 0, FALSE,
                              DUPLICATE_SAME_ACCESS) ||
             !RecordFileTarget(TargetShortcut, kept, entry->FileName, nameChars))) {
            RecordUnreachedTarget();
            if (kept != INVALID_HANDLE_VALUE)
                CloseHandle(kept);
        }
        tally->Scheduled = tally->Scheduled || stayed.Scheduled;
        tally->Left = tally->Left || stayed.Left;
    }
    CloseListing(&listing);
    FreeScratch(target);
    FreeScratch(path);
}

bool IsClientTarget(const char *targetPath)
{
    char name[_MAX_FNAME];
    char extension[_MAX_EXT];
    char fileName[_MAX_FNAME + _MAX_EXT];
    return SplitPath(targetPath, NULL, 0, NULL, 0, name, sizeof name, extension, sizeof extension) &&
           JoinPath(fileName, sizeof fileName, name, extension) && _strcmpi(fileName, "DVQ32.EXE") == 0;
}

bool GetListedShortcut(const char *desktop, const WIN32_FIND_DATAA *entry, char *shortcut, DWORD size)
{
    char name[MAX_PATH];
    return !(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && JoinPath(shortcut, size, desktop, "\\") &&
           GetReachableEntryName(shortcut, entry, name, (int)sizeof name, NULL) &&
           JoinPath(shortcut, size, desktop, "\\", name);
}

// The listing's own names of an entry, its long and its short name with a "/"
// (which no name holds) between them, into key (keySize bytes). A field without
// its terminator gives no key.
static bool GetListedKey(const WIN32_FIND_DATAA *entry, char *key, size_t keySize)
{
    const void *longEnd = memchr(entry->cFileName, '\0', sizeof entry->cFileName);
    const void *shortEnd = memchr(entry->cAlternateFileName, '\0', sizeof entry->cAlternateFileName);
    return longEnd != NULL && shortEnd != NULL &&
           JoinPath(key, keySize, entry->cFileName, "/", entry->cAlternateFileName);
}

// The shortcuts that the passes of one run resolved to something other than the
// client, each as it was listed then: its listed names, size and last-write time. One
// listed again unchanged is not resolved again. A shortcut that leads to the
// client is never kept here: every deletion rests on a resolution made in the
// same pass. The names lie one after another, unterminated, in Names; a shortcut
// that finds no room in either part is resolved in every pass.
enum { KnownShortcutSlots = 256, KnownNameBytes = 16384 };

struct TKnownShortcut {
    DWORD NameAt;
    DWORD NameLength;
    DWORD SizeHigh;
    DWORD SizeLow;
    FILETIME LastWrite;
};

struct TKnownShortcuts {
    int Count;
    DWORD NamesUsed;
    TKnownShortcut Slots[KnownShortcutSlots];
    char Names[KnownNameBytes];
};

// The slot of the shortcut called name, or null.
static TKnownShortcut *FindKnownShortcut(TKnownShortcuts *known, const char *name, DWORD length)
{
    for (int i = 0; i < known->Count; i++) {
        TKnownShortcut *slot = &known->Slots[i];
        if (slot->NameLength == length && memcmp(known->Names + slot->NameAt, name, length) == 0)
            return slot;
    }
    return NULL;
}

// True when the listed shortcut called name was resolved to something other than
// the client and is listed with the same size and last-write time as then.
static bool IsKnownOther(TKnownShortcuts *known, const char *name, const WIN32_FIND_DATAA *entry)
{
    const TKnownShortcut *slot = FindKnownShortcut(known, name, (DWORD)strlen(name));
    return slot != NULL && slot->SizeHigh == entry->nFileSizeHigh && slot->SizeLow == entry->nFileSizeLow &&
           CompareFileTime(&slot->LastWrite, &entry->ftLastWriteTime) == 0;
}

// Keeps the listed shortcut called name as one that does not lead to the client;
// one already kept under that name takes the new size and last-write time.
static void KeepKnownOther(TKnownShortcuts *known, const char *name, const WIN32_FIND_DATAA *entry)
{
    DWORD length = (DWORD)strlen(name);
    TKnownShortcut *slot = FindKnownShortcut(known, name, length);
    if (slot == NULL) {
        if (known->Count >= KnownShortcutSlots || length > KnownNameBytes - known->NamesUsed)
            return;
        slot = &known->Slots[known->Count++];
        slot->NameAt = known->NamesUsed;
        slot->NameLength = length;
        memcpy(known->Names + known->NamesUsed, name, length);
        known->NamesUsed += length;
    }
    slot->SizeHigh = entry->nFileSizeHigh;
    slot->SizeLow = entry->nFileSizeLow;
    slot->LastWrite = entry->ftLastWriteTime;
}

// True when a resolution that found no client would find none again on the same
// file: not when it failed for want of memory or because someone held the file.
static bool IsLastingResult(HRESULT result)
{
    return result != E_OUTOFMEMORY && result != HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) &&
           result != HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
}

// One pass: lists the desktop's shortcuts from the start and copies the first one
// that leads to the client into found. False when there is none.
static bool FindClientShortcut(const char *desktop, const char *pattern, char *shortcut, char *target,
                               char *found, DWORD size, TKnownShortcuts *known)
{
    found[0] = '\0';
    WIN32_FIND_DATAA entry;
    char key[MAX_PATH + 16];
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    do {
        // A shortcut known from an earlier pass is passed over before its name is
        // looked up: the look-up costs more than the listing.
        if (!GetListedKey(&entry, key, sizeof key) || IsKnownOther(known, key, &entry) ||
            !GetListedShortcut(desktop, &entry, shortcut, size))
            continue;
        HRESULT result = ResolveShortcut(NULL, shortcut, target);
        if (IsClientTarget(target)) {
            JoinPath(found, size, shortcut, NULL);
            break;
        }
        if (IsLastingResult(result))
            KeepKnownOther(known, key, &entry);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return found[0] != '\0';
}

// A desktop that the ANSI code page cannot name is reached in wide characters
// alone: listed through its handle, every shortcut of the client's in one
// listing. One that is there and cannot be listed counts as left.
static void RemoveShortcutsOfWideDesktop(const WCHAR *desktop)
{
    HANDLE directory = INVALID_HANDLE_VALUE;
    TStatus status =
        OpenPath(desktop, FILE_LIST_DIRECTORY | FILE_TRAVERSE, ShareAll, FILE_DIRECTORY_FILE, false, &directory);
    if (status == StatusSuccess) {
        TTally tally = {false, false};
        RemoveClientShortcutsIn(directory, desktop, NULL, &tally);
        CloseHandle(directory);
    } else if (!IsGone(status)) {
        RecordUnreachedTarget();
    }
}

void RemoveDesktopShortcutsOf(const TRunUser *user)
{
    const WCHAR *wide = user->Desktop;
    char ansi[2 * MAX_PATH];
    if (wide[0] == 0)
        return;
    if (!IsExactAnsiForm(wide, ansi, sizeof ansi)) {
        RemoveShortcutsOfWideDesktop(wide);
        return;
    }
    DWORD size = (DWORD)WindowsPathSize;
    char *desktop = (char *)AllocScratch(size);
    char *found = (char *)AllocScratch(size);
    char *pattern = (char *)AllocScratch(size);
    char *shortcut = (char *)AllocScratch(size);
    char *target = (char *)AllocScratch(size);
    if (desktop != NULL && found != NULL && pattern != NULL && shortcut != NULL && target != NULL &&
        JoinPath(desktop, size, ansi, NULL) && JoinPath(pattern, size, desktop, "\\*.lnk")) {
        TKnownShortcuts known;
        known.Count = 0;
        known.NamesUsed = 0;
        for (int pass = 0; pass < MaxShortcutPasses; pass++) {
            if (!FindClientShortcut(desktop, pattern, shortcut, target, found, size, &known))
                break;
            ForceDeleteRecordedFile(TargetShortcut, found);
            if (AfterShortcutDeletion != NULL)  // tests only
                AfterShortcutDeletion();
        }
    }
    FreeScratch(target);
    FreeScratch(shortcut);
    FreeScratch(pattern);
    FreeScratch(found);
    FreeScratch(desktop);
}

void RemoveDesktopShortcuts()
{
    TRunUser user;
    OpenRunningUser(&user);
    RemoveDesktopShortcutsOf(&user);
    CloseRunUser(&user);
}
