// Loading DVQRMV32.EXE into another program to call its export, as an outside
// caller does. LoadLibraryA maps an EXE like a DLL but never runs its start-up
// code. Windows applies its base relocations and binds its imports; Wine leaves an
// EXE loaded after start-up unrelocated and unbound, so the caller finishes the job
// over the PE headers: relocations only when the image sits away from its
// preferred base and still holds its unrelocated values (compared with the file
// on disk), imports only where the address table is still unbound.
#pragma once
#include <windows.h>
#include <string>

// Loads the module at path and makes it callable. Null on failure, with the
// module released and *error saying which step failed.
HMODULE LoadModuleForCall(const std::string &path, std::string *error);

// The path of a file beside the running program.
std::string BesideThisProgram(const char *name);
