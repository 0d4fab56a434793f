// The directory walker FindFile, on real trees made under C:\dvqtest\ (and on extra
// Wine drives mapped to small folders there). The order in which the file system
// lists a directory is learnt from FindFirstFileA, never assumed.
#include "findfile/findfile.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <winioctl.h>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> TStrings;

// Calling the walker and recording what it reports.

struct TWalk {
    std::string Outcome;  // "returned: DirCount/MatchCount/Reserved"
    TStrings Calls;       // "directory|name" of every callback call, in order
    int StopAt = 0;       // the call (counted from 1) that returns 0; 0: none
};

// The result record is filled with -7 before each call: a failed walk must leave
// it so.
const char Untouched[] = "0: -7/-7/-7";

std::string Outcome(int returned, LONG dirCount, LONG matchCount, LONG reserved)
{
    return std::to_string(returned) + ": " + std::to_string(dirCount) + "/" + std::to_string(matchCount) + "/" +
           std::to_string(reserved);
}

int Record(const char *directory, WIN32_FIND_DATAA *entry, void *userData)
{
    TWalk *walk = (TWalk *)userData;
    walk->Calls.push_back(std::string(directory) + "|" + entry->cFileName);
    return (int)walk->Calls.size() == walk->StopAt ? 0 : 1;
}

// Calls FindFile with "findfile" and args; the scratch allocation numbered
// failAllocation (0: none) fails, and every block it obtained must be released.
// Without a result record (a null pointer) the outcome is the returned value only.
TWalk Walk(TStrings args, int stopAt = 0, long failAllocation = 0, bool withResult = true)
{
    std::vector<char *> argv(1, (char *)"findfile");
    for (std::string &word : args)
        argv.push_back(&word[0]);
    TWalk walk;
    walk.StopAt = stopAt;
    TFindFileResultBlock result = {-7, -7, -7};
    ResetScratchCounters(failAllocation);
    int returned = FindFile((int)argv.size(), argv.data(), withResult ? &result : NULL, Record, &walk);
    EXPECT_EQ(ScratchCounters.Live, 0);
    EXPECT_TRUE(returned != 1 || !withResult || result.MatchCount == (LONG)walk.Calls.size()) << "MatchCount is the number of calls";
    walk.Outcome = withResult ? Outcome(returned, result.DirCount, result.MatchCount, result.Reserved)
                              : std::to_string(returned);
    return walk;
}

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
TStrings Subdirectories(const std::string &directory)
{
    TStrings out;
    for (const WIN32_FIND_DATAA &entry : List(directory + "*.*")) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == '.' ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        out.push_back(directory + entry.cFileName + "\\");
    }
    return out;
}

struct TModel {
    TStrings Starts;  // the directories pushed before the walk, in push order
    TStrings Patterns;
    bool NoDescent = false;
    int StopAt = 0;  // the call after which the walk stops (1 for -1); 0: none
    TStrings Calls;  // what the walk gives
    LONG DirCount = 0;
};

// Searches directory and then its subtrees, the one listed last first; false when
// the walk stops there.
bool ModelVisit(TModel *model, const std::string &directory)
{
    model->DirCount++;
    for (const std::string &pattern : model->Patterns)
        for (const WIN32_FIND_DATAA &entry : List(directory + pattern)) {
            model->Calls.push_back(directory + "|" + entry.cFileName);
            if ((int)model->Calls.size() == model->StopAt)
                return false;
        }
    TStrings children = model->NoDescent ? TStrings() : Subdirectories(directory);
    for (size_t i = children.size(); i-- > 0;)
        if (!ModelVisit(model, children[i]))
            return false;
    return true;
}

// Walks the starts, the one pushed last first; the outcome as Walk shows it.
std::string RunModel(TModel *model)
{
    for (size_t i = model->Starts.size(); i-- > 0;)
        if (!ModelVisit(model, model->Starts[i]))
            break;
    return Outcome(1, model->DirCount, (LONG)model->Calls.size(), 0);
}

