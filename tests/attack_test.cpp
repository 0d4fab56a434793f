// Another program that may change the installation directory (a user who may
// write there, as anybody may in a folder an administrator made under C:\)
// swaps part of it for a link to a folder of its choice at the moments that
// matter: while the tree is removed, between the check and the removal, and
// before the restart that deletes what was in use. Nothing outside the tree is
// deleted, and the last box says what stayed. The run goes on inside this
// process; the other program is testtools/swapper.exe.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include "tests/support/wine.h"
#include <gtest/gtest.h>
#include <aclapi.h>
#include <memory>

namespace {

// The installation, and two folders of another's: Victim holds what a link in
// the installation would lead to, Elsewhere a directory of the same name.
const std::string Top = "C:\\dvqtest\\attack\\", Install = Top + "Apps\\Solvarine\\", Victim = Top + "Victim\\",
                  Elsewhere = Top + "Elsewhere\\", Away = Top + "Away\\";
typedef std::vector<std::string> TList;

// A program of the build started with arguments; ended when destroyed.
struct TProgram {
    PROCESS_INFORMATION process = {};
    TProgram(const std::string &name, const std::string &arguments)
    {
        std::string line = "\"" + ProgramDir() + name + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        EXPECT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) << line;
    }
    ~TProgram()
    {
        if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
};

// A folder as a quoted argument: without its trailing backslash, which would
// take the quote after it for part of the argument.
std::string Argument(const std::string &folder)
{
    return "\"" + (folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder) + "\"";
}

// The swapper, waiting for its moment; Strike() gives it and waits until it is
// done. Each has events of its own.
int Swappers = 0;
struct TSwapper : TProgram {
    std::string event;
    HANDLE go, done;
    TSwapper(const std::string &mode, const std::string &dir, const std::string &target,
             const std::string &name = Event())
        : TProgram("swapper.exe",
                   name + " " + mode + " " + Argument(dir) + " " + Argument(target) + " " + Argument(Away)),
          event(name), go(CreateEventA(NULL, TRUE, FALSE, name.c_str())),
          done(CreateEventA(NULL, TRUE, FALSE, (name + ".done").c_str()))
    {
    }
    static std::string Event() { return "dvq-attack-" + std::to_string(++Swappers); }
    void Strike()
    {
        SetEvent(go);
        EXPECT_EQ(WaitForSingleObject(done, 60000), WAIT_OBJECT_0);
    }
    ~TSwapper()
    {
        CloseHandle(go);
        CloseHandle(done);
    }
};

// Lets a holder started with the given event name go.
void EndHolder(const char *event)
{
    HANDLE end = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
    SetEvent(end);
    CloseHandle(end);
}

TSwapper *DuringTheWalk = NULL;

// Once the removal has deleted its first file inside a subdirectory, that is
// after it has listed the top and before it has entered the other ones.
void StrikeOnFirstDeletion()
{
    bool started = false;
    for (const char *dir : {"A\\", "B\\", "C\\", "D\\", "Data\\"})
        started = started || !FileExists(Install + dir + "file.txt");
    if (DuringTheWalk != NULL && started) {
        DuringTheWalk->Strike();
        DuringTheWalk = NULL;
    }
}

// Links go first, by their Unix names, so that nothing is deleted through them.
void RemoveLinks(const std::string &dir)
{
    std::string unixDir = UnixPath(dir);
    if (!unixDir.empty())
        RunUnix({"/usr/bin/find", unixDir, "-type", "l", "-delete"});
}

// What a run left in holding directories at the root of C:.
void RemoveHoldingDirectories()
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA("C:\\DVQRMV32-*", &entry);
    for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileA(listing, &entry))
        DeleteTree(std::string("C:\\") + entry.cFileName);
    FindClose(listing);
}

