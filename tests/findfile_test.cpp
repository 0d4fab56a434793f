// The directory walker FindFile, on real trees made under C:\dvqtest\ (and on extra
// Wine drives mapped to small folders there). The order in which the file system
// lists a directory is learnt from FindFirstFileA, never assumed.
#include "findfile/findfile.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <winioctl.h>
#include <string.h>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Calling the walker and recording what it reports.

struct TRecorder {
    std::vector<std::string> Calls;  // "directory|name" of every callback call, in order
    std::vector<DWORD> Attributes;   // the entry's attributes, call by call
    int StopAt = 0;                  // the call (counted from 1) that returns 0; 0: none
};

int Record(const char *directory, WIN32_FIND_DATAA *entry, void *userData)
{
    TRecorder *recorder = (TRecorder *)userData;
    recorder->Calls.push_back(std::string(directory) + "|" + entry->cFileName);
    recorder->Attributes.push_back(entry->dwFileAttributes);
    return (int)recorder->Calls.size() == recorder->StopAt ? 0 : 1;
}

const TFindFileResultBlock Sentinel = {-7, -7, -7};

// Calls FindFile with "findfile" and args, the result record filled with the
// sentinel first (result may be null); every block it obtained must be released.
int Walk(const std::vector<std::string> &args, TFindFileResultBlock *result, TRecorder *recorder)
{
    std::vector<std::string> words = args;
    std::vector<char *> argv;
    argv.push_back((char *)"findfile");
    for (std::string &word : words)
        argv.push_back(&word[0]);
    if (result != NULL)
        *result = Sentinel;
    ResetScratchCounters(0);
    int returned = FindFile((int)argv.size(), argv.data(), result, Record, recorder);
    EXPECT_EQ(ScratchCounters.Live, 0);
    return returned;
}

void ExpectResult(const TFindFileResultBlock &result, LONG dirCount, LONG matchCount)
{
    EXPECT_EQ(result.DirCount, dirCount);
    EXPECT_EQ(result.MatchCount, matchCount);
    EXPECT_EQ(result.Reserved, 0);
}

void ExpectUntouched(const TFindFileResultBlock &result)
{
    EXPECT_EQ(result.DirCount, Sentinel.DirCount);
    EXPECT_EQ(result.MatchCount, Sentinel.MatchCount);
    EXPECT_EQ(result.Reserved, Sentinel.Reserved);
}

// The directories in the order the walk reported entries from them.
std::vector<std::string> DirectoriesOf(const std::vector<std::string> &calls)
{
    std::vector<std::string> out;
    for (const std::string &call : calls) {
        std::string directory = call.substr(0, call.find('|'));
        if (out.empty() || out.back() != directory)
            out.push_back(directory);
    }
    return out;
}

// ---------------------------------------------------------------------------
// The model of a walk: the same rules written as a recursion over the listings
// that FindFirstFileA gives, to compare the walker's callback sequence with.

std::vector<WIN32_FIND_DATAA> List(const std::string &search)
{
    std::vector<WIN32_FIND_DATAA> out;
    WIN32_FIND_DATAA entry;
    HANDLE found = FindFirstFileA(search.c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE)
        return out;
    do
        out.push_back(entry);
    while (FindNextFileA(found, &entry));
    FindClose(found);
    return out;
}

// The subdirectories the walk descends into, in listing order, as full paths.
std::vector<std::string> Subdirectories(const std::string &directory)
{
    std::vector<std::string> out;
    for (const WIN32_FIND_DATAA &entry : List(directory + "*.*")) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == '.' ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::string name = entry.cFileName;
        if (name.find('?') != std::string::npos && entry.cAlternateFileName[0] != '\0')
            name = entry.cAlternateFileName;
        out.push_back(directory + name + "\\");
    }
    return out;
}

struct TModel {
    std::vector<std::string> Starts;    // the directories pushed before the walk, in push order
    std::vector<std::string> Patterns;
    bool FirstOnly = false;
    bool NoDescent = false;
    int StopAt = 0;
    // What the walk gives:
    std::vector<std::string> Calls;
    LONG DirCount = 0;
    LONG MatchCount = 0;
    bool Stopped = false;
    bool Failed = false;
};

// Searches directory with `waiting` directories still on the stack below it.
void ModelVisit(TModel *model, const std::string &directory, size_t waiting)
{
    model->DirCount++;
    for (const std::string &pattern : model->Patterns) {
        if (directory.size() + pattern.size() >= MAX_PATH) {
            model->Failed = true;
            return;
        }
        for (const WIN32_FIND_DATAA &entry : List(directory + pattern)) {
            model->MatchCount++;
            model->Calls.push_back(directory + "|" + entry.cFileName);
            if ((int)model->Calls.size() == model->StopAt || model->FirstOnly) {
                model->Stopped = true;
                return;
            }
        }
    }
    if (model->NoDescent)
        return;
    if (directory.size() + 3 >= MAX_PATH) {
        model->Failed = true;
        return;
    }
    std::vector<std::string> children = Subdirectories(directory);
    if (waiting + children.size() > 200) {
        model->Failed = true;
        return;
    }
    for (size_t i = children.size(); i-- > 0 && !model->Stopped && !model->Failed;) {
        if (children[i].size() >= MAX_PATH)
            model->Failed = true;
        else
            ModelVisit(model, children[i], waiting + i);
    }
}

void RunModel(TModel *model)
{
    for (size_t i = model->Starts.size(); i-- > 0 && !model->Stopped && !model->Failed;)
        ModelVisit(model, model->Starts[i], i);
}

