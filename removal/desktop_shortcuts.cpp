#include "removal/removal.h"

void RemoveDesktopShortcuts()
{
}

HRESULT ResolveShortcut(HWND, const char *, char *targetPath)
{
    targetPath[0] = '\0';
    return E_NOTIMPL;
}
