#include "removal/removal.h"

int RemoveTreeEntry(const char *, WIN32_FIND_DATAA *, void *)
{
    return 1;
}

void RemoveDirectoryTree(const char *)
{
}