// The callback sequence of a plain walk of start with the given patterns.
std::vector<std::string> ModelCalls(const std::string &start, const std::vector<std::string> &patterns)
{
    TModel model;
    model.Starts.push_back(start);
    model.Patterns = patterns;
    RunModel(&model);
    return model.Calls;
}

// ---------------------------------------------------------------------------
// Paths beyond the reach of the ANSI functions, and entries only the wide
// functions can name.

std::wstring Wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring Extended(const std::wstring &path)
{
    return L"\\\\?\\" + path;
}

void MakeDirW(const std::wstring &path)
{
    ASSERT_TRUE(CreateDirectoryW(Extended(path).c_str(), NULL)) << GetLastError();
}

void MakeFileW(const std::wstring &path)
{
    HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
}

// Removes directory (with its trailing backslash) and everything below it through
// the wide functions. Links are neither entered nor removed: Wine's
// RemoveDirectory acts on a link's target.
void RemoveTreeW(const std::wstring &directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE found = FindFirstFileW(Extended(directory + L"*").c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTreeW(directory + name + L"\\");
            } else {
                SetFileAttributesW(Extended(directory + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(Extended(directory + name).c_str());
            }
        } while (FindNextFileW(found, &entry));
        FindClose(found);
    }
    RemoveDirectoryW(Extended(directory).c_str());
}

// ---------------------------------------------------------------------------
// Wine's own exports, to reach the Unix side of the prefix.

typedef char *(CDECL *TUnixFileNameFunction)(LPCWSTR);
typedef LONG(CDECL *TUnixSpawnFunction)(char *const *argv, int wait);

// The Unix path of a Windows path; empty when not running under Wine.
std::string UnixPath(const std::string &windowsPath)
{
    TUnixFileNameFunction unixFileName =
        (TUnixFileNameFunction)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (unixFileName == NULL)
        return "";
    char *name = unixFileName(Wide(windowsPath).c_str());
    if (name == NULL)
        return "";
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Runs a Unix program and waits for it; false when that cannot be done.
bool RunUnix(std::vector<std::string> args)
{
    TUnixSpawnFunction spawn =
        (TUnixSpawnFunction)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp");
    if (spawn == NULL)
        return false;
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(NULL);
    return spawn(argv.data(), TRUE) == 0;
}

// Wine's mount manager defines and removes drive letters, as its configuration
// tool does: the letter becomes a link in the prefix's dosdevices folder.
struct TMountmgrUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
const DWORD IoctlDefineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

// Maps the drive letter to a Unix folder, or removes it when unixPath is empty.
bool DefineWineDrive(char letter, const std::string &unixPath)
{
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(sizeof(TMountmgrUnixDrive) + unixPath.size() + 1, '\0');
    TMountmgrUnixDrive *drive = (TMountmgrUnixDrive *)buffer.data();
    drive->size = (ULONG)buffer.size();
    drive->type = unixPath.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
    drive->letter = (WCHAR)(letter | 0x20);
    if (!unixPath.empty()) {
        drive->mount_point_offset = sizeof(TMountmgrUnixDrive);
        unixPath.copy(buffer.data() + sizeof(TMountmgrUnixDrive), unixPath.size());
    }
    DWORD returned = 0;
    BOOL done = DeviceIoControl(manager, IoctlDefineUnixDrive, buffer.data(), (DWORD)buffer.size(), NULL, 0,
                                &returned, NULL);
    CloseHandle(manager);
    return done != FALSE;
}

bool DriveExists(char letter)
{
    return (GetLogicalDrives() >> ((letter | 0x20) - 'a')) & 1;
}

// ---------------------------------------------------------------------------

struct FindFileTest : ::testing::Test {
    void TearDown() override { ResetScratchCounters(0); }
};

// --- Counting and the result record -----------------------------------------

TEST_F(FindFileTest, ReportsEveryEntryWithDotAndDotDot)
{
    std::string dir = FreshDir("ffcount");
    MakeFile(dir + "a.txt");
    MakeFile(dir + "b.dat");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.*"}, &result, &recorder), 1);
    ExpectResult(result, 1, 4);
    std::vector<std::string> calls = recorder.Calls;
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (std::vector<std::string>{dir + "|.", dir + "|..", dir + "|a.txt", dir + "|b.dat"}));
    DeleteTree(dir);
}

TEST_F(FindFileTest, CallbackReturningZeroStopsTheWalk)
{
    std::string dir = FreshDir("ffstop");
    MakeFile(dir + "a.txt");
    MakeFile(dir + "b.txt");
    TFindFileResultBlock result;
    TRecorder first;
    first.StopAt = 1;
    EXPECT_EQ(Walk({dir, "*.*"}, &result, &first), 1);
    ExpectResult(result, 1, 1);
    EXPECT_EQ(first.Calls.size(), 1u);

    // Stopped in a subdirectory: the counters hold what was done up to the stop.
    MakeFile(dir + "one\\c.txt");
    MakeFile(dir + "two\\d.txt");
    std::vector<std::string> all = ModelCalls(dir, {"*.txt"});
    ASSERT_EQ(all.size(), 4u);
    TRecorder third;
    third.StopAt = 3;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &third), 1);
    ExpectResult(result, 2, 3);
    EXPECT_EQ(third.Calls, std::vector<std::string>(all.begin(), all.begin() + 3));
    DeleteTree(dir);
}

TEST_F(FindFileTest, MissingStartDirectoryIsCountedAndMatchesNothing)
{
    DeleteTree("C:\\dvqtest\\ffmissing\\");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"C:\\dvqtest\\ffmissing\\", "*.*"}, &result, &recorder), 1);
    ExpectResult(result, 1, 0);
    EXPECT_TRUE(recorder.Calls.empty());
}

