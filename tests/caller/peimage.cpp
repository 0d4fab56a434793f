#include "tests/caller/peimage.h"
#include <vector>

namespace {

// The image's pointer-sized relocation: the module is built for the caller's own
// architecture.
#ifdef _WIN64
const int kPointerRelocation = IMAGE_REL_BASED_DIR64;
#else
const int kPointerRelocation = IMAGE_REL_BASED_HIGHLOW;
#endif

IMAGE_NT_HEADERS *NtHeaders(BYTE *image)
{
    IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)image;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return NULL;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return NULL;
    return nt;
}

bool ReadWholeFile(const std::string &path, std::vector<BYTE> *contents)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, NULL);
    contents->resize(size);
    DWORD read = 0;
    BOOL done = size != INVALID_FILE_SIZE && ReadFile(file, contents->data(), size, &read, NULL) && read == size;
    CloseHandle(file);
    return done != FALSE;
}

// The file offset of an image address in the file's raw section data; 0 when the
// address lies in no section's raw data.
DWORD FileOffsetOf(IMAGE_NT_HEADERS *nt, DWORD rva)
{
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++)
        if (rva >= section->VirtualAddress && rva + sizeof(ULONG_PTR) <= section->VirtualAddress + section->SizeOfRawData)
            return section->PointerToRawData + (rva - section->VirtualAddress);
    return 0;
}

// Makes the whole image writable while it is fixed up, then gives every section
// the protection its flags ask for, and the headers read-only.
bool MakeWritable(BYTE *image, IMAGE_NT_HEADERS *nt)
{
    DWORD old;
    return VirtualProtect(image, nt->OptionalHeader.SizeOfImage, PAGE_EXECUTE_READWRITE, &old) != FALSE;
}

void RestoreProtection(BYTE *image, IMAGE_NT_HEADERS *nt)
{
    DWORD old;
    VirtualProtect(image, nt->OptionalHeader.SizeOfHeaders, PAGE_READONLY, &old);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        DWORD flags = section->Characteristics;
        bool execute = flags & IMAGE_SCN_MEM_EXECUTE;
        bool write = flags & IMAGE_SCN_MEM_WRITE;
        DWORD protection = execute ? (write ? PAGE_EXECUTE_READWRITE : PAGE_EXECUTE_READ)
                                   : (write ? PAGE_READWRITE : PAGE_READONLY);
        DWORD size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (size != 0)
            VirtualProtect(image + section->VirtualAddress, size, protection, &old);
    }
}

typedef bool (*TRelocationVisitor)(BYTE *image, DWORD rva, void *context);

// Calls visit for every pointer relocation of the image; false when a relocation
// of another kind is found or visit returns false.
bool ForEachRelocation(BYTE *image, IMAGE_NT_HEADERS *nt, TRelocationVisitor visit, void *context)
{
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    BYTE *at = image + directory.VirtualAddress;
    BYTE *end = at + directory.Size;
    while (at + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        IMAGE_BASE_RELOCATION *block = (IMAGE_BASE_RELOCATION *)at;
        if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION))
            return false;
        WORD *entries = (WORD *)(block + 1);
        DWORD count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        for (DWORD i = 0; i < count; i++) {
            int type = entries[i] >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE)
                continue;
            if (type != kPointerRelocation ||
                !visit(image, block->VirtualAddress + (entries[i] & 0xFFF), context))
                return false;
        }
        at += block->SizeOfBlock;
    }
    return true;
}

bool TakeFirst(BYTE *, DWORD rva, void *context)
{
    *(DWORD *)context = rva;
    return false;  // enough
}

bool AddDelta(BYTE *image, DWORD rva, void *context)
{
    *(ULONG_PTR *)(image + rva) += *(ULONG_PTR *)context;
    return true;
}

