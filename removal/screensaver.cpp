#include "removal/removal.h"

void RemoveScreenSaver()
{
}
