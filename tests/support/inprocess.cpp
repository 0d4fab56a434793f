#include "tests/support/inprocess.h"
#include "flow/uninstall.h"
#include "tests/support/machine.h"
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
    return RunUninstallHere(script);
}

std::vector<TBox> RunUninstallHere(TBoxScript &script)
{
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

std::string StartFakeClient()
{
    std::string log = FreshDir("fakeclient") + "client.log";
    std::string line = "\"" + ProgramDir() + "fakeclient.exe\" " + log;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && FindWindowA("SolvarineMainWndClass", NULL) == NULL; i++)
        Sleep(20);
    EXPECT_NE(FindWindowA("SolvarineMainWndClass", NULL), nullptr);
    return log;
}

bool FakeClientWasClosed(const std::string &log)
{
    HWND window = FindWindowA("SolvarineMainWndClass", NULL);
    if (window != NULL)
        PostMessageA(window, WM_APP, 0, 0);
    for (int i = 0; i < 500 && FindWindowA("SolvarineMainWndClass", NULL) != NULL; i++)
        Sleep(20);
    EXPECT_EQ(FindWindowA("SolvarineMainWndClass", NULL), nullptr);
    return ReadWholeFile(log).find("WM_CLOSE") != std::string::npos;
}

std::string NotAllRemoved(const std::string &directory)
{
    return "Solvarine has been removed from this computer, but some of its files could not be removed.  "
           "You can delete what is left in " + directory + " yourself.";
}