// Applies the base relocations when the image lies away from its preferred base
// and the loader has not applied them. Which of the two is told by the first
// relocated word: still as in the file, or moved by the difference of the bases.
bool Relocate(BYTE *image, IMAGE_NT_HEADERS *nt, const std::string &path, std::string *error)
{
    std::vector<BYTE> file;
    IMAGE_NT_HEADERS *fileNt = NULL;
    if (!ReadWholeFile(path, &file) || (fileNt = NtHeaders(file.data())) == NULL) {
        *error = "the module file cannot be read";
        return false;
    }
    ULONG_PTR delta = (ULONG_PTR)image - (ULONG_PTR)fileNt->OptionalHeader.ImageBase;
    if (delta == 0)
        return true;
    if (nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size == 0) {
        *error = "the image was moved and has no relocations";
        return false;
    }
    DWORD first = 0;
    ForEachRelocation(image, nt, TakeFirst, &first);
    DWORD offset = FileOffsetOf(fileNt, first);
    if (first == 0 || offset == 0 || offset + sizeof(ULONG_PTR) > file.size()) {
        *error = "the first relocation cannot be found in the file";
        return false;
    }
    ULONG_PTR inFile = *(ULONG_PTR *)(file.data() + offset);
    ULONG_PTR inMemory = *(ULONG_PTR *)(image + first);
    if (inMemory == inFile + delta)
        return true;  // relocated by the loader
    if (inMemory != inFile) {
        *error = "the relocated words are neither as in the file nor relocated";
        return false;
    }
    if (!ForEachRelocation(image, nt, AddDelta, &delta)) {
        *error = "a relocation of an unknown kind";
        return false;
    }
    return true;
}

// Fills the import address tables that the loader left unbound (each entry still
// equal to its lookup-table entry).
bool BindImports(BYTE *image, IMAGE_NT_HEADERS *nt, std::string *error)
{
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.Size == 0)
        return true;
    for (IMAGE_IMPORT_DESCRIPTOR *import = (IMAGE_IMPORT_DESCRIPTOR *)(image + directory.VirtualAddress);
         import->Name != 0; import++) {
        const char *dllName = (const char *)(image + import->Name);
        if (import->OriginalFirstThunk == 0) {
            *error = std::string("no lookup table for the imports from ") + dllName;
            return false;
        }
        IMAGE_THUNK_DATA *lookup = (IMAGE_THUNK_DATA *)(image + import->OriginalFirstThunk);
        IMAGE_THUNK_DATA *address = (IMAGE_THUNK_DATA *)(image + import->FirstThunk);
        if (lookup->u1.AddressOfData == 0 || address->u1.Function != lookup->u1.AddressOfData)
            continue;  // nothing to bind, or bound by the loader
        HMODULE dll = LoadLibraryA(dllName);
        if (dll == NULL) {
            *error = std::string("cannot load ") + dllName;
            return false;
        }
        for (; lookup->u1.AddressOfData != 0; lookup++, address++) {
            FARPROC function;
            if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) {
                function = GetProcAddress(dll, MAKEINTRESOURCEA(IMAGE_ORDINAL(lookup->u1.Ordinal)));
            } else {
                IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(image + lookup->u1.AddressOfData);
                function = GetProcAddress(dll, (const char *)byName->Name);
            }
            if (function == NULL) {
                *error = std::string("an import from ") + dllName + " is missing";
                return false;
            }
            address->u1.Function = (ULONG_PTR)function;
        }
    }
    return true;
}

}  // namespace

HMODULE LoadModuleForCall(const std::string &path, std::string *error)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == NULL) {
        *error = "LoadLibraryA failed with " + std::to_string(GetLastError());
        return NULL;
    }
    BYTE *image = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = NtHeaders(image);
    if (nt == NULL) {
        *error = "not a PE image of this architecture";
        FreeLibrary(module);
        return NULL;
    }
    if (!MakeWritable(image, nt)) {
        *error = "the image cannot be made writable";
        FreeLibrary(module);
        return NULL;
    }
    bool ready = Relocate(image, nt, path, error) && BindImports(image, nt, error);
    RestoreProtection(image, nt);
    FlushInstructionCache(GetCurrentProcess(), image, nt->OptionalHeader.SizeOfImage);
    if (!ready) {
        FreeLibrary(module);
        return NULL;
    }
    return module;
}

std::string BesideThisProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return "";
    std::string out(path, length);
    return out.substr(0, out.find_last_of("\\/") + 1) + name;
}
