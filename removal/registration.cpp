#include "removal/removal.h"

// The client's document type and file extension, innermost key first: a key
// with subkeys cannot be deleted.
static const char *const DocumentTypeKeys[] = {
    "Solvarine.Connection\\Shell\\Open\\Command",
    "Solvarine.Connection\\Shell\\Open",
    "Solvarine.Connection\\Shell",
    "Solvarine.Connection",
    ".wnq",
};

// The browser's settings that map the client's MIME type to it.
static const char *const BrowserMimeKeys[] = {
    "Software\\Netscape\\Netscape Navigator\\Suffixes",
    "Software\\Netscape\\Netscape Navigator\\Viewers",
};

static const char UninstallEntryKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\The Solvarine Network";

void RemoveRegistration()
{
    for (size_t i = 0; i < sizeof DocumentTypeKeys / sizeof DocumentTypeKeys[0]; i++)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, DocumentTypeKeys[i]);

    for (size_t i = 0; i < sizeof BrowserMimeKeys / sizeof BrowserMimeKeys[0]; i++) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, BrowserMimeKeys[i], 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "application/x-dvq-connection");
            RegCloseKey(key);
        }
    }

    HKEY entry;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryKey, 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(entry, "UninstallString");
    RegDeleteValueA(entry, "DisplayName");
    RegCloseKey(entry);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallEntryKey);
}
