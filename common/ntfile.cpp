#include "common/ntfile.h"
#include "common/scratch.h"
#include <winternl.h>
#include <string.h>
#include <wchar.h>

namespace {

// The native calls, with the information classes used here.
typedef TStatus(NTAPI *TNtCreateFile)(HANDLE *, ACCESS_MASK, OBJECT_ATTRIBUTES *, IO_STATUS_BLOCK *,
                                      LARGE_INTEGER *, ULONG, ULONG, ULONG, ULONG, void *, ULONG);
typedef TStatus(NTAPI *TNtSetInformationFile)(HANDLE, IO_STATUS_BLOCK *, void *, ULONG, ULONG);
typedef TStatus(NTAPI *TNtQueryInformationFile)(HANDLE, IO_STATUS_BLOCK *, void *, ULONG, ULONG);
typedef TStatus(NTAPI *TNtQueryVolumeInformationFile)(HANDLE, IO_STATUS_BLOCK *, void *, ULONG, ULONG);

const ULONG FileStandardInformationClass = 5;
const ULONG FileInternalInformationClass = 6;
const ULONG FileRenameInformationClass = 10;
const ULONG FileDispositionInformationClass = 13;
const ULONG FileAttributeTagInformationClass = 35;
const ULONG FileDispositionInformationExClass = 64;
const ULONG FileFsDeviceInformationClass = 4;

const ULONG DispositionDelete = 0x1;
const ULONG DispositionPosixSemantics = 0x2;
const ULONG DispositionIgnoreReadOnly = 0x10;

const ULONG OpenExisting = 1;  // FILE_OPEN
const ULONG CreateNew = 2;     // FILE_CREATE
const ULONG OpenLinkItself = 0x00200000;  // FILE_OPEN_REPARSE_POINT
const ULONG SynchronousIo = 0x00000020;   // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG BackupIntent = 0x00004000;    // FILE_OPEN_FOR_BACKUP_INTENT

struct TNative {
    TNtCreateFile CreateFile;
    TNtSetInformationFile SetInformationFile;
    TNtQueryInformationFile QueryInformationFile;
    TNtQueryVolumeInformationFile QueryVolumeInformationFile;
};

const TNative *Native()
{
    // The same values whoever asks first, and on every later call.
    static TNative native = {NULL, NULL, NULL, NULL};
    if (native.CreateFile == NULL) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll != NULL) {
            native.SetInformationFile = (TNtSetInformationFile)(void *)GetProcAddress(ntdll, "NtSetInformationFile");
            native.QueryInformationFile =
                (TNtQueryInformationFile)(void *)GetProcAddress(ntdll, "NtQueryInformationFile");
            native.QueryVolumeInformationFile =
                (TNtQueryVolumeInformationFile)(void *)GetProcAddress(ntdll, "NtQueryVolumeInformationFile");
            native.CreateFile = (TNtCreateFile)(void *)GetProcAddress(ntdll, "NtCreateFile");
        }
    }
    return native.CreateFile != NULL && native.SetInformationFile != NULL && native.QueryInformationFile != NULL &&
                   native.QueryVolumeInformationFile != NULL
               ? &native
               : NULL;
}

TStatus CreateAt(HANDLE directory, const WCHAR *name, DWORD chars, ACCESS_MASK access, DWORD share, ULONG disposition,
                 ULONG options, void *securityDescriptor, DWORD attributes, HANDLE *entry)
{
    *entry = INVALID_HANDLE_VALUE;
    const TNative *native = Native();
    if (native == NULL)
        return StatusAccessDenied;
    if (chars == 0 || chars > 32767)
        return StatusNameInvalid;
    UNICODE_STRING text;
    text.Buffer = (WCHAR *)name;
    text.Length = text.MaximumLength = (USHORT)(chars * sizeof(WCHAR));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, directory, securityDescriptor);
    IO_STATUS_BLOCK io;
    HANDLE opened = NULL;
    TStatus status = native->CreateFile(&opened, access | SYNCHRONIZE, &object, &io, NULL, attributes, share,
                                        disposition, options | OpenLinkItself | SynchronousIo | BackupIntent,
                                        NULL, 0);
    if (status >= 0)
        *entry = opened;
    return status;
}

TStatus SetInformation(HANDLE entry, void *information, ULONG size, ULONG kind)
{
    const TNative *native = Native();
    IO_STATUS_BLOCK io;
    return native != NULL ? native->SetInformationFile(entry, &io, information, size, kind) : StatusAccessDenied;
}

bool QueryInformation(HANDLE entry, void *information, ULONG size, ULONG kind)
{
    const TNative *native = Native();
    IO_STATUS_BLOCK io;
    return native != NULL && native->QueryInformationFile(entry, &io, information, size, kind) >= 0;
}