TEST_F(FindFileTest, NullResultPointerIsAllowed)
{
    std::string dir = FreshDir("ffnull");
    MakeFile(dir + "a.txt");
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.txt"}, NULL, &recorder), 1);
    EXPECT_EQ(recorder.Calls, std::vector<std::string>{dir + "|a.txt"});
    DeleteTree(dir);
}

TEST_F(FindFileTest, WithoutPatternsDirectoriesAreCountedOnly)
{
    std::string dir = FreshDir("ffnopattern");
    MakeFile(dir + "a\\x.txt");
    MakeFile(dir + "a\\b\\y.txt");
    MakeDirs(dir + "c\\");
    MakeDirs(dir + ".skipped\\inner\\");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir}, &result, &recorder), 1);
    ExpectResult(result, 4, 0);
    EXPECT_TRUE(recorder.Calls.empty());
    DeleteTree(dir);
}

// The walker keeps no state between calls or at module level: a callback may
// start another walk, and the outer one goes on unchanged.
struct TNested {
    TRecorder Outer;
    std::string InnerDir;
    std::vector<TFindFileResultBlock> InnerResults;
};

int WalkAgain(const char *directory, WIN32_FIND_DATAA *entry, void *userData)
{
    TNested *nested = (TNested *)userData;
    Record(directory, entry, &nested->Outer);
    char program[] = "findfile";
    std::string inner = nested->InnerDir;
    char pattern[] = "*.*";
    char *argv[] = {program, &inner[0], pattern};
    TRecorder ignored;
    TFindFileResultBlock result = Sentinel;
    EXPECT_EQ(FindFile(3, argv, &result, Record, &ignored), 1);
    nested->InnerResults.push_back(result);
    return 1;
}

TEST_F(FindFileTest, CallbackMayWalkAgain)
{
    std::string outer = FreshDir("ffouter");
    std::string inner = FreshDir("ffinner");
    MakeFile(outer + "a.txt");
    MakeFile(outer + "sub\\b.txt");
    MakeFile(inner + "sub\\c.txt");
    TNested nested;
    nested.InnerDir = inner;
    char program[] = "findfile";
    std::string start = outer;
    char pattern[] = "*.txt";
    char *argv[] = {program, &start[0], pattern};
    TFindFileResultBlock result = Sentinel;
    ResetScratchCounters(0);
    EXPECT_EQ(FindFile(3, argv, &result, WalkAgain, &nested), 1);
    EXPECT_EQ(ScratchCounters.Live, 0);
    ExpectResult(result, 2, 2);
    EXPECT_EQ(nested.Outer.Calls, ModelCalls(outer, {"*.txt"}));
    ASSERT_EQ(nested.InnerResults.size(), 2u);
    for (const TFindFileResultBlock &innerResult : nested.InnerResults)
        ExpectResult(innerResult, 2, 6);
    DeleteTree(outer);
    DeleteTree(inner);
}

// --- Descent --------------------------------------------------------------------

TEST_F(FindFileTest, DepthFirstWithTheSiblingListedLastSearchedFirst)
{
    std::string dir = FreshDir("fforder");
    for (const char *name : {"A", "B", "C"}) {
        MakeFile(dir + name + "\\file.txt");
        MakeFile(dir + name + "\\inner1\\file.txt");
        MakeFile(dir + name + "\\inner2\\file.txt");
    }
    std::vector<std::string> top = Subdirectories(dir);
    ASSERT_EQ(top.size(), 3u);
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 10, 9);
    // Each subtree is searched whole, the last listed first.
    std::vector<std::string> directories = DirectoriesOf(recorder.Calls);
    ASSERT_EQ(directories.size(), 9u);
    for (int i = 0; i < 3; i++) {
        std::string subtree = top[2 - i];
        EXPECT_EQ(directories[3 * i], subtree);
        std::vector<std::string> inner = Subdirectories(subtree);
        ASSERT_EQ(inner.size(), 2u);
        EXPECT_EQ(directories[3 * i + 1], inner[1]);
        EXPECT_EQ(directories[3 * i + 2], inner[0]);
    }
    EXPECT_EQ(recorder.Calls, ModelCalls(dir, {"*.txt"}));
    DeleteTree(dir);
}

TEST_F(FindFileTest, LeadingDotDirectoriesAreNeverEntered)
{
    std::string dir = FreshDir("ffdot");
    MakeFile(dir + ".hidden\\inside.txt");
    MakeFile(dir + ".hidden\\deeper\\inside.txt");
    MakeFile(dir + "shown\\inside.txt");
    MakeFile(dir + ".profile");
    TFindFileResultBlock result;
    TRecorder all;
    EXPECT_EQ(Walk({dir, "*.*"}, &result, &all), 1);
    ExpectResult(result, 2, 8);  // dir: . .. .hidden shown .profile; shown: . .. inside.txt
    EXPECT_NE(std::find(all.Calls.begin(), all.Calls.end(), dir + "|.hidden"), all.Calls.end());
    EXPECT_NE(std::find(all.Calls.begin(), all.Calls.end(), dir + "|.profile"), all.Calls.end());
    EXPECT_EQ(DirectoriesOf(all.Calls), (std::vector<std::string>{dir, dir + "shown\\"}));

    // Not matched by the pattern in its parent, it is not seen at all.
    TRecorder text;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &text), 1);
    ExpectResult(result, 2, 1);
    EXPECT_EQ(text.Calls, std::vector<std::string>{dir + "shown\\|inside.txt"});
    DeleteTree(dir);
}

