// Entries reached through handles. An entry is opened by its name relative to the
// handle of the directory that lists it, a link at that name opened as the link
// itself, and everything done to it afterwards (reading what it is, deleting it,
// moving it) goes through its own handle: no path is resolved again between a
// check and what is done. The system's native calls (NtCreateFile and its kin)
// are taken from ntdll when first needed.
#pragma once
#include <windows.h>

typedef LONG TStatus;  // the system's status code of a native call

const TStatus StatusSuccess = 0;
const TStatus StatusNoMemory = (TStatus)0xC0000017;
const TStatus StatusAccessDenied = (TStatus)0xC0000022;
const TStatus StatusSharingViolation = (TStatus)0xC0000043;
const TStatus StatusDeletePending = (TStatus)0xC0000056;
const TStatus StatusCannotDelete = (TStatus)0xC0000121;  // a running image, a loaded module, read-only
const TStatus StatusNotFound = (TStatus)0xC0000034;       // or its path
const TStatus StatusNameInvalid = (TStatus)0xC0000033;    // a name that cannot be asked for as it is

// What an open entry is, read through its handle.
struct TEntryFacts {
    DWORD Attributes;  // FILE_ATTRIBUTE_*, with the reparse-point bit for a link
    ULONGLONG FileId;  // its number on its volume
};

// Rights for deleting an entry, and for removing a directory tree: listing it,
// closing it to others, deleting it.
const ACCESS_MASK EntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const ACCESS_MASK TreeAccess = EntryAccess | FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | WRITE_DAC | WRITE_OWNER;
const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the entry called name (chars characters, no separator) in the open
// directory. options: FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE or 0. On
// failure *entry is INVALID_HANDLE_VALUE.
TStatus OpenEntry(HANDLE directory, const WCHAR *name, DWORD chars, ACCESS_MASK access, DWORD share, DWORD options,
                  HANDLE *entry);

// Opens a full wide path (a directory too); with linkItself a link at its end is
// opened itself, else what it leads to. options as for OpenEntry.
TStatus OpenPath(const WCHAR *path, ACCESS_MASK access, DWORD share, DWORD options, bool linkItself, HANDLE *entry);

// Creates the directory name in parent with the security descriptor and
// attributes given, opened with TreeAccess and not shared for deletion.
TStatus CreateDirectoryEntry(HANDLE parent, const WCHAR *name, DWORD chars, void *securityDescriptor,
                             DWORD attributes, HANDLE *directory);

bool ReadEntryFacts(HANDLE entry, TEntryFacts *facts);

// The file number alone, the cheaper question where the kind is known.
bool ReadEntryId(HANDLE entry, ULONGLONG *fileId);

// The names the open entry has (its hard links); 0 when that cannot be read.
DWORD ReadEntryLinks(HANDLE entry);

// The serial number of the open entry's volume (a slower question than the
// others here); false when it cannot be had.
bool ReadEntryVolume(HANDLE entry, DWORD *serial);

// True for a status that says the entry is not there (or its directory is not).
bool IsGone(TStatus status);

// True when the directory entry at path (a full wide path without a trailing
// backslash) is a link by its own attributes. Some platforms follow a link even
// when asked to open the link itself, and tell it only here.
bool IsLinkByName(const WCHAR *path);

// True when the open entry is the one a listing showed: the same kind (directory,
// link) and, where the listing gave one, the same file number. Listed attributes
// of INVALID_FILE_ATTRIBUTES ask only for an entry that is no directory.
bool IsListedEntry(const TEntryFacts *facts, DWORD listedAttributes, ULONGLONG listedId);

// Deletes the open entry: a file, a link (itself, never what it leads to) or an
// empty directory. A read-only one goes too; when it has other hard links, they
// keep the attribute, which is theirs as well.
TStatus DeleteEntry(HANDLE entry, const TEntryFacts *facts);

// Clears the read-only attribute of the open entry (its other hard links would
// lose it too). False when it cannot be cleared.
bool ClearReadOnly(HANDLE entry, const TEntryFacts *facts);

// Moves the open entry into the open directory under name.
TStatus MoveEntry(HANDLE entry, HANDLE directory, const WCHAR *name, DWORD chars);

// The listing of an open directory, read through its handle in blocks.
const DWORD ListingBytes = 8192;
struct TListing {
    HANDLE Directory;
    BYTE *Block;  // ListingBytes of scratch, or null
    DWORD Next;   // offset of the next record in Block
    bool Started;
    bool Filled;  // Block holds records from Next on
};
bool OpenListing(HANDLE directory, TListing *listing);
// The next entry, or null when there is none (or the listing failed). The record
// lives until the next call.
const FILE_ID_BOTH_DIR_INFO *NextListed(TListing *listing);
void CloseListing(TListing *listing);

// The full path of an open entry (\\?\X:\... or \\?\UNC\server\share\...) into path
// (chars characters); false when it cannot be had or does not fit.
bool GetEntryPath(HANDLE entry, WCHAR *path, DWORD chars);

// True for an entry on a fixed, local volume whose file system keeps security
// descriptors: what is named there is named the same after a restart, and
// rights can keep others from changing it.
bool IsOnLastingVolume(HANDLE entry);
