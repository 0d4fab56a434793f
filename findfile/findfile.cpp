#include "findfile/findfile.h"

int __cdecl FindFile(int, char *[], TFindFileResultBlock *, TFindFileCallback, void *)
{
    return 0;
}
