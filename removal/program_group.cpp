#include "removal/removal.h"

void RemoveProgramGroup()
{
}
