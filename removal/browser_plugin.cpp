#include "removal/removal.h"

void RemoveBrowserPlugin()
{
}