TEST_F(FindFileTest, PatternsInArgumentOrderBeforeTheDescent)
{
    std::string dir = FreshDir("ffpatterns");
    MakeFile(dir + "a.one");
    MakeFile(dir + "b.two");
    MakeFile(dir + "sub\\c.one");
    MakeFile(dir + "sub\\d.two");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.two", "*.none", "*.one"}, &result, &recorder), 1);
    ExpectResult(result, 2, 4);
    EXPECT_EQ(recorder.Calls, (std::vector<std::string>{dir + "|b.two", dir + "|a.one", dir + "sub\\|d.two",
                                                        dir + "sub\\|c.one"}));
    // An entry matched by two patterns is reported and counted twice.
    TRecorder twice;
    EXPECT_EQ(Walk({"-n", dir, "a.*", "*.one"}, &result, &twice), 1);
    ExpectResult(result, 1, 2);
    EXPECT_EQ(twice.Calls, (std::vector<std::string>{dir + "|a.one", dir + "|a.one"}));
    DeleteTree(dir);
}

TEST_F(FindFileTest, LinksAreReportedButNeverEntered)
{
    std::string dir = FreshDir("fflink");
    std::string target = FreshDir("fflinktarget");
    MakeFile(target + "behind.txt");
    MakeFile(dir + "real\\here.txt");
    std::string link = dir + "link";
    std::string unixLink = UnixPath(link);
    if (unixLink.empty() || !RunUnix({"/bin/ln", "-s", UnixPath(target), unixLink}))
        GTEST_SKIP() << "no way to make a link here";
    DWORD attributes = GetFileAttributesA(link.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);

    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.*"}, &result, &recorder), 1);
    ExpectResult(result, 2, 7);  // dir: . .. link real; real: . .. here.txt; not behind.txt
    auto at = std::find(recorder.Calls.begin(), recorder.Calls.end(), dir + "|link");
    ASSERT_NE(at, recorder.Calls.end());
    EXPECT_TRUE(recorder.Attributes[at - recorder.Calls.begin()] & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(DirectoriesOf(recorder.Calls), (std::vector<std::string>{dir, dir + "real\\"}));

    EXPECT_TRUE(RunUnix({"/bin/rm", unixLink}));
    EXPECT_TRUE(FileExists(target + "behind.txt"));
    DeleteTree(dir);
    DeleteTree(target);
}

TEST_F(FindFileTest, NamesOutsideTheCodePageAreEnteredByTheirShortName)
{
    RemoveTreeW(L"C:\\dvqtest\\ffwide\\");
    std::string dir = FreshDir("ffwide");
    std::wstring wideDir = Wide(dir) + L"\x0416\x0414\x4E2D-folder name";
    MakeDirW(wideDir);
    MakeFileW(wideDir + L"\\inside.txt");
    MakeDirW(wideDir + L"\\\x0436 deeper");
    MakeFileW(wideDir + L"\\\x0436 deeper\\deepest.txt");
    std::vector<WIN32_FIND_DATAA> listed = List(dir + "*-folder name");
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_NE(std::string(listed[0].cFileName).find('?'), std::string::npos) << "the code page holds the name";
    ASSERT_NE(listed[0].cAlternateFileName[0], '\0');

    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 3, 2);
    std::string shortDir = dir + listed[0].cAlternateFileName + "\\";
    ASSERT_EQ(recorder.Calls.size(), 2u);
    EXPECT_EQ(recorder.Calls[0], shortDir + "|inside.txt");
    EXPECT_EQ(recorder.Calls[1].substr(recorder.Calls[1].find('|')), "|deepest.txt");
    // The directory handed over names the entry's folder.
    for (const std::string &call : recorder.Calls) {
        std::string path = call.substr(0, call.find('|')) + call.substr(call.find('|') + 1);
        EXPECT_TRUE(FileExists(path)) << path;
    }
    RemoveTreeW(Wide(dir));
}

TEST_F(FindFileTest, BestFitNamesNeverLeadOutOfTheTree)
{
    // Full-width reverse solidus and full stops come back from the ANSI functions
    // as "\" and "." by best fit; entered by that name, the walk would go to
    // C:\dvqtest\ffbest\outside\.
    RemoveTreeW(L"C:\\dvqtest\\ffbest\\");
    std::string dir = FreshDir("ffbest");
    MakeFile(dir + "outside\\secret.txt");
    std::wstring trap = Wide(dir) + L"start\\x\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3Coutside";
    MakeDirs(dir + "start");
    MakeDirW(trap);
    MakeFileW(trap + L"\\inside.txt");
    std::vector<WIN32_FIND_DATAA> listed = List(dir + "start\\x*");
    ASSERT_EQ(listed.size(), 1u);

    TFindFileResultBlock result;
    TRecorder recorder;
    int returned = Walk({dir + "start\\", "*.txt"}, &result, &recorder);
    for (const std::string &call : recorder.Calls)
        EXPECT_EQ(call.find("secret"), std::string::npos) << call << " (listed as " << listed[0].cFileName << ")";
    if (returned == 1) {
        ASSERT_EQ(recorder.Calls.size(), 1u);
        EXPECT_EQ(recorder.Calls[0], dir + "start\\" + listed[0].cAlternateFileName + "\\|inside.txt");
    }
    RemoveTreeW(Wide(dir));
}

// --- Options -1 and -n ------------------------------------------------------------