std::wstring Wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

// Makes a directory (path ending with a backslash) or an empty file through the
// wide functions, which reach paths and names the ANSI ones cannot.
void MakeW(const std::wstring &path)
{
    std::wstring full = L"\\\\?\\" + path;
    if (full.back() == L'\\') {
        ASSERT_TRUE(CreateDirectoryW(full.substr(0, full.size() - 1).c_str(), NULL)) << GetLastError();
        return;
    }
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
}

// Removes a test folder below C:\dvqtest\ with everything in it, whatever the
// names and lengths there (links are removed, never followed).
void RemoveTree(const std::string &directory)
{
    std::string unixPath = UnixPath(directory);
    if (unixPath.find("/dvqtest/") != std::string::npos)
        RunUnix({"/bin/rm", "-rf", unixPath});
}


// Every test may set PATH; the process's own value is put back afterwards.
struct FindFileTest : ::testing::Test {
    std::string SavedPath = std::string(32768, '\0');
    DWORD SavedPathLength = 0;
    void SetUp() override { SavedPathLength = GetEnvironmentVariableA("PATH", &SavedPath[0], 32768); }
    void TearDown() override
    {
        SetEnvironmentVariableA("PATH", SavedPathLength > 0 ? SavedPath.c_str() : NULL);
        ResetScratchCounters(0);
    }
};

TEST_F(FindFileTest, CountsEveryCallAndStopsWhenAsked)
{
    std::string dir = FreshDir("ffcount");
    MakeFile(dir + "a.txt");
    MakeFile(dir + "b.dat");
    TWalk all = Walk({dir, "*.*"});
    EXPECT_EQ(all.Outcome, "1: 1/4/0");
    std::sort(all.Calls.begin(), all.Calls.end());
    EXPECT_EQ(all.Calls, (TStrings{dir + "|.", dir + "|..", dir + "|a.txt", dir + "|b.dat"}));
    // A callback returning 0, and the option -1, end the walk after one call; option
    // words go on as long as the arguments begin with "-".
    for (const TWalk &stopped : {Walk({dir, "*.*"}, 1), Walk({"-1", dir, "*.*"}), Walk({"-n", "-1", dir, "*.*"})})
        EXPECT_EQ(stopped.Outcome, "1: 1/1/0");
    TWalk unrecorded = Walk({dir, "*.txt"}, 0, 0, false);
    EXPECT_EQ(unrecorded.Outcome, "1");
    EXPECT_EQ(unrecorded.Calls, TStrings{dir + "|a.txt"});

    // With a subdirectory: -1 takes the first match wherever it lies, -n searches
    // the start directory only, and without patterns directories are only counted.
    MakeFile(dir + "sub\\c.x");
    MakeDirs(dir + "sub\\.dot\\inner\\");
    EXPECT_EQ(Walk({"-1", dir, "*.x"}).Calls, TStrings{dir + "sub\\|c.x"});
    for (const char *option : {"-n", "-N", "-xn-"})
        EXPECT_EQ(Walk({option, dir, "*.x"}).Outcome, "1: 1/0/0") << option;
    EXPECT_EQ(Walk({dir}).Outcome, "1: 2/0/0");
    // A missing start directory is counted and gives nothing.
    EXPECT_EQ(Walk({dir + "missing\\", "*.*"}).Outcome, "1: 1/0/0");
    // One without its backslash is the directory it names, not a prefix of the
    // names of its siblings.
    MakeFile(dir + "ab\\in.txt");
    MakeFile(dir + "abab\\sibling.txt");
    EXPECT_EQ(Walk({dir + "ab", "*.txt"}).Calls, TStrings{dir + "ab\\|in.txt"});
    DeleteTree(dir);
}

