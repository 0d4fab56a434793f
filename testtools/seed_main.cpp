// Seeds this (Wine) machine with a complete Solvarine client and its neighbours,
// lists them, or removes them.
// Usage: seed.exe install | inventory | clean
#include "testtools/seed.h"
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    // Lines end with a bare line feed, whatever reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    const char *command = argc == 2 ? argv[1] : "";
    if (strcmp(command, "install") == 0) {
        std::string error;
        if (!SeedInstall(&error)) {
            fprintf(stderr, "seed: %s\n", error.c_str());
            return 1;
        }
        printf("Solvarine and its neighbours are installed.\n");
        return 0;
    }
    if (strcmp(command, "inventory") == 0) {
        fputs(FormatInventory(Inventory()).c_str(), stdout);
        return 0;
    }
    if (strcmp(command, "clean") == 0) {
        SeedClean();
        printf("Solvarine and its neighbours are removed.\n");
        return 0;
    }
    fprintf(stderr, "usage: seed install | inventory | clean\n");
    return 2;
}
