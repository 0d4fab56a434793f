// The real DVQRMV32.EXE removing an installation directory and a program group
// from the test prefix, its boxes answered by the box driver.
#include "testtools/boxdriver.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

std::string ExeDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\') + 1);
}

// A shell link at linkPath to target.
void MakeShortcut(const std::string &linkPath, const std::string &target)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
    if (SUCCEEDED(result)) {
        link->SetPath(target.c_str());
        result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    }
    if (SUCCEEDED(result)) {
        WCHAR widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH);
        result = file->Save(widePath, TRUE);
        file->Release();
    }
    if (link != NULL)
        link->Release();
    CoUninitialize();
    ASSERT_TRUE(SUCCEEDED(result)) << linkPath;
}

TEST(UninstallTreeTest, RunRemovesTheInstallationAndTheProgramGroup)
{
    std::string parent = FreshDir("system-tree");
    std::string install = parent + "Solvarine\\";
    std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\";
    std::string group = programs + "Solvarine\\";
    DeleteTree(group);
    MakeFile(install + "DVQ32.EXE");
    MakeFile(install + "DVQRMV32.EXE");
    MakeFile(install + "DVQ32.INI");
    SetFileAttributesA((install + "DVQ32.INI").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(install + "Plugins\\NPDVQ32.DLL");
    MakeFile(install + "Help\\Pictures\\logo.gif");
    MakeFile(parent + "Solvarine2\\DVQ32.EXE");
    MakeDirs(group);
    MakeShortcut(group + "Solvarine.lnk", install + "DVQ32.EXE");
    MakeShortcut(group + "Un-install Solvarine.lnk", install + "DVQRMV32.EXE");
    MakeShortcut(programs + "Other program.lnk", parent + "Solvarine2\\DVQ32.EXE");
    SetExePath((install + "DVQ32.EXE").c_str());

    TBoxScript script;
    script.answers = {"Yes", "Yes", "OK"};
    EXPECT_EQ(RunWithBoxes("\"" + ExeDir() + "DVQRMV32.EXE\"", script), 0);

    ASSERT_EQ(script.seen.size(), 3u) << DescribeBoxes(script.seen);
    EXPECT_EQ(script.seen.back().text, "Solvarine has been removed from this computer.");
    EXPECT_EQ(script.seen.back().buttons, "OK");
    EXPECT_FALSE(DirExists(install));
    EXPECT_FALSE(DirExists(group));
    EXPECT_EQ(ListTree(parent), (std::vector<std::string>{"Solvarine2\\", "Solvarine2\\DVQ32.EXE"}));
    EXPECT_TRUE(FileExists(programs + "Other program.lnk"));

    DeleteFileA((programs + "Other program.lnk").c_str());
    DeleteTree(parent);
    SetExePath(NULL);
}

}  // namespace