TEST_F(FindFileTest, FirstMatchOptionStopsAfterOneCall)
{
    std::string dir = FreshDir("fffirst");
    MakeFile(dir + "a.txt");
    MakeFile(dir + "b.txt");
    MakeFile(dir + "sub\\c.dat");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"-1", dir, "*.*"}, &result, &recorder), 1);
    ExpectResult(result, 1, 1);
    EXPECT_EQ(recorder.Calls.size(), 1u);

    // The first match may lie deeper; directories without one are counted.
    TRecorder deeper;
    EXPECT_EQ(Walk({"-1", dir, "*.dat"}, &result, &deeper), 1);
    ExpectResult(result, 2, 1);
    EXPECT_EQ(deeper.Calls, std::vector<std::string>{dir + "sub\\|c.dat"});
    DeleteTree(dir);
}

TEST_F(FindFileTest, NoDescentOptionSearchesOnlyTheStartDirectory)
{
    std::string dir = FreshDir("ffnodescent");
    MakeFile(dir + "a.txt");
    MakeFile(dir + "sub\\b.txt");
    MakeFile(dir + "sub\\deeper\\c.txt");
    for (const char *option : {"-n", "-N", "-xn-"}) {
        TFindFileResultBlock result;
        TRecorder recorder;
        EXPECT_EQ(Walk({option, dir, "*.txt"}, &result, &recorder), 1) << option;
        ExpectResult(result, 1, 1);
        EXPECT_EQ(recorder.Calls, std::vector<std::string>{dir + "|a.txt"}) << option;
    }
    // Option words go on as long as the next argument begins with "-".
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"-n", "-1", dir, "*.*"}, &result, &recorder), 1);
    ExpectResult(result, 1, 1);
    DeleteTree(dir);
}

// --- The stack ----------------------------------------------------------------------

TEST_F(FindFileTest, TwoHundredDirectoriesMayWaitButNotMore)
{
    std::string dir = FreshDir("ffstack");
    for (int i = 0; i < 200; i++)
        CreateDirectoryA((dir + "d" + std::to_string(i)).c_str(), NULL);
    MakeFile(dir + "d7\\found.txt");
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 201, 1);
    EXPECT_EQ(recorder.Calls, std::vector<std::string>{dir + "d7\\|found.txt"});

    // One more: the walk fails while descending; what was reported stands.
    MakeFile(dir + "top.txt");
    CreateDirectoryA((dir + "d200").c_str(), NULL);
    TRecorder failed;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &failed), 0);
    ExpectUntouched(result);
    EXPECT_EQ(failed.Calls, std::vector<std::string>{dir + "|top.txt"});

    // Without descent nothing needs the stack.
    EXPECT_EQ(Walk({"-n", dir, "*.txt"}, &result, &failed), 1);
    ExpectResult(result, 1, 1);
    DeleteTree(dir);
}

TEST_F(FindFileTest, FailedStackAllocationCallsNothing)
{
    std::string dir = FreshDir("ffnomemory");
    MakeFile(dir + "a.txt");
    std::string start = dir;
    char program[] = "findfile";
    char pattern[] = "*.*";
    char *argv[] = {program, &start[0], pattern};
    TFindFileResultBlock result = Sentinel;
    TRecorder recorder;
    ResetScratchCounters(1);
    EXPECT_EQ(FindFile(3, argv, &result, Record, &recorder), 0);
    EXPECT_EQ(ScratchCounters.Allocations, 1);
    EXPECT_EQ(ScratchCounters.Live, 0);
    ExpectUntouched(result);
    EXPECT_TRUE(recorder.Calls.empty());
    DeleteTree(dir);
}

// --- Long paths ------------------------------------------------------------------

TEST_F(FindFileTest, DeepPathsAreWalkedCompletely)
{
    RemoveTreeW(L"C:\\dvqtest\\ffdeep\\");
    std::string dir = FreshDir("ffdeep");
    std::string segment(29, 's');
    std::string path = dir;
    std::vector<size_t> lengths;
    for (int level = 0; level < 7; level++) {
        path += segment + std::to_string(level) + "\\";
        MakeDirW(Wide(path));
        MakeFileW(Wide(path + "f.txt"));
        lengths.push_back(path.size());
    }
    MakeDirW(Wide(path.substr(0, lengths[5]) + "side"));
    MakeFileW(Wide(path.substr(0, lengths[5]) + "side\\f.txt"));
    ASSERT_GT(lengths.back(), 200u);
    ASSERT_LT(lengths.back() + 5, (size_t)MAX_PATH);

    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 9, 8);
    EXPECT_EQ(recorder.Calls, ModelCalls(dir, {"*.txt"}));
    size_t longest = 0;
    for (const std::string &directory : DirectoriesOf(recorder.Calls))
        longest = std::max(longest, directory.size());
    EXPECT_EQ(longest, lengths.back());
    for (size_t length : lengths) {
        std::string call = path.substr(0, length) + "|f.txt";
        EXPECT_NE(std::find(recorder.Calls.begin(), recorder.Calls.end(), call), recorder.Calls.end()) << length;
    }
    RemoveTreeW(Wide(dir));
}

