#include "common/paths.h"
#include <windows.h>
#include <string.h>

bool IsAbsolutePath(const char *path)
{
    char letter = path[0] & ~0x20;
    return letter >= 'A' && letter <= 'Z' && path[1] == ':' && path[2] == '\\';
}

// The length of the plain name at path, up to the next backslash; 0 when there is
// no backslash or the name is not plain.
static size_t NameBeforeBackslash(const char *path)
{
    size_t length = 0;
    while (path[length] != '\0' && path[length] != '\\')
        length += IsDBCSLeadByte((BYTE)path[length]) && path[length + 1] != '\0' ? 2 : 1;
    return path[length] == '\\' && IsPlainName(path, length) ? length : 0;
}

size_t FullPathRootLength(const char *path)
{
    if (IsAbsolutePath(path))
        return 3;
    if (path[0] != '\\' || path[1] != '\\')
        return 0;
    size_t server = NameBeforeBackslash(path + 2);
    size_t share = server > 0 ? NameBeforeBackslash(path + 3 + server) : 0;
    return share > 0 ? 4 + server + share : 0;
}

// Copies the count bytes at from into out as a string; false when they do not fit.
static bool CopyPiece(char *out, size_t outSize, const char *from, size_t count)
{
    if (out == NULL)
        return true;
    if (count >= outSize) {
        if (outSize > 0)
            out[0] = '\0';
        return false;
    }
    memcpy(out, from, count);
    out[count] = '\0';
    return true;
}

bool SplitPath(const char *path, char *drive, size_t driveSize, char *dir, size_t dirSize,
               char *fname, size_t fnameSize, char *ext, size_t extSize)
{
    const char *rest = path;
    if (path[0] != '\0' && path[1] == ':')
        rest = path + 2;
    const char *nameStart = rest;
    const char *lastDot = NULL;
    for (const char *p = rest; *p != '\0'; p++) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') {
            p++;
            continue;
        }
        if (*p == '\\' || *p == '/') {
            nameStart = p + 1;
            lastDot = NULL;
        } else if (*p == '.') {
            lastDot = p;
        }
    }
    const char *end = rest + strlen(rest);
    const char *extStart = lastDot != NULL ? lastDot : end;
    bool ok = CopyPiece(drive, driveSize, path, rest - path);
    ok = CopyPiece(dir, dirSize, rest, nameStart - rest) && ok;
    ok = CopyPiece(fname, fnameSize, nameStart, extStart - nameStart) && ok;
    ok = CopyPiece(ext, extSize, extStart, end - extStart) && ok;
    if (!ok) {
        CopyPiece(drive, driveSize, "", 0);
        CopyPiece(dir, dirSize, "", 0);
        CopyPiece(fname, fnameSize, "", 0);
        CopyPiece(ext, extSize, "", 0);
    }
    return ok;
}

bool JoinPath(char *out, size_t outSize, const char *a, const char *b, const char *c, const char *d)
{
    if (outSize == 0)
        return false;
    const char *pieces[4] = {a, b, c, d};
    size_t used = 0;
    for (int i = 0; i < 4; i++) {
        if (pieces[i] == NULL)
            continue;
        size_t length = strlen(pieces[i]);
        if (length >= outSize - used) {
            out[0] = '\0';
            return false;
        }
        memcpy(out + used, pieces[i], length);
        used += length;
    }
    out[used] = '\0';
    return true;
}

bool IsPlainName(const char *name, size_t length)
{
    bool onlyDotsAndSpaces = true;
    bool trimmedEnd = false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (IsDBCSLeadByte(c) && i + 1 < length) {
            i++;
            onlyDotsAndSpaces = trimmedEnd = false;
            continue;
        }
        trimmedEnd = c == '.' || c == ' ';
        if (c < 32)
            return false;
        for (const char *bad = "\\/:*?\"<>|"; *bad != '\0'; bad++)
            if (c == (unsigned char)*bad)
                return false;
        if (c != '.' && c != ' ')
            onlyDotsAndSpaces = false;
    }
    return length > 0 && !onlyDotsAndSpaces && !trimmedEnd;
}