struct AttackTest : ::testing::Test {
    void SetUp() override
    {
        ClearPendingDeletions();
        RemoveHoldingDirectories();
        RemoveLinks(Top);
        FreshDir("attack");
        for (const std::string &tree : {Install, Victim, Elsewhere + "Solvarine\\"}) {
            for (const char *dir : {"A\\", "B\\", "C\\", "D\\", "Data\\"})
                MakeFile(tree + dir + "file.txt");
            MakeFile(tree + "DVQ32.EXE");
        }
        MakeFile(Victim + "Data\\Helper.exe");
        MakeDirs(Away);
        SetExePath((Install + "DVQ32.EXE").c_str());
    }
    void TearDown() override
    {
        AfterTreeDeletion = NULL;
        ClearPendingDeletions();
        SetExePath(NULL);
        RemoveLinks(Top);
        DeleteTree(Top);
        RemoveHoldingDirectories();
    }
};

TEST_F(AttackTest, NothingOutsideTheTreeIsDeletedWhateverIsSwappedWhen)
{
    enum TMoment { WhileTheTreeIsRemoved, BetweenTheBoxes, BeforeTheRestart };
    const struct {
        TMoment when;
        const char *mode;
        std::string dir, target;
        std::string box;
    } attacks[] = {
        // Every subdirectory not yet entered becomes a link once the first entry is
        // deleted: each is found not to be the directory listed, and stays.
        {WhileTheTreeIsRemoved, "subdirs", Install, Victim, NotAllRemoved(Install)},
        // The folder holding the installation becomes a link to a folder with a
        // directory of the same name (past the handle that keeps the installation
        // in place, which only a rename below the system gets by): the removal
        // finds another directory at its path and removes nothing.
        {BetweenTheBoxes, "replace", Top + "Apps", Elsewhere, NotAllRemoved(Install)},
        // A program in use waits for the restart in the holding directory; the
        // directory it came from becomes a link before the restart, to a folder
        // holding a file of the program's name.
        {BeforeTheRestart, "replace", Install + "Data", Victim + "Data", RemovedAtRestart},
    };
    for (const auto &attack : attacks) {
        SetUp();
        const TList victim = ListTree(Victim), elsewhere = ListTree(Elsewhere);
        std::unique_ptr<TProgram> holder;
        if (attack.when == BeforeTheRestart) {
            ASSERT_TRUE(CopyFileA((ProgramDir() + "holder.exe").c_str(), (Install + "Data\\Helper.exe").c_str(), FALSE));
            HANDLE held = CreateEventA(NULL, TRUE, FALSE, "dvq-attack-holder.held");
            holder.reset(new TProgram("holder.exe", "dvq-attack-holder -x \"" + Install + "Data\\Helper.exe\""));
            ASSERT_EQ(WaitForSingleObject(held, 30000), WAIT_OBJECT_0);
            CloseHandle(held);
        }
        TSwapper swapper(attack.mode, attack.dir, attack.target);
        TBoxScript script({"Yes", "Yes", "OK"});
        if (attack.when == WhileTheTreeIsRemoved) {
            DuringTheWalk = &swapper;
            AfterTreeDeletion = StrikeOnFirstDeletion;
        } else if (attack.when == BetweenTheBoxes) {
            script.beforeAnswer = [&](size_t box) {
                if (box == 2)
                    swapper.Strike();
            };
        }
        std::vector<TBox> boxes = RunUninstallHere(script);
        AfterTreeDeletion = NULL;
        ASSERT_EQ(boxes.size(), 3u) << attack.mode << DescribeBoxes(boxes);
        EXPECT_EQ(boxes[2].text, attack.box) << attack.mode;
        EXPECT_EQ(ListTree(Victim), victim) << attack.mode;
        EXPECT_EQ(ListTree(Elsewhere), elsewhere) << attack.mode;
        if (attack.when != BeforeTheRestart) {
            EXPECT_EQ(PendingDeletions(), TList{}) << attack.mode;
        } else {
            // Only the holding directory is named: the file in it, then itself.
            TList pending = PendingDeletions();
            ASSERT_EQ(pending.size(), 2u);
            EXPECT_EQ(pending[0].substr(0, 16), "\\??\\C:\\DVQRMV32-");
            EXPECT_EQ(pending[0], pending[1] + "\\1");
            EndHolder("dvq-attack-holder");  // the program ends...
            holder.reset();
            swapper.Strike();  // ...and its directory becomes a link
            RestartMachine();
            EXPECT_EQ(ListTree(Victim), victim);
            EXPECT_EQ(ListTree(Elsewhere), elsewhere);
            EXPECT_EQ(GetFileAttributesA(pending[1].substr(4).c_str()), INVALID_FILE_ATTRIBUTES);
        }
        TearDown();
    }
}