TEST_F(FindFileTest, DescendsDepthFirstLastListedFirstNeverIntoDotDirectories)
{
    std::string dir = FreshDir("fforder");
    for (const char *name : {"A\\", "B\\", "C\\"})
        for (const char *below : {"", "inner1\\", "inner2\\"}) {
            MakeFile(dir + name + below + "f.one");
            MakeFile(dir + name + below + "f.two");
        }
    MakeFile(dir + "top.one");
    MakeFile(dir + "top.two");
    MakeFile(dir + ".hidden\\deeper\\f.one");
    TStrings top = Subdirectories(dir);
    ASSERT_EQ(top.size(), 3u);

    // In each directory the patterns in argument order, then its subtrees, each
    // whole, the one listed last first.
    TStrings expected = {dir + "|top.two", dir + "|top.one"};
    for (size_t i = top.size(); i-- > 0;) {
        TStrings inner = Subdirectories(top[i]);
        ASSERT_EQ(inner.size(), 2u);
        for (const std::string &directory : {top[i], inner[1], inner[0]})
            expected.insert(expected.end(), {directory + "|f.two", directory + "|f.one"});
    }
    TWalk walk = Walk({dir, "*.two", "*.none", "*.one"});
    EXPECT_EQ(walk.Outcome, "1: 10/20/0");
    EXPECT_EQ(walk.Calls, expected);  // nothing from ".hidden"
    DeleteTree(dir);
}

TEST_F(FindFileTest, LinksAreReportedButNeverEntered)
{
    RemoveTree("C:\\dvqtest\\fflink\\");  // a link left behind is never followed
    std::string dir = FreshDir("fflink");
    std::string target = FreshDir("fflinktarget");
    MakeFile(target + "behind.txt");
    MakeFile(dir + "real\\here.txt");
    std::string unixLink = UnixPath(dir + "link");
    if (unixLink.empty() || !RunUnix({"/bin/ln", "-s", UnixPath(target), unixLink}))
        GTEST_SKIP() << "no way to make a link here";
    // dir: . .. link real; real: . .. here.txt; and not behind.txt
    EXPECT_EQ(Walk({dir, "*.*"}).Outcome, "1: 2/7/0");
    RemoveTree(dir);
    RemoveTree(target);
}

TEST_F(FindFileTest, NamesOutsideTheCodePageAreEnteredByTheirShortName)
{
    RemoveTree("C:\\dvqtest\\ffwide\\");
    std::string dir = FreshDir("ffwide");
    std::wstring wideDir = Wide(dir) + L"\x0416\x0414\x4E2D-folder name";
    MakeW(wideDir + L"\\");
    MakeW(wideDir + L"\\inside.txt");
    MakeW(wideDir + L"\\\x0436 deeper\\");
    MakeW(wideDir + L"\\\x0436 deeper\\deepest.txt");
    std::vector<WIN32_FIND_DATAA> listed = List(dir + "*-folder name");
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_NE(std::string(listed[0].cFileName).find('?'), std::string::npos) << "the code page holds the name";

    TWalk walk = Walk({dir, "*.txt"});
    EXPECT_EQ(walk.Outcome, "1: 3/2/0");
    ASSERT_EQ(walk.Calls.size(), 2u);
    EXPECT_EQ(walk.Calls[0], dir + listed[0].cAlternateFileName + "\\|inside.txt");
    size_t bar = walk.Calls[1].find('|');  // the deeper one, entered by its short name too
    EXPECT_TRUE(FileExists(walk.Calls[1].substr(0, bar) + walk.Calls[1].substr(bar + 1))) << walk.Calls[1];
    RemoveTree(dir);
}

