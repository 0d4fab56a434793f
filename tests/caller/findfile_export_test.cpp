// FindFile called the way another program calls it: this program links none of
// the module's code. It loads DVQRMV32.EXE from beside itself, takes the walker by
// ordinal 1 and walks trees it makes under C:\dvqtest\.
#include "findfile/findfile.h"  // the record and callback types only
#include "tests/caller/peimage.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

typedef int(__cdecl *TFindFileFunction)(int argc, char *argv[], TFindFileResultBlock *result,
                                        TFindFileCallback callback, void *userData);

HMODULE Module = NULL;
TFindFileFunction CallFindFile = NULL;

struct FindFileExportTest : ::testing::Test {
    static void SetUpTestSuite()
    {
        std::string error;
        Module = LoadModuleForCall(BesideThisProgram("DVQRMV32.EXE"), &error);
        if (Module != NULL)
            CallFindFile = (TFindFileFunction)(void *)GetProcAddress(Module, MAKEINTRESOURCEA(1));
        else
            ADD_FAILURE() << "DVQRMV32.EXE: " << error;
    }
    static void TearDownTestSuite()
    {
        if (Module != NULL)
            FreeLibrary(Module);
        Module = NULL;
        CallFindFile = NULL;
    }
    void SetUp() override { ASSERT_NE(CallFindFile, nullptr); }
};

// Folders and files of the trees, made and removed with the plain file functions.
std::string MakeTree(const std::string &name, const std::vector<std::string> &entries)
{
    std::string root = "C:\\dvqtest\\" + name + "\\";
    CreateDirectoryA("C:\\dvqtest", NULL);
    CreateDirectoryA(root.c_str(), NULL);
    for (const std::string &entry : entries) {
        std::string path = root + entry;
        if (path.back() == '\\') {
            CreateDirectoryA(path.c_str(), NULL);
            continue;
        }
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        CloseHandle(file);
    }
    return root;
}

void RemoveTree(const std::string &directory)
{
    WIN32_FIND_DATAA entry;
    HANDLE found = FindFirstFileA((directory + "*").c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(directory + name + "\\");
            else
                DeleteFileA((directory + name).c_str());
        } while (FindNextFileA(found, &entry));
        FindClose(found);
    }
    RemoveDirectoryA(directory.c_str());
}

struct TCalls {
    std::vector<std::string> Seen;  // "directory|name"
    int StopAt = 0;
};

int Collect(const char *directory, WIN32_FIND_DATAA *entry, void *userData)
{
    TCalls *calls = (TCalls *)userData;
    calls->Seen.push_back(std::string(directory) + "|" + entry->cFileName);
    return (int)calls->Seen.size() == calls->StopAt ? 0 : 1;
}

int Walk(std::vector<std::string> args, TFindFileResultBlock *result, TCalls *calls)
{
    std::vector<char *> argv;
    argv.push_back((char *)"findfile");
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    *result = {-7, -7, -7};
    return CallFindFile((int)argv.size(), argv.data(), result, Collect, calls);
}

TEST_F(FindFileExportTest, OrdinalOneIsTheOnlyExportAndNamesFindFile)
{
    BYTE *image = (BYTE *)Module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(image + ((IMAGE_DOS_HEADER *)image)->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.Size, 0u);
    IMAGE_EXPORT_DIRECTORY *exports = (IMAGE_EXPORT_DIRECTORY *)(image + directory.VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    // The name is the compiler's decoration of the declaration in findfile.h.
    const char *name = (const char *)(image + ((DWORD *)(image + exports->AddressOfNames))[0]);
    EXPECT_NE(std::string(name).find("FindFile"), std::string::npos) << name;
    EXPECT_NE(std::string(name), "FindFile") << "the name carries the parameter list";
    EXPECT_EQ((void *)GetProcAddress(Module, name), (void *)CallFindFile);
}

TEST_F(FindFileExportTest, WalksATreeAndFillsTheRecord)
{
    std::string root = MakeTree("ffcaller", {"a.txt", "b.txt", "sub\\", "sub\\c.txt", ".dot\\", ".dot\\d.txt"});
    TFindFileResultBlock result;
    TCalls calls;
    EXPECT_EQ(Walk({root, "*.txt"}, &result, &calls), 1);
    EXPECT_EQ(result.DirCount, 2);
    EXPECT_EQ(result.MatchCount, 3);
    EXPECT_EQ(result.Reserved, 0);
    std::vector<std::string> seen = calls.Seen;
    std::sort(seen.begin(), seen.begin() + 2);
    EXPECT_EQ(seen, (std::vector<std::string>{root + "|a.txt", root + "|b.txt", root + "sub\\|c.txt"}));

    // With . and .. in every directory but a root.
    TCalls all;
    EXPECT_EQ(Walk({root, "*.*"}, &result, &all), 1);
    EXPECT_EQ(result.DirCount, 2);
    EXPECT_EQ(result.MatchCount, 9);

    // Stopped by the callback, by -1, and kept to the start directory by -n.
    TCalls stopped;
    stopped.StopAt = 2;
    EXPECT_EQ(Walk({root, "*.txt"}, &result, &stopped), 1);
    EXPECT_EQ(result.MatchCount, 2);
    TCalls first;
    EXPECT_EQ(Walk({"-1", root, "*.txt"}, &result, &first), 1);
    EXPECT_EQ(first.Seen.size(), 1u);
    TCalls flat;
    EXPECT_EQ(Walk({"-n", root, "*.txt"}, &result, &flat), 1);
    EXPECT_EQ(result.DirCount, 1);
    EXPECT_EQ(result.MatchCount, 2);
    RemoveTree(root);
}

TEST_F(FindFileExportTest, ReadsThePathOfTheCallingProcess)
{
    std::string root = MakeTree("ffcallerpath", {"one\\", "one\\x.txt", "two\\", "two\\y.txt"});
    std::string saved(32768, '\0');
    DWORD length = GetEnvironmentVariableA("PATH", &saved[0], (DWORD)saved.size());
    SetEnvironmentVariableA("PATH", (root + "one;;" + root + "two\\").c_str());
    TFindFileResultBlock result;
    TCalls calls;
    int returned = Walk({"-p", "*.txt"}, &result, &calls);
    SetEnvironmentVariableA("PATH", length > 0 ? saved.c_str() : NULL);
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(result.DirCount, 2);
    EXPECT_EQ(calls.Seen, (std::vector<std::string>{root + "two\\|y.txt", root + "one\\|x.txt"}));
    RemoveTree(root);
}

TEST_F(FindFileExportTest, FailureLeavesTheRecordAsItWas)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 201; i++)
        entries.push_back("d" + std::to_string(i) + "\\");
    std::string root = MakeTree("ffcallerfull", entries);
    TFindFileResultBlock result;
    TCalls calls;
    EXPECT_EQ(Walk({root, "*.txt"}, &result, &calls), 0);
    EXPECT_EQ(result.DirCount, -7);
    EXPECT_EQ(result.MatchCount, -7);
    EXPECT_EQ(result.Reserved, -7);
    // And the next call works as the first did.
    RemoveDirectoryA((root + "d200").c_str());
    EXPECT_EQ(Walk({root, "*.txt"}, &result, &calls), 1);
    EXPECT_EQ(result.DirCount, 201);
    RemoveTree(root);
}

}  // namespace