// Whether a descriptor lets anybody but administrators and the system change the
// folder. Wine keeps no descriptors of files: it shows one made from the Unix
// mode of the folder, the owner and Everyone among its entries, and the mode
// takes from a descriptor set only what it says of them. There the check is that
// Everyone may no longer change the folder; where descriptors are kept, it is
// the descriptor the run set.
void ExpectClosed(const std::string &folder)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PACL dacl = NULL;
    ASSERT_EQ(GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl,
                                    NULL, &descriptor),
              (DWORD)ERROR_SUCCESS)
        << folder;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    ASSERT_NE(dacl, nullptr) << folder;
    BYTE everyone[SECURITY_MAX_SID_SIZE], administrators[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE],
        ownerRights[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    CreateWellKnownSid(WinWorldSid, NULL, everyone, &size);
    size = sizeof administrators;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size);
    size = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, NULL, system, &size);
    size = sizeof ownerRights;
    CreateWellKnownSid(WinCreatorOwnerRightsSid, NULL, ownerRights, &size);
    const ACCESS_MASK changing = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | FILE_ADD_FILE |
                                 FILE_ADD_SUBDIRECTORY | GENERIC_ALL | GENERIC_WRITE;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = NULL;
        ASSERT_TRUE(GetAce(dacl, i, (void **)&ace));
        PSID sid = (PSID)&ace->SidStart;
        if (control & SE_DACL_PROTECTED) {
            EXPECT_FALSE(ace->Header.AceFlags & INHERITED_ACE) << folder;
            EXPECT_TRUE(EqualSid(sid, administrators) || EqualSid(sid, system) ||
                        (EqualSid(sid, ownerRights) && ace->Mask == READ_CONTROL))
                << folder;
        } else if (EqualSid(sid, everyone)) {
            EXPECT_EQ(ace->Mask & changing, 0u) << folder;
        }
    }
    LocalFree(descriptor);
}

// The installation's folders, open to everybody before, and the holding
// directory are closed to all but administrators and the system.
TEST_F(AttackTest, TheTreeAndTheHoldingDirectoryAreClosedToOthers)
{
    RunUnix({"/bin/chmod", "-R", "a+rwx", UnixPath(Install)});
    ASSERT_TRUE(CopyFileA((ProgramDir() + "holder.exe").c_str(), (Install + "Data\\Helper.exe").c_str(), FALSE));
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, "dvq-closed-holder.held");
    TProgram holder("holder.exe", "dvq-closed-holder \"" + Install + "Data\\file.txt\" -x \"" + Install +
                                      "Data\\Helper.exe\"");
    ASSERT_EQ(WaitForSingleObject(held, 30000), WAIT_OBJECT_0);
    CloseHandle(held);
    std::vector<TBox> boxes = RunUninstallHere({"Yes", "Yes", "OK"});
    ASSERT_EQ(boxes.size(), 3u) << DescribeBoxes(boxes);
    EXPECT_EQ(boxes[2].text, RemovedAtRestart);
    TList pending = PendingDeletions();
    ASSERT_EQ(pending.size(), 5u);  // the held file and its folders; the program in the holding directory
    ExpectClosed(Install);
    ExpectClosed(Install + "Data\\");
    ExpectClosed(pending.back().substr(4));
    EndHolder("dvq-closed-holder");
}

}  // namespace