TEST_F(FindFileTest, PathsThatDoNotFitMaxPathFailTheWalk)
{
    RemoveTreeW(L"C:\\dvqtest\\ffedge\\");
    std::string dir = FreshDir("ffedge");
    std::string base = dir;
    while (base.size() < 200)
        base += std::string(40, 'e') + "\\";
    base = base.substr(0, 200);
    base.back() = '\\';
    MakeDirs(base);
    // A directory of 256 characters with its backslash: with "*.*" its search path
    // takes 259, all that MAX_PATH leaves beside the terminator.
    std::string fits = base + std::string(256 - base.size() - 1, 'f') + "\\";
    ASSERT_EQ(fits.size(), 256u);
    MakeDirW(Wide(fits));
    MakeFileW(Wide(fits + "in.x"));
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({dir, "*.*"}, &result, &recorder), 1);
    EXPECT_EQ(result.DirCount, 7);
    EXPECT_NE(std::find(recorder.Calls.begin(), recorder.Calls.end(), fits + "|in.x"), recorder.Calls.end());

    // A longer pattern does not fit beside it.
    TRecorder longer;
    EXPECT_EQ(Walk({dir, "*.x", "*.xyz"}, &result, &longer), 0);
    ExpectUntouched(result);
    EXPECT_EQ(Walk({fits, "*.xyz"}, &result, &longer), 0);
    ExpectUntouched(result);

    // One character more and "*.*" does not fit; the walk fails rather than leave
    // that directory out, unless it need not be searched.
    std::string tooLong = base + std::string(257 - base.size() - 1, 'g') + "\\";
    MakeDirW(Wide(tooLong));
    MakeFileW(Wide(tooLong + "in.x"));
    TRecorder failed;
    EXPECT_EQ(Walk({dir, "*.x"}, &result, &failed), 0);
    ExpectUntouched(result);
    EXPECT_EQ(Walk({"-n", base, "*.x"}, &result, &failed), 1);
    ExpectResult(result, 1, 0);
    RemoveTreeW(Wide(tooLong));

    // A directory whose own path does not fit, and a start directory that does not.
    std::string beyond = base + std::string(270 - base.size() - 1, 'h') + "\\";
    MakeDirW(Wide(beyond));
    EXPECT_EQ(Walk({dir, "*.x"}, &result, &failed), 0);
    ExpectUntouched(result);
    EXPECT_EQ(Walk({beyond, "*.*"}, &result, &failed), 0);
    ExpectUntouched(result);
    RemoveTreeW(Wide(dir));
}

// --- Option -p ------------------------------------------------------------------------

struct FindFilePathTest : FindFileTest {
    std::string SavedPath;
    bool HadPath = false;
    std::string Root;
    std::string One;
    std::string Two;

    void SetUp() override
    {
        DWORD size = GetEnvironmentVariableA("PATH", NULL, 0);
        HadPath = size > 0;
        std::vector<char> value(size + 1, '\0');
        GetEnvironmentVariableA("PATH", value.data(), size + 1);
        SavedPath = value.data();
        Root = FreshDir("ffpath");
        One = Root + "one\\";
        Two = Root + "two\\";
        MakeFile(One + "a.txt");
        MakeFile(One + "below\\b.txt");
        MakeFile(Two + "c.txt");
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("PATH", HadPath ? SavedPath.c_str() : NULL);
        DeleteTree(Root);
        FindFileTest::TearDown();
    }
};

TEST_F(FindFilePathTest, SearchesEachElementLastFirstWithoutDescent)
{
    // The first element is written without its backslash.
    SetEnvironmentVariableA("PATH", (One.substr(0, One.size() - 1) + ";" + Two).c_str());
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"-p", "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 2, 2);
    EXPECT_EQ(recorder.Calls, (std::vector<std::string>{Two + "|c.txt", One + "|a.txt"}));

    // Empty elements are skipped; a missing directory is counted and gives nothing.
    SetEnvironmentVariableA("PATH", (";" + One + ";;" + Root + "missing;" + Two + ";").c_str());
    TRecorder skipped;
    EXPECT_EQ(Walk({"-P", "*.txt"}, &result, &skipped), 1);
    ExpectResult(result, 3, 2);
    EXPECT_EQ(skipped.Calls, (std::vector<std::string>{Two + "|c.txt", One + "|a.txt"}));
}

TEST_F(FindFilePathTest, EmptyOrUnsetPathSearchesNothing)
{
    for (const char *value : {"", ";", ";;;", (const char *)NULL}) {
        SetEnvironmentVariableA("PATH", value);
        TFindFileResultBlock result;
        TRecorder recorder;
        EXPECT_EQ(Walk({"-p", "*.*"}, &result, &recorder), 1) << (value ? value : "(unset)");
        ExpectResult(result, 0, 0);
        EXPECT_TRUE(recorder.Calls.empty());
    }
}

TEST_F(FindFilePathTest, SurplusElementsAreDroppedAndLongOnesFail)
{
    // 201 elements: the one that finds no room is dropped; the walk succeeds.
    std::string value = One;
    for (int i = 0; i < 199; i++)
        value += ";" + Root + "missing" + std::to_string(i);
    SetEnvironmentVariableA("PATH", (value + ";" + Two).c_str());
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"-p", "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 200, 1);
    EXPECT_EQ(recorder.Calls, std::vector<std::string>{One + "|a.txt"});

    // An element the file functions cannot name fails the walk before any call.
    SetEnvironmentVariableA("PATH", (One + ";" + Root + std::string(MAX_PATH, 'l')).c_str());
    TRecorder failed;
    EXPECT_EQ(Walk({"-p", "*.txt"}, &result, &failed), 0);
    ExpectUntouched(result);
    EXPECT_TRUE(failed.Calls.empty());
}

// --- Option -r ------------------------------------------------------------------------

// Drives M:, N: and O: of the test prefix mapped to small folders, one file and
// one subdirectory with a file in each.
struct FindFileDriveTest : FindFileTest {
    static bool Mapped;
    static std::string Root;

