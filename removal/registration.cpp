#include "removal/removal.h"
#include "client/removalrecord.h"
#include "common/scratch.h"

namespace {

// The client's document type and file extension, under a classes key.
const WCHAR DocumentType[] = L"Solvarine.Connection";
const WCHAR Extension[] = L".wnq";
const WCHAR ClassesKey[] = L"Software\\Classes";

// The browser's settings that map the client's MIME type to it, in a user's part
// of the registry.
const char *const BrowserMimeKeys[] = {
    "Software\\Netscape\\Netscape Navigator\\Suffixes",
    "Software\\Netscape\\Netscape Navigator\\Viewers",
};
const char MimeType[] = "application/x-dvq-connection";

const char UninstallEntryKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\The Solvarine Network";

// The longest name of a key, 255 characters, and its end: the size of the name
// buffer, which also holds an extension's default value while it is judged.
const DWORD KeyNameChars = 256;

// A key of a tree to delete: its subkeys listed, its values read, itself deleted.
const REGSAM TreeKeyAccess = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;

typedef LONG(NTAPI *TNtDeleteKey)(HANDLE);

// Deletes the open key itself (it must hold no subkeys). A link opened as itself
// is deleted, never the key it leads to: RegDeleteKey would open the name again
// and follow it.
bool DeleteOpenKey(HKEY key)
{
    static TNtDeleteKey deleteKey = NULL;
    if (deleteKey == NULL) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll != NULL)
            deleteKey = (TNtDeleteKey)(void *)GetProcAddress(ntdll, "NtDeleteKey");
    }
    return deleteKey != NULL && deleteKey((HANDLE)key) == 0;
}

// True for a registry link, opened as itself: it holds where it leads.
bool IsLinkKey(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", NULL, &type, NULL, NULL) == ERROR_SUCCESS && type == REG_LINK;
}

bool IsGoneKey(LONG opened)
{
    return opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND;
}

// Deletes the open key with everything below it, depth first: each subkey is
// opened by the name its parent lists, through the parent's handle, as itself, so
// that a link is deleted and never entered. Subkeys more than MaxKeyTreeDepth
// levels below the top are not reached; they stay, and so do the keys above them.
// Without a name buffer (KeyNameChars) no subkey is reached. True when the key is
// gone.
bool DeleteKeyTree(HKEY key, WCHAR *name, int depth)
{
    if (name != NULL && depth < MaxKeyTreeDepth && !IsLinkKey(key)) {
        // Each turn deletes the subkey listed at stayed, so that one fewer is
        // listed, or passes over it: the walk ends.
        DWORD stayed = 0;  // the subkeys listed first, which could not be deleted
        for (;;) {
            DWORD chars = KeyNameChars;
            if (RegEnumKeyExW(key, stayed, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            HKEY subkey;
            bool gone = RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, TreeKeyAccess, &subkey) == ERROR_SUCCESS;
            if (gone) {
                gone = DeleteKeyTree(subkey, name, depth + 1);
                RegCloseKey(subkey);
            }
            if (!gone)
                stayed++;
        }
    }
    return DeleteOpenKey(key);
}

// What an extension's key says of whose it is.
enum TOwner { OwnedByClient, OwnedByOther, OwnerUnknown };

// Compares the text (chars characters) with an ASCII name, ignoring the case of
// ASCII letters only.
bool IsAsciiName(const WCHAR *text, DWORD chars, const WCHAR *name)
{
    DWORD i = 0;
    for (; i < chars && name[i] != 0; i++) {
        WCHAR a = text[i] >= L'a' && text[i] <= L'z' ? (WCHAR)(text[i] - L'a' + L'A') : text[i];
        WCHAR b = name[i] >= L'a' && name[i] <= L'z' ? (WCHAR)(name[i] - L'a' + L'A') : name[i];
        if (a != b)
            return false;
    }
    return i == chars && name[i] == 0;
}

// The open extension key (opened as itself) is the client's when its default
// value, read into value (KeyNameChars characters), is a string (REG_SZ or
// REG_EXPAND_SZ, not expanded) that is empty or names the client's document
// type, or when it has no default value. Another type, a longer or malformed
// string, another name, and a link (the client's installer makes none) are
// another program's; a value that cannot be read at all, or no buffer, leaves
// it unknown.
TOwner ExtensionOwner(HKEY key, WCHAR *value)
{
    if (value == NULL)
        return OwnerUnknown;
    if (IsLinkKey(key))
        return OwnedByOther;
    DWORD type = REG_NONE, size = KeyNameChars * sizeof(WCHAR);
    LONG read = RegQueryValueExW(key, NULL, NULL, &type, (BYTE *)value, &size);
    if (read == ERROR_FILE_NOT_FOUND)
        return OwnedByClient;
    if (read == ERROR_MORE_DATA)
        return OwnedByOther;  // longer than the client's name
    if (read != ERROR_SUCCESS)
        return OwnerUnknown;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(WCHAR) != 0)
        return OwnedByOther;
    // The string as the system reads it ends at its last character; one holding a
    // character 0 before another names something else.
    DWORD chars = size / sizeof(WCHAR);
    while (chars > 0 && value[chars - 1] == 0)
        chars--;
    return chars == 0 || IsAsciiName(value, chars, DocumentType) ? OwnedByClient : OwnedByOther;
}

