// Running the un-installer from a test: the real program, or its whole run inside
// the test process, where its message boxes are answered by a second thread so
// that icons can be identified and the scratch memory accounted for.
#pragma once
#include "testtools/boxdriver.h"

// Texts of the program's message boxes that take no arguments.
const char *const NotFound = "Solvarine was not found on this computer.";
const char *const Running = "You cannot run un-install while Solvarine is running.\n"
                            "Do you wish to shut Solvarine down and continue un-installing?";
const char *const Removed = "Solvarine has been removed from this computer.";
const char *const RemovedAtRestart = "Solvarine has been removed from this computer.  Some of its files are in use "
                                     "and will be removed when Windows restarts.";

// The last box when something could be neither deleted nor scheduled; directory
// is the installation directory with its trailing backslash.
std::string NotAllRemoved(const std::string &directory);

// The folder of the test program, where the un-installer and the test tools are
// built; with its trailing backslash.
std::string ProgramDir();

// The command line that starts the real un-installer, DVQRMV32.EXE.
std::string UninstallerCommand();

// Runs the un-installer's run with this program's string table and returns the
// boxes it showed, each answered from answers. Expects its exit code to be 0.
std::vector<TBox> RunUninstallHere(const std::vector<std::string> &answers);
// The same with a script of its own (its answers, and what is done before each).
std::vector<TBox> RunUninstallHere(TBoxScript &script);

// Starts the fake client: a process owning a window of the client's class, logging
// to a file whether it received WM_CLOSE. Returns the log's path.
std::string StartFakeClient();

// Ends the fake client and tells whether it received WM_CLOSE before. A message
// posted now is handled after any WM_CLOSE posted before it.
bool FakeClientWasClosed(const std::string &log);
