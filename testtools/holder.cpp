// Holds files open the way a running program holds what it uses: each named file
// is opened with no sharing at all, so that nobody else can delete or rename it,
// until the named event is signalled (or ten minutes have passed).
//
//   holder.exe EVENT [-r|-x] PATH...
//
// After -r the files are opened letting others read them (a shortcut that nobody
// can read cannot be told to be anyone's). After -x they are mapped as the image
// of a running program or a loaded module is (they must be programs): nobody can
// delete them, but they can be renamed.
// EVENT names the event that ends the holding (made here when the caller has
// not); once every file is open the holder signals the event EVENT.held and
// prints "held", so the caller knows when to go on. Ending the holder's process
// lets go of the files as well. Paths are read from the wide command line, so any name can be
// held. Exit code 0 when every file was held, 1 when
// one could not be opened, 2 on bad arguments.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int count = 0;
    wchar_t **wideArgv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argc < 3 || wideArgv == NULL || count != argc) {
        fprintf(stderr, "usage: holder EVENT PATH...\n");
        return 2;
    }
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, argv[1]);
    HANDLE held = CreateEventA(NULL, TRUE, FALSE, (std::string(argv[1]) + ".held").c_str());
    if (done == NULL || held == NULL) {
        fprintf(stderr, "holder: no event %s\n", argv[1]);
        return 2;
    }
    int status = 0;
    std::vector<HANDLE> files;
    DWORD sharing = 0;
    bool image = false;
    for (int i = 2; i < argc; i++) {
        if (wcscmp(wideArgv[i], L"-r") == 0 || wcscmp(wideArgv[i], L"-x") == 0) {
            image = wcscmp(wideArgv[i], L"-x") == 0;
            sharing = image ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
            continue;
        }
        HANDLE file = CreateFileW(wideArgv[i], GENERIC_READ | (image ? GENERIC_EXECUTE : 0), sharing, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE && image) {
            // The section keeps the image mapped once the file's handle is closed.
            HANDLE section = CreateFileMappingW(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
            CloseHandle(file);
            file = section != NULL && MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0) != NULL ? section
                                                                                            : INVALID_HANDLE_VALUE;
        }
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "holder: cannot open %ls (error %lu)\n", wideArgv[i], GetLastError());
            status = 1;
        } else {
            files.push_back(file);
        }
    }
    SetEvent(held);
    printf("held\n");
    fflush(stdout);
    WaitForSingleObject(done, 600000);
    for (HANDLE file : files)
        CloseHandle(file);
    CloseHandle(held);
    CloseHandle(done);
    LocalFree(wideArgv);
    return status;
}
