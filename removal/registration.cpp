#include "removal/removal.h"

void RemoveRegistration()
{
}
