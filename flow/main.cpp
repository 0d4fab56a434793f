#include "flow/uninstall.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunUninstall(instance);
}