    static void SetUpTestSuite()
    {
        // A letter in use is taken over only when it leads to this test's own folder
        // (left mapped by an earlier run that did not finish).
        Root = FreshDir("ffdrives");
        for (char letter : {'M', 'N', 'O'}) {
            std::string folder = Root + (char)(letter | 0x20) + "\\";
            MakeFile(folder + "dvqmarker");
            if (DriveExists(letter) && !FileExists(std::string(1, letter) + ":\\dvqmarker"))
                return;
        }
        Mapped = true;
        for (char letter : {'M', 'N', 'O'}) {
            std::string folder = Root + (char)(letter | 0x20) + "\\";
            std::string unixFolder = UnixPath(folder);
            Mapped = Mapped && !unixFolder.empty() && DefineWineDrive(letter, unixFolder) &&
                     FileExists(std::string(1, letter) + ":\\dvqmarker");
            DeleteFileA((folder + "dvqmarker").c_str());
        }
    }
    static void TearDownTestSuite()
    {
        if (Mapped)
            for (char letter : {'M', 'N', 'O'})
                DefineWineDrive(letter, "");
        Mapped = false;
        DeleteTree(Root);
    }
    void SetUp() override
    {
        if (!Mapped)
            GTEST_SKIP() << "drives M: to O: cannot be mapped here";
    }
    static void Populate()
    {
        for (char letter : {'m', 'n', 'o'}) {
            std::string folder = Root + letter + "\\";
            DeleteTree(folder);
            MakeFile(folder + "root.txt");
            MakeFile(folder + "sub\\inner.txt");
        }
    }
};
bool FindFileDriveTest::Mapped = false;
std::string FindFileDriveTest::Root;

