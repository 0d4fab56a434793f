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

THeldFiles::THeldFiles(const std::vector<std::string> &paths) : done(NULL), process(NULL)
{
    static int count = 0;
    std::string name = "DvqHolder" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    done = CreateEventA(NULL, TRUE, FALSE, name.c_str());
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, (name + ".held").c_str());
    const std::string program = ProgramDir() + "holder.exe";
    std::wstring line = L"\"" + std::wstring(program.begin(), program.end()) + L"\" " +
                        std::wstring(name.begin(), name.end());
    for (const std::string &path : paths) {
        if (path == "-r") {
            line += L" -r";
            continue;
        }
        int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, NULL, 0);
        std::wstring wide(length, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], length);
        wide.resize(length - 1);
        line += L" \"" + wide + L"\"";
    }
    // Wide, so that names outside the ANSI code page reach the holder whole.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    EXPECT_TRUE(CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info));
    CloseHandle(info.hThread);
    process = info.hProcess;
    HANDLE waits[2] = {held, process};
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0) << "the holder did not hold";
    CloseHandle(held);
}

void THeldFiles::Release()
{
    if (done != NULL)
        SetEvent(done);
    if (process != NULL) {
        EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(code, 0u) << "the holder could not open every file";
        CloseHandle(process);
    }
    if (done != NULL)
        CloseHandle(done);
    done = process = NULL;
}
