// A stand-in for the running client: owns a top-level window of the client's
// class and records in a file whether it received WM_CLOSE.
// Usage: fakeclient.exe LOGFILE. A posted WM_APP ends it without closing; it also
// ends by itself after two minutes.
#include <windows.h>
#include <stdio.h>

static const char *LogPath;

static void Record(const char *line)
{
    FILE *log = fopen(LogPath, "a");
    if (log != NULL) {
        fprintf(log, "%s\n", line);
        fclose(log);
    }
}

static LRESULT CALLBACK ClientWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        Record("WM_CLOSE");
        DestroyWindow(window);
        return 0;
    case WM_APP:
    case WM_TIMER:
        Record("ended");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    LogPath = commandLine;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ClientWindow;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "SolvarineMainWndClass";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowA("SolvarineMainWndClass", "Solvarine", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                NULL, NULL, instance, NULL);
    if (window == NULL)
        return 1;
    Record("started");
    SetTimer(window, 1, 120000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
