#include "removal/removal.h"

void DeleteClientProfileKey()
{
}
