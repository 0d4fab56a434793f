#include "testtools/boxdriver.h"
#include <set>
#include <string.h>

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

// Writes the bitmap as a 24-bit BMP file.
bool WriteBitmap(HDC dc, HBITMAP bitmap, int width, int height, const std::string &path)
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files keep their rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD rowSize = ((DWORD)width * 3 + 3) & ~3u;
    std::vector<BYTE> pixels((size_t)rowSize * height);
    if (GetDIBits(dc, bitmap, 0, (UINT)height, pixels.data(), (BITMAPINFO *)&header, DIB_RGB_COLORS) != height)
        return false;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(out, &file, sizeof file, &written, NULL) && written == sizeof file &&
                 WriteFile(out, &header, sizeof header, &written, NULL) && written == sizeof header &&
                 WriteFile(out, pixels.data(), (DWORD)pixels.size(), &written, NULL) && written == pixels.size();
    CloseHandle(out);
    return whole;
}

// Saves what the screen shows of the box: the box belongs to another process, so
// it is copied from the screen, brought to the front and repainted first.
bool SaveScreenshot(HWND box, const std::string &path)
{
    SetForegroundWindow(box);
    RedrawWindow(box, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(200);
    RECT rect;
    if (!GetWindowRect(box, &rect))
        return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    SelectObject(memory, previous);
    bool saved = copied && WriteBitmap(memory, bitmap, width, height, path);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return saved;
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
        // Read as soon as it is visible (its text, buttons and icon are set before
        // it is shown); a picture waits for it to finish drawing.
        if (!script.screenshots.empty())
            Sleep(50);
        TBox box = ReadBox(search.found);
        if (!script.screenshots.empty()) {
            std::string folder = script.screenshots;
            if (folder.back() != '\\' && folder.back() != '/')
                folder += '\\';
            SaveScreenshot(search.found, folder + "box" + std::to_string(script.seen.size() + 1) + ".bmp");
        }
        if (next < script.answers.size()) {
            box.answer = script.answers[next++];
        } else {
            box.answer = box.buttons.find("No") != std::string::npos ? "No" : "OK";
            box.answer += " (unscripted)";
        }
        handled.insert(search.found);
        script.seen.push_back(box);
        if (script.beforeAnswer)
            script.beforeAnswer(script.seen.size());
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
