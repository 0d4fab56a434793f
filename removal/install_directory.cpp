#include "removal/removal.h"

void RemoveInstallDirectory()
{
}