// The key called name under classes, opened as itself: the document type is the
// client's, the extension when ExtensionOwner says so. With remove, the client's
// is deleted with everything below it (which needs the buffer, KeyNameChars).
// Afterwards a key that is the client's, or might be, and is there (or cannot be
// opened) is recorded as unreached.
void HandleClassKey(HKEY classes, const WCHAR *name, bool remove, WCHAR *buffer)
{
    HKEY key;
    LONG opened = RegOpenKeyExW(classes, name, REG_OPTION_OPEN_LINK, remove ? TreeKeyAccess : KEY_QUERY_VALUE, &key);
    if (IsGoneKey(opened))
        return;
    bool left = true;
    if (opened == ERROR_SUCCESS) {
        TOwner owner = name == Extension ? ExtensionOwner(key, buffer) : OwnedByClient;
        left = owner == OwnerUnknown ||
               (owner == OwnedByClient && !(remove && buffer != NULL && DeleteKeyTree(key, buffer, 0)));
        RegCloseKey(key);
    }
    if (left)
        RecordUnreachedTarget();
}

// Deletes the client's keys under root\Software\Classes.
void RemoveClassKeys(HKEY root, WCHAR *buffer)
{
    HKEY classes;
    LONG opened = RegOpenKeyExW(root, ClassesKey, 0, KEY_ENUMERATE_SUB_KEYS, &classes);
    if (opened != ERROR_SUCCESS) {
        if (!IsGoneKey(opened))
            RecordUnreachedTarget();  // whether the client's keys are there is not known
        return;
    }
    HandleClassKey(classes, DocumentType, true, buffer);
    HandleClassKey(classes, Extension, true, buffer);
    RegCloseKey(classes);
}

// The uninstall entry's own values go, then the entry when nothing else is below
// it; machine is HKEY_LOCAL_MACHINE or a mirror of it. An entry that is a link is
// opened as itself: its values are its own, and it is deleted itself.
void RemoveUninstallEntry(HKEY machine)
{
    HKEY entry;
    LONG opened = RegOpenKeyExA(machine, UninstallEntryKey, REG_OPTION_OPEN_LINK,
                                KEY_QUERY_VALUE | KEY_SET_VALUE | DELETE, &entry);
    if (IsGoneKey(opened))
        return;
    bool gone = false;
    if (opened == ERROR_SUCCESS) {
        RegDeleteValueA(entry, "UninstallString");
        RegDeleteValueA(entry, "DisplayName");
        gone = DeleteOpenKey(entry);
        RegCloseKey(entry);
    }
    if (!gone)
        RecordUnreachedTarget();
}

}  // namespace

void RemoveUserRegistration(HKEY userRoot)
{
    WCHAR *buffer = (WCHAR *)AllocScratch(KeyNameChars * sizeof(WCHAR));
    RemoveClassKeys(userRoot, buffer);
    FreeScratch(buffer);

    for (size_t i = 0; i < sizeof BrowserMimeKeys / sizeof BrowserMimeKeys[0]; i++) {
        HKEY key;
        if (RegOpenKeyExA(userRoot, BrowserMimeKeys[i], 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, MimeType);
            RegCloseKey(key);
        }
    }
}

void RemoveRegistration()
{
    WCHAR *buffer = (WCHAR *)AllocScratch(KeyNameChars * sizeof(WCHAR));
    RemoveClassKeys(HKEY_LOCAL_MACHINE, buffer);
    RemoveUserRegistration(HKEY_CURRENT_USER);
    // The merged view shows what either part still holds, and what the system
    // merges from elsewhere.
    HandleClassKey(HKEY_CLASSES_ROOT, DocumentType, false, buffer);
    HandleClassKey(HKEY_CLASSES_ROOT, Extension, false, buffer);
    FreeScratch(buffer);

    RemoveUninstallEntry(HKEY_LOCAL_MACHINE);
}

void RemoveVirtualRegistration(HKEY userRoot)
{
    // What an unelevated client wrote to HKEY_LOCAL_MACHINE\Software went here.
    HKEY machine;
    LONG opened = RegOpenKeyExW(userRoot, L"Software\\Classes\\VirtualStore\\MACHINE", 0, KEY_ENUMERATE_SUB_KEYS,
                                &machine);
    if (opened != ERROR_SUCCESS) {
        if (!IsGoneKey(opened))
            RecordUnreachedTarget();
        return;
    }
    WCHAR *buffer = (WCHAR *)AllocScratch(KeyNameChars * sizeof(WCHAR));
    RemoveClassKeys(machine, buffer);
    FreeScratch(buffer);
    RemoveUninstallEntry(machine);
    RegCloseKey(machine);
}
