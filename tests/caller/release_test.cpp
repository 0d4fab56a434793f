// The release as a user downloads it, written by `cmake --install` into
// release-check\ beside this program (the test before this one): the EXE stripped
// of its symbols and debug sections and otherwise the build's, FindFile's header,
// the import library and the README; and the released EXE un-installs the client.
#include "findfile/findfile.h"  // the record and callback types only
#include "tests/caller/peimage.h"
#include "testtools/boxdriver.h"
#include "testtools/seed.h"
#include "dvqversion.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Released(const char *name)
{
    return BesideThisProgram("release-check\\") + name;
}

std::string Contents(const std::string &path)
{
    std::string out;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return out;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0)
        out.append(buffer, read);
    CloseHandle(file);
    return out;
}

// The headers of a PE file as read from the disk.
struct TPeFile {
    std::string bytes;
    const IMAGE_NT_HEADERS *nt = NULL;
    const IMAGE_SECTION_HEADER *sections = NULL;

    explicit TPeFile(const std::string &path) : bytes(Contents(path))
    {
        const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)bytes.data();
        if (bytes.size() < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return;
        nt = (const IMAGE_NT_HEADERS *)(bytes.data() + dos->e_lfanew);
        sections = IMAGE_FIRST_SECTION(nt);
    }

    // Names longer than eight characters are "/offset" into the COFF string table,
    // which follows the symbol table.
    std::vector<std::string> SectionNames() const
    {
        std::vector<std::string> names;
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++) {
            std::string name((const char *)sections[i].Name, strnlen((const char *)sections[i].Name, 8));
            if (name[0] == '/' && nt->FileHeader.PointerToSymbolTable != 0)
                name = bytes.c_str() + nt->FileHeader.PointerToSymbolTable +
                       nt->FileHeader.NumberOfSymbols * IMAGE_SIZEOF_SYMBOL + atoi(name.c_str() + 1);
            names.push_back(name);
        }
        return names;
    }

    const char *At(DWORD rva) const
    {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++)
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                return bytes.data() + sections[i].PointerToRawData + (rva - sections[i].VirtualAddress);
        return NULL;
    }
};

// The export directory: its ordinal base, number of functions, and each name
// with the ordinal it is exported at.
std::vector<std::string> Exports(const TPeFile &pe)
{
    const IMAGE_DATA_DIRECTORY &entry = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY *exports = (const IMAGE_EXPORT_DIRECTORY *)pe.At(entry.VirtualAddress);
    if (entry.VirtualAddress == 0 || exports == NULL)
        return {};
    std::vector<std::string> out = {"base " + std::to_string(exports->Base),
                                    "functions " + std::to_string(exports->NumberOfFunctions)};
    const DWORD *names = (const DWORD *)pe.At(exports->AddressOfNames);
    const WORD *ordinals = (const WORD *)pe.At(exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; i++)
        out.push_back(std::string(pe.At(names[i])) + " @" + std::to_string(exports->Base + ordinals[i]));
    return out;
}

std::string Manifest(const std::string &path)
{
    HMODULE module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL)
        return "";
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    std::string text;
    if (resource != NULL)
        text.assign((const char *)LockResource(LoadResource(module, resource)), SizeofResource(module, resource));
    FreeLibrary(module);
    return text;
}

std::string VersionInfo(const std::string &path)
{
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::string info(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, &info[0]))
        return "";
    return info;
}

TEST(ReleaseTest, TheFolderHoldsTheEXEHeaderImportLibraryAndReadme)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(Released("*").c_str(), &entry);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    do
        if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0)
            names.push_back(entry.cFileName);
    while (FindNextFileA(listing, &entry));
    FindClose(listing);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DVQRMV32.EXE", "DVQRMV32.lib", "README.txt", "findfile.h"}));

    EXPECT_NE(Contents(Released("findfile.h")).find("DVQ_FINDFILE_API int __cdecl FindFile("), std::string::npos);
    // An import library (an archive) for the functions of DVQRMV32.EXE.
    std::string library = Contents(Released("DVQRMV32.lib"));
    EXPECT_EQ(library.compare(0, 8, "!<arch>\n"), 0);
    EXPECT_NE(library.find("DVQRMV32.EXE"), std::string::npos);
    const std::string title = "DVQRMV32 " DVQ_VERSION_TEXT ", the Solvarine un-installer\r\n";
    EXPECT_EQ(Contents(Released("README.txt")).substr(0, title.size()), title);
}