TEST_F(FindFileTest, BestFitNamesNeverLeadOutOfTheTree)
{
    // Full-width reverse solidus and full stops come back from the ANSI functions
    // as "\" and "." by best fit; entered by that name, the walk would go to
    // C:\dvqtest\ffbest\outside\.
    RemoveTree("C:\\dvqtest\\ffbest\\");
    std::string dir = FreshDir("ffbest");
    MakeFile(dir + "outside\\secret.txt");
    std::wstring trap = Wide(dir) + L"start\\x\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3Coutside";
    MakeDirs(dir + "start");
    MakeW(trap + L"\\");
    MakeW(trap + L"\\inside.txt");
    std::vector<WIN32_FIND_DATAA> listed = List(dir + "start\\x*");
    ASSERT_EQ(listed.size(), 1u);

    TWalk walk = Walk({dir + "start\\", "*.txt"});
    for (const std::string &call : walk.Calls)
        EXPECT_EQ(call.find("secret"), std::string::npos) << call << " (listed as " << listed[0].cFileName << ")";
    if (walk.Outcome[0] == '1') {
        ASSERT_EQ(walk.Calls.size(), 1u);
        EXPECT_EQ(walk.Calls[0], dir + "start\\" + listed[0].cAlternateFileName + "\\|inside.txt");
    }
    RemoveTree(dir);
}

TEST_F(FindFileTest, TwoHundredDirectoriesMayWaitAndTheStackMustBeObtained)
{
    std::string dir = FreshDir("ffstack");
    for (int i = 0; i < 200; i++)
        CreateDirectoryA((dir + "d" + std::to_string(i)).c_str(), NULL);
    MakeFile(dir + "d7\\found.txt");
    EXPECT_EQ(Walk({dir, "*.txt"}).Outcome, "1: 201/1/0");

    // One more: the walk fails while descending; what was reported stands.
    MakeFile(dir + "top.txt");
    CreateDirectoryA((dir + "d200").c_str(), NULL);
    TWalk over = Walk({dir, "*.txt"});
    EXPECT_EQ(over.Outcome, Untouched);
    EXPECT_EQ(over.Calls, TStrings{dir + "|top.txt"});

    // Without its one block the walk fails before any call.
    TWalk noMemory = Walk({"-n", dir, "*.txt"}, 0, 1);
    EXPECT_EQ(ScratchCounters.Allocations, 1);
    EXPECT_EQ(noMemory.Outcome, Untouched);
    EXPECT_TRUE(noMemory.Calls.empty());
    DeleteTree(dir);
}

TEST_F(FindFileTest, LongPathsAreWalkedWhileTheyFitMaxPath)
{
    RemoveTree("C:\\dvqtest\\fflong\\");
    std::string dir = FreshDir("fflong");
    // A chain of directories past 64, 128 and 200 characters, ending at 256: "*.*"
    // after that one takes all that MAX_PATH leaves beside the terminator.
    std::string path = dir;
    for (size_t length : {70, 140, 200, 256}) {
        path += std::string(length - path.size() - 1, 'd') + "\\";
        MakeW(Wide(path));
        MakeW(Wide(path + "f.x"));
    }
    EXPECT_EQ(Walk({dir, "*.*"}).Outcome, "1: 5/18/0");  // ".", ".." and one entry in each

    // A longer pattern does not fit after the last; nor does "*.*" after a
    // directory one character longer, nor a subdirectory or start directory whose
    // own path is too long. The walk then fails rather than leave it out.
    EXPECT_EQ(Walk({dir, "*.x", "*.xyz"}).Outcome, Untouched);
    MakeW(Wide(path.substr(0, 200) + std::string(56, 'g') + "\\"));  // 257 characters
    EXPECT_EQ(Walk({dir}).Outcome, Untouched);
    std::string beyond = dir + "side\\" + std::string(246, 'h') + "\\";  // 270 characters
    MakeW(Wide(dir + "side\\"));
    MakeW(Wide(beyond));
    EXPECT_EQ(Walk({dir + "side\\"}).Outcome, Untouched);
    EXPECT_EQ(Walk({beyond, "*.*"}).Outcome, Untouched);
    RemoveTree(dir);
}

