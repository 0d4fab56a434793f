#include "removal/removal.h"

void DeleteClientProfileKey()
{
    WriteProfileStringA("DVQ", "ExePath", NULL);
}
