// How long the desktop shortcut removal takes on a desktop with 20 shortcuts to
// the client among 100 others, 20 of which point at targets that are not there.
// The reference lists the same desktop once, resolves every shortcut once and
// deletes those to the client: the least work that finds all of them. Both run on
// a freshly made desktop in every round; the best of the rounds counts.
// Makes and removes its shortcuts in the prefix's Desktop.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "common/entryname.h"
#include "common/scratch.h"
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int Others = 100;
const int Missing = 20;  // of the others
const int Clients = 20;
const int Rounds = 3;
const char ClientTarget[] = "C:\\Program Files\\Solvarine\\DVQ32.EXE";

char Desktop[MAX_PATH];

bool MakeShortcut(const char *name, const char *target)
{
    char link[MAX_PATH];
    WCHAR wideLink[MAX_PATH];
    wsprintfA(link, "%s\\%s", Desktop, name);
    MultiByteToWideChar(CP_ACP, 0, link, -1, wideLink, MAX_PATH);
    IShellLinkA *shellLink = NULL;
    IPersistFile *file = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&shellLink)))
        return false;
    shellLink->SetPath(target);
    bool saved = SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void **)&file)) &&
                 SUCCEEDED(file->Save(wideLink, TRUE));
    if (file != NULL)
        file->Release();
    shellLink->Release();
    return saved;
}

// The others first in name order, every fifth of them to a missing target, then
// the client's.
void MakeDesktop()
{
    char name[64], target[MAX_PATH];
    for (int i = 0; i < Others; i++) {
        wsprintfA(name, "a other %03d.lnk", i);
        if (i % (Others / Missing) == 0)
            wsprintfA(target, "C:\\dvqbench\\gone\\missing %03d.exe", i);
        else
            lstrcpyA(target, "C:\\windows\\notepad.exe");
        MakeShortcut(name, target);
    }
    for (int i = 0; i < Clients; i++) {
        wsprintfA(name, "z client %02d.lnk", i);
        MakeShortcut(name, ClientTarget);
    }
}

// Removes every shortcut left; returns how many there were.
int ClearDesktop()
{
    char pattern[MAX_PATH], link[MAX_PATH];
    wsprintfA(pattern, "%s\\*.lnk", Desktop);
    int left = 0;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    do {
        wsprintfA(link, "%s\\%s", Desktop, entry.cFileName);
        SetFileAttributesA(link, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(link);
        left++;
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return left;
}

// One listing, one resolution per shortcut, the client's deleted.
void ResolveEachOnce()
{
    char pattern[MAX_PATH], link[MAX_PATH], target[1020];
    char name[_MAX_FNAME], extension[_MAX_EXT], fileName[_MAX_FNAME + _MAX_EXT];
    wsprintfA(pattern, "%s\\*.lnk", Desktop);
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        wsprintfA(link, "%s\\%s", Desktop, entry.cFileName);
        ResolveShortcut(NULL, link, target);
        _splitpath(target, NULL, NULL, name, extension);
        _makepath(fileName, NULL, NULL, name, extension);
        if (_strcmpi(fileName, "DVQ32.EXE") == 0)
            ForceDeleteFile(link);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
}

// What the passes cost without resolving anything: as many listings as the
// removal makes, every entry's name looked up the way the removal looks it up.
void ListAsThePassesDo()
{
    char pattern[MAX_PATH], directory[MAX_PATH], name[MAX_PATH];
    wsprintfA(pattern, "%s\\*.lnk", Desktop);
    wsprintfA(directory, "%s\\", Desktop);
    for (int pass = 0; pass < Clients; pass++) {
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA(pattern, &entry);
        if (listing == INVALID_HANDLE_VALUE)
            continue;
        do
            GetReachableEntryName(directory, &entry, name, (int)sizeof name, NULL);
        while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
}

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

}  // namespace

int main()
{
    CoInitialize(NULL);
    InstallPathSize = WindowsPathSize = 1020;
    SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, NULL, 0, Desktop);
    ClearDesktop();
    const char *names[3] = {"RemoveDesktopShortcuts", "one listing, one resolve each", "20 listings, names only"};
    void (*const methods[3])() = {RemoveDesktopShortcuts, ResolveEachOnce, ListAsThePassesDo};
    double best[3] = {1e30, 1e30, 1e30};
    for (int round = 1; round <= Rounds; round++) {
        for (int m = 0; m < 3; m++) {
            MakeDesktop();
            ResetScratchCounters(0);
            double start = Now();
            methods[m]();
            double seconds = Now() - start;
            // Every resolution takes three scratch buffers; the removal five of its own.
            long resolutions = (ScratchCounters.Allocations - (m == 0 ? 5 : 0)) / 3;
            int left = ClearDesktop();
            int expected = m == 2 ? Others + Clients : Others;
            printf("round %d  %-30s %8.3f s  %5ld resolutions, %d shortcuts left%s\n", round, names[m], seconds,
                   resolutions, left, left == expected ? "" : " (not as expected)");
            if (seconds < best[m])
                best[m] = seconds;
        }
    }
    printf("best of %d rounds: %s %.3f s, %s %.3f s, %s %.3f s\n", Rounds, names[0], best[0], names[1], best[1],
           names[2], best[2]);
    // The row for the summary table of tools/bench.sh: what, method, seconds, against what, ratio.
    printf("row|%d client + %d other shortcuts (%d missing)|%s|%.3f|%s|%.2f\n", Clients, Others, Missing, names[0],
           best[0], names[1], best[0] / best[1]);
    CoUninitialize();
    return 0;
}
