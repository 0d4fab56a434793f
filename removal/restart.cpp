#include "removal/restart.h"
#include "common/scratch.h"
#include "common/security.h"
#include <objbase.h>
#include <string.h>
#include <wchar.h>

volatile LONG RefuseRestartDeletion = 0;

namespace {

bool ScheduleDeletion(const WCHAR *path)
{
    return RefuseRestartDeletion == 0 && MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The length of "\\?\X:\" at the start of a full path; 0 for a path that is not
// on a drive (a share, a volume without a letter).
DWORD DriveRootChars(const WCHAR *path)
{
    WCHAR letter = path[4] & ~0x20;
    return wcsncmp(path, L"\\\\?\\", 4) == 0 && letter >= L'A' && letter <= L'Z' && path[5] == L':' &&
                   path[6] == L'\\'
               ? 7
               : 0;
}

// True when each directory from the volume's root to the one holding the open
// entry is guarded, that one against adding too, and the path leads to the
// entry itself: each directory on it is opened through the one above it, none of
// them a link, and the last is the entry by its file number. The entry's path is
// left in plan->Path.
bool IsGuardedPath(TRestartPlan *plan, HANDLE entry, const TEntryFacts *facts)
{
    WCHAR *path = plan->Path;
    DWORD root = GetEntryPath(entry, path, PlanPathChars) ? DriveRootChars(path) : 0;
    if (root == 0 || path[root] == 0 || !IsOnLastingVolume(entry))
        return false;
    WCHAR kept = path[root];
    path[root] = 0;
    HANDLE current = INVALID_HANDLE_VALUE;
    // Rights that no program holding the entry can refuse, and for the directories
    // the right to pass through them.
    const ACCESS_MASK reading = READ_CONTROL | FILE_READ_ATTRIBUTES;
    OpenPath(path, reading | FILE_TRAVERSE, ShareAll, FILE_DIRECTORY_FILE, true, &current);
    path[root] = kept;
    bool guarded = current != INVALID_HANDLE_VALUE;
    for (const WCHAR *name = path + root; guarded && *name != 0;) {
        const WCHAR *end = wcschr(name, L'\\');
        bool last = end == NULL;
        DWORD chars = last ? (DWORD)wcslen(name) : (DWORD)(end - name);
        HANDLE next = INVALID_HANDLE_VALUE;
        TEntryFacts seen;
        guarded = IsGuardedDirectory(current, last) &&
                  OpenEntry(current, name, chars, last ? reading : reading | FILE_TRAVERSE, ShareAll, 0, &next) ==
                      StatusSuccess &&
                  ReadEntryFacts(next, &seen) &&
                  (last ? seen.FileId == facts->FileId
                        : (seen.Attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                              !(seen.Attributes & FILE_ATTRIBUTE_REPARSE_POINT));
        CloseHandle(current);
        current = next;
        name = last ? name + chars : end + 1;
    }
    if (current != INVALID_HANDLE_VALUE)
        CloseHandle(current);
    return guarded;
}

// The holding directory of the entry's volume, made at its root when first
// needed; null when there is none and can be none.
THolding *HoldingFor(TRestartPlan *plan, HANDLE entry)
{
    DWORD volume = 0;
    if (!ReadEntryVolume(entry, &volume))
        return NULL;
    for (int i = 0; i < plan->HoldingCount; i++)
        if (plan->Holdings[i].Volume == volume)
            return plan->Holdings[i].Directory != INVALID_HANDLE_VALUE ? &plan->Holdings[i] : NULL;
    if (plan->HoldingCount == MaxHoldings)
        return NULL;
    THolding *holding = &plan->Holdings[plan->HoldingCount++];
    holding->Volume = volume;
    holding->Directory = INVALID_HANDLE_VALUE;
    holding->Moved = 0;
    WCHAR *path = plan->Path;
    DWORD rootChars = GetEntryPath(entry, path, PlanPathChars) ? DriveRootChars(path) : 0;
    if (rootChars == 0)
        return NULL;
    path[rootChars] = 0;
    HANDLE root = INVALID_HANDLE_VALUE;
    OpenPath(path, READ_CONTROL | FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES, ShareAll,
             FILE_DIRECTORY_FILE, true, &root);
    TClosedDescriptor closed;
    GUID unique;
    if (root != INVALID_HANDLE_VALUE && IsOnLastingVolume(root) && IsGuardedDirectory(root, false) &&
        MakeClosedDescriptor(&closed) && CoCreateGuid(&unique) == S_OK) {
        // "DVQRMV32-" and the 32 hexadecimal digits of a new GUID.
        WCHAR name[48] = L"DVQRMV32-";
        const BYTE *bytes = (const BYTE *)&unique;
        for (int i = 0; i < 16; i++) {
            name[9 + 2 * i] = L"0123456789ABCDEF"[bytes[i] >> 4];
            name[10 + 2 * i] = L"0123456789ABCDEF"[bytes[i] & 15];
        }
        name[41] = 0;
        if (CreateDirectoryEntry(root, name, 41, &closed.Descriptor, FILE_ATTRIBUTE_HIDDEN, &holding->Directory) !=
            StatusSuccess) {
            // Some systems take no owner but the creator's own.
            SetSecurityDescriptorOwner(&closed.Descriptor, NULL, FALSE);
            CreateDirectoryEntry(root, name, 41, &closed.Descriptor, FILE_ATTRIBUTE_HIDDEN, &holding->Directory);
        }
    }
    if (root != INVALID_HANDLE_VALUE)
        CloseHandle(root);
    return holding->Directory != INVALID_HANDLE_VALUE ? holding : NULL;
}

// The decimal digits of number into name (at least 11 characters); their count.
DWORD DecimalName(DWORD number, WCHAR *name)
{
    WCHAR digits[11];
    DWORD count = 0;
    do {
        digits[count++] = (WCHAR)(L'0' + number % 10);
        number /= 10;
    } while (number > 0);
    for (DWORD i = 0; i < count; i++)
        name[i] = digits[count - 1 - i];
    return count;
}

// Moves the open entry into its volume's holding directory and schedules it
// there. When it cannot be scheduled it is put back where it was.
bool ScheduleInHolding(TRestartPlan *plan, HANDLE entry, HANDLE directory, const TListedName *listed)
{
    THolding *holding = HoldingFor(plan, entry);
    WCHAR name[12];
    DWORD chars = holding != NULL ? DecimalName(holding->Moved + 1, name) : 0;
    if (holding == NULL || MoveEntry(entry, holding->Directory, name, chars) != StatusSuccess)
        return false;
    WCHAR *path = plan->Path;
    DWORD used = GetEntryPath(holding->Directory, path, PlanPathChars - 13) ? (DWORD)wcslen(path) : 0;
    bool scheduled = false;
    if (used > 0) {
        path[used++] = L'\\';
        memcpy(path + used, name, chars * sizeof(WCHAR));
        path[used + chars] = 0;
        scheduled = ScheduleDeletion(path);
    }
    if (!scheduled) {
        MoveEntry(entry, directory, listed->Name, listed->Chars);
        return false;
    }
    holding->Moved++;
    return true;
}

}  // namespace

bool IsInUse(TStatus status)
{
    return status == StatusSharingViolation || status == StatusCannotDelete || status == StatusDeletePending;
}

bool OpenRestartPlan(TRestartPlan *plan)
{
    plan->HoldingCount = 0;
    plan->Path = (WCHAR *)AllocScratch(PlanPathChars * sizeof(WCHAR));
    return plan->Path != NULL;
}

void CloseRestartPlan(TRestartPlan *plan, TTally *tally)
{
    for (int i = 0; i < plan->HoldingCount; i++) {
        HANDLE directory = plan->Holdings[i].Directory;
        if (directory == INVALID_HANDLE_VALUE)
            continue;
        TEntryFacts facts;
        if (plan->Holdings[i].Moved == 0) {
            if (ReadEntryFacts(directory, &facts))
                DeleteEntry(directory, &facts);
        } else if (plan->Path == NULL || !GetEntryPath(directory, plan->Path, PlanPathChars) ||
                   !ScheduleDeletion(plan->Path)) {
            tally->Left = true;
        }
        CloseHandle(directory);
    }
    plan->HoldingCount = 0;
    FreeScratch(plan->Path);
    plan->Path = NULL;
}

bool ScheduleInPlace(TRestartPlan *plan, HANDLE entry)
{
    TEntryFacts facts;
    return ReadEntryFacts(entry, &facts) && IsGuardedPath(plan, entry, &facts) && ScheduleDeletion(plan->Path);
}

// What becomes of a file of the open directory whose deletion failed with
// status; entry is its handle when it could be opened (else
// INVALID_HANDLE_VALUE), facts what it is then.
static void SettleStayedFile(TRestartPlan *plan, HANDLE directory, const TListedName *listed, HANDLE entry,
                             const TEntryFacts *facts, TStatus status, TTally *tally)
{
    // Marked for deletion already: it goes when the program holding it lets go.
    if (status == StatusDeletePending) {
        tally->Scheduled = true;
        return;
    }
    if (plan == NULL || !IsInUse(status)) {
        tally->Left = true;
        return;
    }
    // Held without delete sharing: what it is can still be read, and its
    // attributes changed.
    HANDLE own = INVALID_HANDLE_VALUE;
    TEntryFacts seen;
    if (entry == INVALID_HANDLE_VALUE) {
        if (OpenEntry(directory, listed->Name, listed->Chars, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, ShareAll,
                      FILE_NON_DIRECTORY_FILE, &own) != StatusSuccess ||
            !ReadEntryFacts(own, &seen) || !IsListedEntry(&seen, listed->Attributes, listed->FileId)) {
            if (own != INVALID_HANDLE_VALUE)
                CloseHandle(own);
            tally->Left = true;
            return;
        }
        entry = own;
        facts = &seen;
    }
    // The restart does not delete a read-only file either; the attribute is
    // cleared, unless the file's other names share it.
    bool scheduled = ReadEntryLinks(entry) == 1 && ClearReadOnly(entry, facts) &&
                     ((status == StatusCannotDelete && ScheduleInHolding(plan, entry, directory, listed)) ||
                      ScheduleInPlace(plan, entry));
    if (own != INVALID_HANDLE_VALUE)
        CloseHandle(own);
    if (scheduled)
        tally->Scheduled = true;
    else
        tally->Left = true;
}

bool DeleteListedEntry(TRestartPlan *plan, HANDLE directory, const TListedName *listed, TTally *tally)
{
    bool linkedDirectory = listed->Attributes != INVALID_FILE_ATTRIBUTES &&
                           (listed->Attributes & FILE_ATTRIBUTE_DIRECTORY);
    HANDLE entry = INVALID_HANDLE_VALUE;
    TEntryFacts facts;
    memset(&facts, 0, sizeof facts);
    TStatus status = OpenEntry(directory, listed->Name, listed->Chars, EntryAccess, ShareAll,
                               linkedDirectory ? 0 : FILE_NON_DIRECTORY_FILE, &entry);
    if (status == StatusSuccess) {
        // A file listed as no link was opened as no directory: its number says
        // whether it is the one listed, and the listing what it is.
        bool plainFile = listed->Attributes != INVALID_FILE_ATTRIBUTES &&
                         !(listed->Attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        facts.Attributes = listed->Attributes;
        bool known = plainFile ? ReadEntryId(entry, &facts.FileId) : ReadEntryFacts(entry, &facts);
        if (known && IsListedEntry(&facts, listed->Attributes, listed->FileId))
            status = DeleteEntry(entry, &facts);
        else
            status = StatusAccessDenied;  // not the entry listed: left alone
    }
    if (status != StatusSuccess && !IsGone(status)) {
        if (linkedDirectory)
            tally->Left = true;
        else
            SettleStayedFile(plan, directory, listed, entry, &facts, status, tally);
    }
    if (entry != INVALID_HANDLE_VALUE)
        CloseHandle(entry);
    return status == StatusSuccess;
}