TEST_F(FindFileDriveTest, RangeSearchesEachRootWithDescentLowFirst)
{
    Populate();
    TFindFileResultBlock result;
    TRecorder recorder;
    EXPECT_EQ(Walk({"-rMO", "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 6, 6);
    EXPECT_EQ(recorder.Calls,
              (std::vector<std::string>{"M:\\|root.txt", "M:\\sub\\|inner.txt", "N:\\|root.txt",
                                        "N:\\sub\\|inner.txt", "O:\\|root.txt", "O:\\sub\\|inner.txt"}));

    // Lower-case letters are used as they stand.
    TRecorder lower;
    EXPECT_EQ(Walk({"-rmn", "*.txt"}, &result, &lower), 1);
    ExpectResult(result, 4, 4);
    EXPECT_EQ(DirectoriesOf(lower.Calls), (std::vector<std::string>{"m:\\", "m:\\sub\\", "n:\\", "n:\\sub\\"}));

    // Every entry of a root, as the file system lists it.
    TRecorder all;
    EXPECT_EQ(Walk({"-rNN", "*.*"}, &result, &all), 1);
    std::vector<std::string> expected = ModelCalls("N:\\", {"*.*"});
    EXPECT_EQ(all.Calls, expected);
    ExpectResult(result, 2, (LONG)expected.size());
}

TEST_F(FindFileDriveTest, RangesStandInTheOrderOfTheOptions)
{
    Populate();
    TFindFileResultBlock result;
    TRecorder recorder;
    // High below low pushes the high root only.
    EXPECT_EQ(Walk({"-rON", "*.txt"}, &result, &recorder), 1);
    ExpectResult(result, 2, 2);
    EXPECT_EQ(DirectoriesOf(recorder.Calls), (std::vector<std::string>{"N:\\", "N:\\sub\\"}));

    // Both ranges are pushed, in order, so the later one is searched first.
    for (auto words : {std::vector<std::string>{"-rMMrOO", "*.txt"},
                       std::vector<std::string>{"-rMM", "-rOO", "*.txt"}}) {
        TRecorder twice;
        EXPECT_EQ(Walk(words, &result, &twice), 1);
        ExpectResult(result, 4, 4);
        EXPECT_EQ(DirectoriesOf(twice.Calls),
                  (std::vector<std::string>{"O:\\", "O:\\sub\\", "M:\\", "M:\\sub\\"}));
    }

    // -n applies to the roots too; with -p the roots come after the PATH elements.
    std::string saved(32768, '\0');
    DWORD length = GetEnvironmentVariableA("PATH", &saved[0], (DWORD)saved.size());
    SetEnvironmentVariableA("PATH", (Root + "o").c_str());
    TRecorder mixed;
    EXPECT_EQ(Walk({"-prMN", "*.txt"}, &result, &mixed), 1);
    SetEnvironmentVariableA("PATH", length > 0 ? saved.c_str() : NULL);
    ExpectResult(result, 3, 3);
    EXPECT_EQ(mixed.Calls, (std::vector<std::string>{"M:\\|root.txt", "N:\\|root.txt", Root + "o\\|root.txt"}));
}

TEST_F(FindFileDriveTest, IncompleteRangesPushNothing)
{
    Populate();
    for (const char *word : {"-r", "-R", "-rM", "-r1M", "-rM1", "-rM-", "-r:N"}) {
        TFindFileResultBlock result;
        TRecorder recorder;
        // No start directory is taken: the argument after the option is a pattern.
        EXPECT_EQ(Walk({word, "*.txt"}, &result, &recorder), 1) << word;
        ExpectResult(result, 0, 0);
        EXPECT_TRUE(recorder.Calls.empty()) << word;
    }
    // The two letters are consumed; what follows them is read as options.
    TFindFileResultBlock result;
    TRecorder first;
    EXPECT_EQ(Walk({"-rMO1", "*.txt"}, &result, &first), 1);
    ExpectResult(result, 1, 1);
    EXPECT_EQ(first.Calls, std::vector<std::string>{"M:\\|root.txt"});

    // A word that ends right after "R" or its first letter, at the end of readable
    // memory: the walker never reads past it.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char *pages = (char *)VirtualAlloc(NULL, 2 * system.dwPageSize, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    for (const char *word : {"-r", "-rM", "-Nr"}) {
        size_t size = strlen(word) + 1;
        char *edge = pages + system.dwPageSize - size;
        memcpy(edge, word, size);
        char program[] = "findfile";
        char pattern[] = "*.txt";
        char *argv[] = {program, edge, pattern};
        TRecorder recorder;
        result = Sentinel;
        EXPECT_EQ(FindFile(3, argv, &result, Record, &recorder), 1) << word;
        ExpectResult(result, 0, 0);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// --- Random trees against the model ---------------------------------------------------

std::string RandomName(std::mt19937 &random, int *serial)
{
    std::string name;
    int length = 1 + random() % 5;
    for (int i = 0; i < length; i++)
        name += "abxyz"[random() % 5];
    return name + std::to_string((*serial)++);
}

void MakeRandomTree(std::mt19937 &random, const std::string &directory, int depth, int *serial,
                    std::vector<std::string> *directories)
{
    directories->push_back(directory);
    static const char *const extensions[] = {".a", ".b", ".txt", "", ".a.b"};
    int files = random() % 4;
    for (int i = 0; i < files; i++)
        MakeFile(directory + RandomName(random, serial) + extensions[random() % 5]);
    int subdirectories = depth < 3 ? random() % (4 - depth) : 0;
    for (int i = 0; i < subdirectories; i++) {
        std::string name = RandomName(random, serial);
        if (random() % 6 == 0)
            name = "." + name;
        std::string child = directory + name + "\\";
        MakeDirs(child);
        MakeRandomTree(random, child, depth + 1, serial, directories);
    }
}

TEST_F(FindFileDriveTest, RandomTreesAndOptionsAgreeWithTheModel)
{
    static const char *const patterns[] = {"*.*", "*", "*.a", "*.b", "?*.txt", "x*", "*1*", "*.a.b"};
    std::string saved(32768, '\0');
    DWORD savedLength = GetEnvironmentVariableA("PATH", &saved[0], (DWORD)saved.size());
    for (unsigned round = 0; round < 100; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::mt19937 random(20240611u + round);
        std::vector<std::string> directories;
        int serial = 0;
        for (char letter : {'m', 'n', 'o'}) {
            std::string folder = Root + letter + "\\";
            DeleteTree(folder);
            MakeDirs(folder);
            MakeRandomTree(random, folder, 0, &serial, &directories);
        }

        TModel model;
        std::vector<std::string> tokens;
        if (random() % 3 == 0) {
            tokens.push_back("1");
            model.FirstOnly = true;
        }
        if (random() % 4 == 0) {
            tokens.push_back(random() % 2 ? "n" : "N");
            model.NoDescent = true;
        }
        int mode = random() % 4;  // start directory, -p, -r, -p and -r
        if (mode == 1 || mode == 3) {
            std::string path;
            int elements = 1 + random() % 4;
            for (int i = 0; i < elements; i++) {
                std::string element = directories[random() % directories.size()];
                model.Starts.push_back(element);
                if (random() % 2)
                    element.pop_back();
                if (random() % 4 == 0)
                    path += ";";
                path += element + ";";
            }
            SetEnvironmentVariableA("PATH", path.c_str());
            model.NoDescent = true;
        }
        std::vector<std::string> ranges;
        if (mode >= 2) {
            int rangeCount = 1 + random() % 2;
            for (int r = 0; r < rangeCount; r++) {
                char low = "MNO"[random() % 3];
                char high = "MNO"[random() % 3];
                if (random() % 2) {
                    low |= 0x20;
                    high |= 0x20;
                }
                ranges.push_back(std::string("r") + low + high);
            }
        }
        // The option tokens in a random order; the model pushes as they stand.
        std::vector<std::string> ordered = tokens;
        if (mode == 1 || mode == 3)
            ordered.push_back("p");
        for (const std::string &range : ranges)
            ordered.push_back(range);
        std::shuffle(ordered.begin(), ordered.end(), random);
        if (mode >= 2) {
            std::vector<std::string> pathStarts = model.Starts;
            model.Starts.clear();
            for (const std::string &token : ordered) {
                if (token == "p")
                    model.Starts.insert(model.Starts.end(), pathStarts.begin(), pathStarts.end());
                if (token[0] != 'r')
                    continue;
                char letter = token[2];
                do
                    model.Starts.push_back(std::string(1, letter) + ":\\");
                while (--letter >= token[1]);
            }
        }
        std::vector<std::string> args;
        for (const std::string &token : ordered) {
            if (args.empty() || random() % 2)
                args.push_back("-");
            args.back() += token;
        }
        if (mode == 0) {
            std::string start = directories[random() % directories.size()];
            model.Starts.push_back(start);
            args.push_back(start);
        }
        int patternCount = random() % 4;
        for (int i = 0; i < patternCount; i++) {
            model.Patterns.push_back(patterns[random() % 8]);
            args.push_back(model.Patterns.back());
        }
        TRecorder recorder;
        if (random() % 3 == 0)
            recorder.StopAt = model.StopAt = 1 + random() % 20;

        RunModel(&model);
        TFindFileResultBlock result;
        std::string shown;
        for (const std::string &arg : args)
            shown += " " + arg;
        SCOPED_TRACE("findfile" + shown);
        EXPECT_EQ(Walk(args, &result, &recorder), 1);
        ASSERT_FALSE(model.Failed);
        ExpectResult(result, model.DirCount, model.MatchCount);
        EXPECT_EQ(recorder.Calls, model.Calls);
        if (HasFailure())
            break;
    }
    SetEnvironmentVariableA("PATH", savedLength > 0 ? saved.c_str() : NULL);
}

}  // namespace
