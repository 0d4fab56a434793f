// Path pieces. Paths are byte strings in the ANSI code page; a directory handed
// from one step to another ends with a backslash. Every function here is bounded:
// a piece that does not fit its buffer makes the call fail, with the output empty,
// and is never truncated.
#pragma once
#include <stddef.h>

// A drive letter, a colon and a backslash at the start: the only form that no
// current drive or directory can change the meaning of.
bool IsAbsolutePath(const char *path);

// The length of a full path's root: 3 for "X:\", the length of "\\server\share\"
// for a share (server and share plain names); 0 for any other path, among them
// the device forms "\\?\" and "\\.\".
size_t FullPathRootLength(const char *path);

// Splits like _splitpath: drive is the letter and colon at the start (or empty),
// dir runs to the last backslash or slash inclusive, fname to the last dot, ext
// from that dot. Any output may be null. Lead bytes of the ANSI code page are
// honoured, so a trail byte is never taken for a separator.
bool SplitPath(const char *path, char *drive, size_t driveSize, char *dir, size_t dirSize,
               char *fname, size_t fnameSize, char *ext, size_t extSize);

// Joins up to four pieces in order (null pieces are skipped) into out.
bool JoinPath(char *out, size_t outSize, const char *a, const char *b,
              const char *c = NULL, const char *d = NULL);

// True when the length bytes at name are one name that the file API takes as it
// stands: not empty, no separator, wildcard, colon, quote, angle bracket, bar or
// control character, not made only of dots and spaces (".", ".." and "..." would
// name the directory itself or one above it), and not ending with a dot or a
// space (the API trims them, and would name another entry). The ANSI conversion of a
// listing can turn characters of other scripts into "?" or, by best fit, into
// "\" or "."; such names fail here.
bool IsPlainName(const char *name, size_t length);
