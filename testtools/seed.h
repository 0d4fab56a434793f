// Machine seeding: installs a complete Solvarine client on a (Wine) machine, with
// everything its installation leaves outside its own directory, and beside it the
// things of other programs that an un-install must leave alone ("neighbours").
// Also lists what is there, item by item, and takes a comparable picture of every
// part of the machine that an un-install run may touch.
//
// Texts are UTF-8; names outside the ANSI code page are made and read with the
// wide-character API.
#pragma once
#include <string>
#include <vector>

// Where the seeded client lives, and what WIN.INI's "ExePath" then says.
extern const char SeedInstallDir[];   // "C:\Program Files\Solvarine\"
extern const char SeedClientExe[];    // "C:\Program Files\Solvarine\DVQ32.EXE"

// Writes a shell link object's stream to path, the file IPersistFile::Save
// writes: under Wine, IPersistFile::Save also starts a process of Wine's menu
// builder for every shortcut saved, which costs more than the seeding.
struct IUnknown;
bool SaveLinkFile(IUnknown *link, const std::wstring &path);

// Saves a shortcut file at path (a full path) that leads to target, with
// SaveLinkFile; COM must be initialised.
bool SaveShortcutFile(const std::wstring &path, const std::string &target);

// Creates every client item and every neighbour, switching screen saving on.
// False, with what failed in *error (may be null), when something could not be
// made; whatever was made stays.
bool SeedInstall(std::string *error);

// Removes every client item and every neighbour (and what was made below their
// directories and keys) and switches screen saving off.
void SeedClean();

struct TInventoryItem {
    bool client;           // false for a neighbour, which an un-install must leave
    bool present;
    std::string kind;      // "dir", "file", "shortcut", "profile", "key", "value", "setting"
    std::string location;  // as in the full inventory; a "dir" or "key" covers what is below it
};

// Every client item and every neighbour, each marked present or absent.
std::vector<TInventoryItem> Inventory();

// One line an item: "client    present  file      C:\Program Files\Solvarine\DVQ32.EXE".
std::string FormatInventory(const std::vector<TInventoryItem> &items);

// The state of everything an un-install run may touch, one sorted line per thing,
// "kind<TAB>location<TAB>details": every directory and file (attributes, size and a
// checksum of its content) below the installation, the sibling installation, the
// browser, the Start menu's Programs folder, and at the top of the Desktop and the
// Windows directory; every key of the WIN.INI and SYSTEM.INI sections involved;
// the registry keys involved with all their values; the screen-saving switch. Two
// pictures are equal when nothing of that changed.
std::vector<std::string> FullInventory();

// The location field of a full-inventory line.
std::string InventoryLocation(const std::string &line);

// True when location is item's location or lies below it (a "dir" or "key" item).
bool InventoryCovers(const TInventoryItem &item, const std::string &location);

// What changed between two pictures: "- line" for what went, "+ line" for what came.
std::string DiffInventories(const std::vector<std::string> &before, const std::vector<std::string> &after);