// The attributes that may be set on an entry, of those it has.
DWORD SettableAttributes(DWORD attributes)
{
    attributes &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool SetAttributes(HANDLE entry, DWORD attributes)
{
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof basic);  // times of 0 are left as they are
    basic.FileAttributes = SettableAttributes(attributes);
    return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

}  // namespace

TStatus OpenEntry(HANDLE directory, const WCHAR *name, DWORD chars, ACCESS_MASK access, DWORD share, DWORD options,
                  HANDLE *entry)
{
    for (DWORD i = 0; i < chars; i++)
        if (name[i] == L'\\' || name[i] == L'/' || name[i] == 0) {
            *entry = INVALID_HANDLE_VALUE;
            return StatusNameInvalid;
        }
    return CreateAt(directory, name, chars, access, share, OpenExisting, options, NULL, 0, entry);
}

// The status of a failed Win32 call, as far as the callers here tell them apart.
TStatus StatusOfLastError()
{
    switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
        return StatusSharingViolation;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NOT_READY:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
        return StatusNotFound;
    default:
        return StatusAccessDenied;
    }
}

TStatus OpenPath(const WCHAR *path, ACCESS_MASK access, DWORD share, DWORD options, bool linkItself, HANDLE *entry)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    *entry = CreateFileW(path, access | SYNCHRONIZE, share, NULL, OPEN_EXISTING, flags, NULL);
    if (*entry == INVALID_HANDLE_VALUE)
        return StatusOfLastError();
    BY_HANDLE_FILE_INFORMATION info;
    bool directory = GetFileInformationByHandle(*entry, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if ((options == FILE_DIRECTORY_FILE && !directory) || (options == FILE_NON_DIRECTORY_FILE && directory)) {
        CloseHandle(*entry);
        *entry = INVALID_HANDLE_VALUE;
        return StatusNotFound;
    }
    return StatusSuccess;
}

TStatus CreateDirectoryEntry(HANDLE parent, const WCHAR *name, DWORD chars, void *securityDescriptor,
                             DWORD attributes, HANDLE *directory)
{
    return CreateAt(parent, name, chars, TreeAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, CreateNew,
                    FILE_DIRECTORY_FILE, securityDescriptor, attributes, directory);
}

bool ReadEntryFacts(HANDLE entry, TEntryFacts *facts)
{
    struct {
        ULONG FileAttributes;
        ULONG ReparseTag;
    } tag;
    if (!QueryInformation(entry, &tag, sizeof tag, FileAttributeTagInformationClass))
        return false;
    facts->Attributes = tag.FileAttributes;
    return ReadEntryId(entry, &facts->FileId);
}

bool ReadEntryId(HANDLE entry, ULONGLONG *fileId)
{
    LARGE_INTEGER id;
    if (!QueryInformation(entry, &id, sizeof id, FileInternalInformationClass))
        return false;
    *fileId = (ULONGLONG)id.QuadPart;
    return true;
}

DWORD ReadEntryLinks(HANDLE entry)
{
    struct {
        LARGE_INTEGER AllocationSize;
        LARGE_INTEGER EndOfFile;
        ULONG NumberOfLinks;
        BOOLEAN DeletePending;
        BOOLEAN Directory;
    } standard;
    return QueryInformation(entry, &standard, sizeof standard, FileStandardInformationClass) ? standard.NumberOfLinks
                                                                                           : 0;
}

bool ReadEntryVolume(HANDLE entry, DWORD *serial)
{
    return GetVolumeInformationByHandleW(entry, NULL, 0, serial, NULL, NULL, NULL, 0) != FALSE;
}

bool IsGone(TStatus status)
{
    const TStatus noSuchFile = (TStatus)0xC000000F, pathNotFound = (TStatus)0xC000003A;
    return status == StatusNotFound || status == pathNotFound || status == noSuchFile;
}