TEST_F(FindFileTest, PathElementsAreSearchedLastFirstWithoutDescent)
{
    std::string root = FreshDir("ffpath");
    std::string one = root + "one\\";
    std::string two = root + "two\\";
    MakeFile(one + "a.txt");
    MakeFile(one + "below\\b.txt");
    MakeFile(two + "c.txt");
    // One element written without its backslash, one with it; empty ones between.
    SetEnvironmentVariableA("PATH", (";" + one.substr(0, one.size() - 1) + ";;" + two + ";").c_str());
    TWalk walk = Walk({"-p", "*.txt"});
    EXPECT_EQ(walk.Outcome, "1: 2/2/0");
    EXPECT_EQ(walk.Calls, (TStrings{two + "|c.txt", one + "|a.txt"}));

    for (const char *value : {"", ";;;", (const char *)NULL}) {
        SetEnvironmentVariableA("PATH", value);
        EXPECT_EQ(Walk({"-P", "*.*"}).Outcome, "1: 0/0/0") << (value ? value : "(unset)");
    }
    // Elements beyond the 200 slots are dropped, and so is one too long to name.
    std::string value = one;
    for (int i = 0; i < 200; i++)
        value += ";" + root + "missing" + std::to_string(i);
    SetEnvironmentVariableA("PATH", value.c_str());
    EXPECT_EQ(Walk({"-p", "*.txt"}).Outcome, "1: 200/1/0");  // missing199 dropped; one searched last
    SetEnvironmentVariableA("PATH", (one + ";" + root + std::string(MAX_PATH, 'l')).c_str());
    TWalk tooLong = Walk({"-p", "*.txt"});
    EXPECT_EQ(tooLong.Outcome, "1: 1/1/0");
    EXPECT_EQ(tooLong.Calls, TStrings{one + "|a.txt"});
    DeleteTree(root);
}

// Drives M:, N: and O: of the test prefix mapped to small folders.
struct FindFileDriveTest : FindFileTest {
    static bool Mapped;
    static std::string Root;

