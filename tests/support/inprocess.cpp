#include "tests/support/inprocess.h"
#include "flow/uninstall.h"
#include <gtest/gtest.h>

namespace {

struct TDriver {
    TBoxScript *script;
    HANDLE done;
};

DWORD WINAPI DriveBoxes(void *param)
{
    TDriver *driver = (TDriver *)param;
    return AnswerBoxes(GetCurrentProcessId(), driver->done, *driver->script, 60000) ? 0 : 1;
}

}  // namespace

std::string ProgramDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\') + 1);
}

std::string UninstallerCommand()
{
    return "\"" + ProgramDir() + "DVQRMV32.EXE\"";
}

std::vector<TBox> RunUninstallHere(const std::vector<std::string> &answers)
{
    TBoxScript script;
    script.answers = answers;
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    TDriver driver = {&script, done};
    HANDLE thread = CreateThread(NULL, 0, DriveBoxes, &driver, 0, NULL);
    EXPECT_EQ(RunUninstall(GetModuleHandleA(NULL)), 0);
    SetEvent(done);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(done);
    return script.seen;
}
