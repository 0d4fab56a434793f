#include "testtools/boxdriver.h"
#include <set>

namespace {

const int IconControl = 0x0440;   // the message box's icon (stc1)
const int TextControl = 0xFFFF;   // the message box's text

struct TButtonName { int id; const char *name; };
const TButtonName ButtonNames[] = {
    {IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDABORT, "Abort"}, {IDRETRY, "Retry"},
    {IDIGNORE, "Ignore"}, {IDYES, "Yes"}, {IDNO, "No"},
};

struct TSearch {
    DWORD processId;
    std::set<HWND> *handled;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    TSearch *search = (TSearch *)param;
    DWORD owner = 0;
    char className[32];
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) &&
        GetClassNameA(window, className, sizeof className) && strcmp(className, "#32770") == 0 &&
        search->handled->count(window) == 0 && GetDlgItem(window, TextControl) != NULL) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    GetWindowTextA(window, &text[0], length + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

std::string IconName(HWND box)
{
    HWND control = GetDlgItem(box, IconControl);
    if (control == NULL || !IsWindowVisible(control))
        return "none";
    HICON icon = (HICON)SendMessageA(control, STM_GETICON, 0, 0);
    if (icon == NULL)
        return "none";
    // Icon handles can be compared only inside the process that loaded them.
    const struct { LPCSTR id; const char *name; } known[] = {
        {IDI_QUESTION, "question"}, {IDI_HAND, "stop"},
        {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
    };
    for (const auto &k : known)
        if (LoadIconA(NULL, k.id) == icon)
            return k.name;
    return "shown";
}

TBox ReadBox(HWND box)
{
    TBox record;
    record.caption = WindowText(box);
    record.text = WindowText(GetDlgItem(box, TextControl));
    for (const TButtonName &b : ButtonNames) {
        HWND button = GetDlgItem(box, b.id);
        if (button != NULL && IsWindowVisible(button))
            record.buttons += (record.buttons.empty() ? "" : "|") + std::string(b.name);
    }
    record.icon = IconName(box);
    return record;
}

int ButtonId(const std::string &name)
{
    for (const TButtonName &b : ButtonNames)
        if (name == b.name)
            return b.id;
    return 0;
}

}  // namespace

bool AnswerBoxes(DWORD processId, HANDLE done, TBoxScript &script, DWORD timeoutMs)
{
    std::set<HWND> handled;
    DWORD start = GetTickCount();
    size_t next = 0;
    while (WaitForSingleObject(done, 20) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        TSearch search = {processId, &handled, NULL};
        EnumWindows(FindBox, (LPARAM)&search);
        if (search.found == NULL)
            continue;
        Sleep(50);  // let the box finish drawing before it is read
        TBox box = ReadBox(search.found);
        if (next < script.answers.size()) {
            box.answer = script.answers[next++];
        } else {
            box.answer = box.buttons.find("No") != std::string::npos ? "No" : "OK";
            box.answer += " (unscripted)";
        }
        handled.insert(search.found);
        script.seen.push_back(box);
        PostMessageA(search.found, WM_COMMAND, ButtonId(box.answer.substr(0, box.answer.find(' '))), 0);
    }
    return true;
}

long RunWithBoxes(const std::string &commandLine, TBoxScript &script, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    long code = -1;
    if (AnswerBoxes(process.dwProcessId, process.hProcess, script, timeoutMs)) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = (long)exitCode;
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string DescribeBoxes(const std::vector<TBox> &boxes)
{
    std::string out;
    for (const TBox &box : boxes) {
        std::string text;
        for (char c : box.text)
            text += c == '\n' ? std::string("\\n") : c == '\r' ? std::string() : std::string(1, c);
        out += "[" + box.caption + "] " + text + "  {" + box.buttons + ", icon " + box.icon +
               "} -> " + box.answer + "\n";
    }
    return out;
}
