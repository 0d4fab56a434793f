// The message-box driver: waits for each message box of a program, records its
// caption, text, buttons and icon, and answers it from a script.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

struct TBox {
    std::string caption;
    std::string text;
    std::string buttons;  // "Yes|No", "OK", ...
    std::string icon;     // "none", "question", "stop", "warning", "information", or "shown" when not identifiable
    std::string answer;   // the button pressed
};

struct TBoxScript {
    std::vector<std::string> answers;  // "Yes", "No", "OK", taken in order
    std::vector<TBox> seen;
    // When not empty, an existing folder (with or without its trailing backslash)
    // where each box is saved, as it is on the screen before it is answered, as
    // box1.bmp, box2.bmp, ... in the order seen.
    std::string screenshots;
    // When set, called with the number of each box (1, 2, ...) once it has been
    // read and before it is answered.
    std::function<void(size_t)> beforeAnswer;

    TBoxScript() {}
    TBoxScript(const std::vector<std::string> &answerList, const std::vector<TBox> &seenBefore = {},
               const std::string &screenshotFolder = "")
        : answers(answerList), seen(seenBefore), screenshots(screenshotFolder)
    {
    }
};

// Answers the boxes of process processId until done is signalled or timeoutMs has
// passed. A box beyond the script is answered No (or OK), marked "(unscripted)".
// Returns false on time-out.
bool AnswerBoxes(DWORD processId, HANDLE done, TBoxScript &script, DWORD timeoutMs);

// Starts commandLine, answers its boxes, waits for it to end. Returns its exit
// code, or -1 when it could not start or did not end within timeoutMs (it is then
// terminated).
long RunWithBoxes(const std::string &commandLine, TBoxScript &script, DWORD timeoutMs = 60000);

// One line a box: caption, text (line breaks as \n), buttons, icon and answer.
std::string DescribeBoxes(const std::vector<TBox> &boxes);