bool IsLinkByName(const WCHAR *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsListedEntry(const TEntryFacts *facts, DWORD listedAttributes, ULONGLONG listedId)
{
    const DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (listedAttributes == INVALID_FILE_ATTRIBUTES)
        return !(facts->Attributes & FILE_ATTRIBUTE_DIRECTORY) && (listedId == 0 || listedId == facts->FileId);
    return (facts->Attributes & kind) == (listedAttributes & kind) && (listedId == 0 || listedId == facts->FileId);
}

TStatus DeleteEntry(HANDLE entry, const TEntryFacts *facts)
{
    // Where the system has it, the name goes at once, even while another program
    // holds the file open for deletion, and a read-only attribute is no obstacle.
    ULONG flags = DispositionDelete | DispositionPosixSemantics | DispositionIgnoreReadOnly;
    TStatus status = SetInformation(entry, &flags, sizeof flags, FileDispositionInformationExClass);
    if (status == StatusSuccess || status == StatusCannotDelete || status == StatusSharingViolation)
        return status;
    // Otherwise a read-only attribute is cleared for the deletion; the file's
    // other names get it back, and so does a file that stays.
    bool cleared = (facts->Attributes & FILE_ATTRIBUTE_READONLY) &&
                   SetAttributes(entry, facts->Attributes & ~FILE_ATTRIBUTE_READONLY);
    DWORD links = cleared ? ReadEntryLinks(entry) : 1;
    BOOLEAN doDelete = TRUE;
    status = SetInformation(entry, &doDelete, sizeof doDelete, FileDispositionInformationClass);
    if (cleared && (status != StatusSuccess || links != 1))
        SetAttributes(entry, facts->Attributes);
    return status;
}

bool ClearReadOnly(HANDLE entry, const TEntryFacts *facts)
{
    return !(facts->Attributes & FILE_ATTRIBUTE_READONLY) ||
           SetAttributes(entry, facts->Attributes & ~FILE_ATTRIBUTE_READONLY);
}

TStatus MoveEntry(HANDLE entry, HANDLE directory, const WCHAR *name, DWORD chars)
{
    // FILE_RENAME_INFORMATION with room for the longest name.
    struct {
        BOOLEAN ReplaceIfExists;
        HANDLE RootDirectory;
        ULONG FileNameLength;
        WCHAR FileName[256];
    } rename;
    if (chars == 0 || chars > 256)
        return StatusNameInvalid;
    rename.ReplaceIfExists = FALSE;
    rename.RootDirectory = directory;
    rename.FileNameLength = chars * sizeof(WCHAR);
    memcpy(rename.FileName, name, chars * sizeof(WCHAR));
    return SetInformation(entry, &rename, sizeof rename, FileRenameInformationClass);
}

bool OpenListing(HANDLE directory, TListing *listing)
{
    listing->Directory = directory;
    listing->Next = 0;
    listing->Started = listing->Filled = false;
    listing->Block = (BYTE *)AllocScratch(ListingBytes);
    return listing->Block != NULL;
}

const FILE_ID_BOTH_DIR_INFO *NextListed(TListing *listing)
{
    if (listing->Block == NULL)
        return NULL;
    if (!listing->Filled) {
        FILE_INFO_BY_HANDLE_CLASS kind = listing->Started ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo;
        listing->Started = true;
        if (!GetFileInformationByHandleEx(listing->Directory, kind, listing->Block, ListingBytes))
            return NULL;
        listing->Filled = true;
        listing->Next = 0;
    }
    const FILE_ID_BOTH_DIR_INFO *record = (const FILE_ID_BOTH_DIR_INFO *)(listing->Block + listing->Next);
    if (record->NextEntryOffset == 0)
        listing->Filled = false;
    else
        listing->Next += record->NextEntryOffset;
    return record;
}

void CloseListing(TListing *listing)
{
    FreeScratch(listing->Block);
    listing->Block = NULL;
}

bool GetEntryPath(HANDLE entry, WCHAR *path, DWORD chars)
{
    DWORD length = GetFinalPathNameByHandleW(entry, path, chars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < chars;
}

bool IsOnLastingVolume(HANDLE entry)
{
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(entry, NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        !(flags & FILE_PERSISTENT_ACLS))
        return false;
    struct {
        ULONG DeviceType;
        ULONG Characteristics;
    } device = {0, 0};
    const TNative *native = Native();
    IO_STATUS_BLOCK io;
    if (native == NULL ||
        native->QueryVolumeInformationFile(entry, &io, &device, sizeof device, FileFsDeviceInformationClass) < 0)
        return false;
    // Removable media, a floppy disk, a network file system or a virtual disk that
    // was attached by hand may be elsewhere, or not there, at the next start.
    const ULONG removable = 0x1, floppy = 0x4, remote = 0x10, virtualVolume = 0x40;
    const ULONG disk = 0x7, diskFileSystem = 0x8;  // FILE_DEVICE_DISK, FILE_DEVICE_DISK_FILE_SYSTEM
    if ((device.DeviceType != disk && device.DeviceType != diskFileSystem) ||
        (device.Characteristics & (removable | floppy | remote | virtualVolume)))
        return false;
    // And the drive that the system names it by is a fixed one.
    WCHAR path[MAX_PATH];
    DWORD length = GetFinalPathNameByHandleW(entry, path, MAX_PATH, VOLUME_NAME_DOS);
    if (length < 7 || length >= MAX_PATH || wcsncmp(path, L"\\\\?\\", 4) != 0 || path[5] != L':')
        return false;
    path[7] = 0;
    return GetDriveTypeW(path + 4) == DRIVE_FIXED;
}