TEST(ReleaseTest, TheEXEIsTheBuildsWithoutItsSymbolsAndDebugSections)
{
    TPeFile built(BesideThisProgram("DVQRMV32.EXE")), released(Released("DVQRMV32.EXE"));
    ASSERT_TRUE(built.nt != NULL && released.nt != NULL);
    std::vector<std::string> expected;
    bool debug = false;
    for (const std::string &name : built.SectionNames()) {
        if (name.compare(0, 6, ".debug") == 0)
            debug = true;
        else
            expected.push_back(name);
    }
    // The build's EXE keeps them, so that their long names are read right here.
    EXPECT_TRUE(debug);
    EXPECT_EQ(released.SectionNames(), expected);
    EXPECT_NE(std::find(expected.begin(), expected.end(), ".reloc"), expected.end());
    EXPECT_EQ(released.nt->FileHeader.NumberOfSymbols, 0u);
    EXPECT_LT(released.bytes.size(), built.bytes.size() / 2);
}

TEST(ReleaseTest, TheManifestAndTheVersionResourceAreTheBuilds)
{
    std::string built = BesideThisProgram("DVQRMV32.EXE"), released = Released("DVQRMV32.EXE");
    std::string manifest = Manifest(released);
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos) << manifest;
    EXPECT_EQ(manifest, Manifest(built));
    // Compared as read: an ANSI query writes its answers into the block's spare room.
    std::string version = VersionInfo(released);
    EXPECT_EQ(version, VersionInfo(built));
    char *description = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&version[0], "\\StringFileInfo\\040904B0\\FileDescription", (void **)&description,
                               &length));
    EXPECT_EQ(std::string(description), "Solvarine un-installer");
}

typedef int(__cdecl *TFindFileFunction)(int argc, char *argv[], TFindFileResultBlock *result,
                                        TFindFileCallback callback, void *userData);

int __cdecl CountMatch(const char *, WIN32_FIND_DATAA *, void *)
{
    return 1;
}

TEST(ReleaseTest, FindFileIsTheOneExportAtOrdinalOneAndWalks)
{
    std::vector<std::string> exports = Exports(TPeFile(Released("DVQRMV32.EXE")));
    ASSERT_EQ(exports.size(), 3u);
    EXPECT_EQ(exports[0], "base 1");
    EXPECT_EQ(exports[1], "functions 1");
    EXPECT_EQ(exports[2].compare(0, 11, "_Z8FindFile"), 0) << exports[2];
    EXPECT_EQ(exports[2].substr(exports[2].size() - 3), " @1");
    EXPECT_EQ(exports, Exports(TPeFile(BesideThisProgram("DVQRMV32.EXE"))));

    // Still whole enough to be loaded and called: a tree of two files, one matching.
    CreateDirectoryA("C:\\dvqtest", NULL);
    CreateDirectoryA("C:\\dvqtest\\release", NULL);
    const char *files[] = {"C:\\dvqtest\\release\\a.txt", "C:\\dvqtest\\release\\b.dat"};
    for (const char *file : files)
        CloseHandle(CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    std::string error;
    HMODULE module = LoadModuleForCall(Released("DVQRMV32.EXE"), &error);
    ASSERT_NE(module, nullptr) << error;
    TFindFileFunction findFile = (TFindFileFunction)(void *)GetProcAddress(module, MAKEINTRESOURCEA(1));
    ASSERT_NE(findFile, nullptr);
    char program[] = "findfile", start[] = "C:\\dvqtest\\release\\", pattern[] = "*.txt";
    char *argv[] = {program, start, pattern};
    TFindFileResultBlock result = {};
    EXPECT_EQ(findFile(3, argv, &result, CountMatch, NULL), 1);
    EXPECT_EQ(result.DirCount, 1);
    EXPECT_EQ(result.MatchCount, 1);
    FreeLibrary(module);
    for (const char *file : files)
        DeleteFileA(file);
    RemoveDirectoryA("C:\\dvqtest\\release");
}

TEST(ReleaseTest, TheReleasedEXERemovesTheClientAndLeavesTheNeighbours)
{
    GetDesktopWindow();  // the screen-saving switch is the display driver's once it is loaded
    SeedClean();
    std::string error;
    ASSERT_TRUE(SeedInstall(&error)) << error;
    TBoxScript script({"Yes", "Yes", "OK"});
    EXPECT_EQ(RunWithBoxes("\"" + Released("DVQRMV32.EXE") + "\"", script), 0);
    ASSERT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
    EXPECT_EQ(script.seen[0].text,
              "Are you sure you want to remove Solvarine (" + std::string(SeedClientExe) + ")?");
    EXPECT_EQ(script.seen[2].text, "Solvarine has been removed from this computer.");
    for (const TInventoryItem &item : Inventory())
        EXPECT_EQ(item.present, !item.client) << FormatInventory({item});
    SeedClean();
}

}  // namespace