    static void SetUpTestSuite()
    {
        // A letter in use is taken over only when it leads to this test's own folder
        // (left mapped by an earlier run that did not finish).
        Root = FreshDir("ffdrives");
        for (char letter : {'M', 'N', 'O'}) {
            MakeFile(Root + (char)(letter | 0x20) + "\\dvqmarker");
            DWORD drives = GetLogicalDrives() >> (letter - 'A');
            if ((drives & 1) && !FileExists(std::string(1, letter) + ":\\dvqmarker"))
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
        FindFileTest::SetUp();
        if (!Mapped)
            GTEST_SKIP() << "drives M: to O: cannot be mapped here";
    }
};
bool FindFileDriveTest::Mapped = false;
std::string FindFileDriveTest::Root;

TEST_F(FindFileDriveTest, RootsOfARangeAreSearchedLowFirstWithDescent)
{
    for (char letter : {'m', 'n', 'o'}) {
        DeleteTree(Root + letter + "\\");
        MakeFile(Root + letter + "\\root.txt");
        MakeFile(Root + letter + "\\sub\\inner.txt");
    }
    TWalk walk = Walk({"-rMO", "*.txt"});
    EXPECT_EQ(walk.Outcome, "1: 6/6/0");
    EXPECT_EQ(walk.Calls, (TStrings{"M:\\|root.txt", "M:\\sub\\|inner.txt", "N:\\|root.txt", "N:\\sub\\|inner.txt",
                                    "O:\\|root.txt", "O:\\sub\\|inner.txt"}));
    // Letters missing or not letters: no root is searched, and no start directory
    // is taken either (the argument after the option is a pattern).
    for (const char *word : {"-r", "-R", "-rM", "-r1M", "-rM1", "-rM-", "-r:N"})
        EXPECT_EQ(Walk({word, "*.txt"}).Outcome, "1: 0/0/0") << word;
}

// Makes a random tree at directory: files and subdirectories (some of them with a
// leading dot) named with a few letters and a number; lists its directories.
void MakeRandomTree(std::mt19937 &random, const std::string &directory, int depth, TStrings *directories)
{
    static const char *const extensions[] = {".a", ".b", ".txt", "", ".a.b"};
    size_t serial = directories->size();
    directories->push_back(directory);
    MakeDirs(directory);
    int files = random() % 4;
    int subdirectories = depth < 3 ? random() % (4 - depth) : 0;
    for (int i = 0; i < files + subdirectories; i++) {
        std::string name;
        for (int length = 1 + random() % 5; length > 0; length--)
            name += "abxyz"[random() % 5];
        name += std::to_string(serial * 10 + i);
        if (i < files)
            MakeFile(directory + name + extensions[random() % 5]);
        else
            MakeRandomTree(random, directory + (random() % 6 == 0 ? "." : "") + name + "\\", depth + 1, directories);
    }
}

TEST_F(FindFileDriveTest, RandomTreesAndOptionsAgreeWithTheModel)
{
    static const char *const patterns[] = {"*.*", "*", "*.a", "*.b", "?*.txt", "x*", "*1*", "*.a.b"};
    for (unsigned round = 0; round < 100 && !HasFailure(); round++) {
        std::mt19937 random(20240611u + round);
        TStrings directories;
        for (char letter : {'m', 'n', 'o'}) {
            DeleteTree(Root + letter + "\\");
            MakeRandomTree(random, Root + letter + "\\", 0, &directories);
        }

        // Option tokens -1, -n, -p (over random directories) and drive ranges, in a
        // random order and split into words at random; a start directory when
        // neither -p nor -r is given.
        TStrings tokens, pathElements, args;
        if (random() % 3 == 0)
            tokens.push_back("1");
        if (random() % 4 == 0)
            tokens.push_back(random() % 2 ? "n" : "N");
        int mode = random() % 4;  // start directory, -p, -r, -p and -r
        if (mode & 1) {
            std::string path;
            for (int elements = 1 + random() % 4; elements > 0; elements--) {
                pathElements.push_back(directories[random() % directories.size()]);
                std::string element = pathElements.back().substr(0, pathElements.back().size() - random() % 2);
                path += (random() % 4 == 0 ? ";" : "") + element + ";";
            }
            SetEnvironmentVariableA("PATH", path.c_str());
            tokens.push_back("p");
        }
        for (int ranges = mode & 2 ? 1 + random() % 2 : 0; ranges > 0; ranges--) {
            char low = "MNO"[random() % 3];
            char high = "MNO"[random() % 3];
            char lower = random() % 2 ? 0x20 : 0;
            tokens.push_back(std::string("r") + (char)(low | lower) + (char)(high | lower));
        }
        std::shuffle(tokens.begin(), tokens.end(), random);
        TModel model;
        model.StopAt = random() % 3 == 0 ? 1 + random() % 20 : 0;
        int stopAt = model.StopAt;
        // The model pushes the directories of each token as the tokens stand.
        for (const std::string &token : tokens) {
            model.StopAt = token == "1" ? 1 : model.StopAt;
            model.NoDescent = model.NoDescent || token == "n" || token == "N" || token == "p";
            if (token == "p")
                model.Starts.insert(model.Starts.end(), pathElements.begin(), pathElements.end());
            if (token[0] == 'r') {
                char letter = token[2];  // high first; high below low: that root only
                do
                    model.Starts.push_back(std::string(1, letter) + ":\\");
                while (--letter >= token[1]);
            }
            if (args.empty() || random() % 2)
                args.push_back("-");
            args.back() += token;
        }
        if (mode == 0) {
            model.Starts.push_back(directories[random() % directories.size()]);
            args.push_back(model.Starts.back());
        }
        for (int count = random() % 4; count > 0; count--) {
            model.Patterns.push_back(patterns[random() % 8]);
            args.push_back(model.Patterns.back());
        }

        SCOPED_TRACE("round " + std::to_string(round) + ": " + ::testing::PrintToString(args));
        TWalk walk = Walk(args, stopAt);
        EXPECT_EQ(walk.Outcome, RunModel(&model));
        EXPECT_EQ(walk.Calls, model.Calls);
    }
}

}  // namespace
