// Which name reaches a listed directory entry. The ANSI file API lists names
// converted from the file system's wide names: a character the code page lacks
// becomes "?", or by best fit a look-alike (an omega becomes "O"), so a listed
// name may name nothing or a sibling. A name is exact when the entry's wide name
// converts to the ANSI code page without any replacement or best fit, and it is
// plain (common/paths.h). No C run-time function is used here: the walker, which
// runs in callers whose start-up code of this module never ran, uses these.
#pragma once
#include <windows.h>

// The ANSI form of a wide name into out (outSize bytes) when it is exact and plain.
bool GetExactName(const WCHAR *name, char *out, int outSize);

// The name to reach a wide-listed entry by: its long name when that is exact, else
// its short name when that is; false when neither is ("." and ".." among them).
bool GetReachableName(const WIN32_FIND_DATAW *entry, char *out, int outSize);

// The same for an entry of an ANSI listing of directory (a full path, X:\ or
// \\server\share\, ending with a backslash). An ASCII long name with no short name
// is taken as it stands: a short name is made for every name that is not already
// one, so only an 8.3 name made of OEM characters that the ANSI code page lacks,
// or a look-alike on a volume that makes no short names, slips through here (and
// an ANSI listing cannot tell such an entry from its look-alike). Otherwise the entry is looked up in wide characters, by
// its short name when it has one. *wide, when not null, receives the wide entry
// looked up, or a zero cFileName when there was none.
bool GetReachableEntryName(const char *directory, const WIN32_FIND_DATAA *entry, char *out, int outSize,
                           WIN32_FIND_DATAW *wide);

// The verbatim form (\\?\X:\... or \\?\UNC\server\share\...) of directory, a full
// path ending with a backslash, followed by name (which may be null), into out
// (outSize characters). It reaches names the path rules would trim (a final dot
// or space). False when directory is not such a path or the whole does not fit.
bool GetVerbatimPath(const char *directory, const WCHAR *name, WCHAR *out, int outSize);
