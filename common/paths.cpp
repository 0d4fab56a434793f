#include "common/paths.h"
#include <windows.h>
#include <string.h>

bool IsAbsolutePath(const char *path)
{
    char letter = path[0] & ~0x20;
    return letter >= 'A' && letter <= 'Z' && path[1] == ':' && path[2] == '\\';
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
    const char *pieces[4] = {a, b, c, d};
    size_t used = 0;
    for (int i = 0; i < 4; i++) {
        if (pieces[i] == NULL)
            continue;
        size_t length = strlen(pieces[i]);
        if (length >= outSize - used) {
            if (outSize > 0)
                out[0] = '\0';
            return false;
        }
        memcpy(out + used, pieces[i], length);
        used += length;
    }
    if (outSize == 0)
        return false;
    out[used] = '\0';
    return true;
}

bool IsPlainName(const char *name, size_t length)
{
    bool onlyDotsAndSpaces = true;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (IsDBCSLeadByte(c) && i + 1 < length) {
            i++;
            onlyDotsAndSpaces = false;
            continue;
        }
        if (c < 32)
            return false;
        for (const char *bad = "\\/:*?\"<>|"; *bad != '\0'; bad++)
            if (c == (unsigned char)*bad)
                return false;
        if (c != '.' && c != ' ')
            onlyDotsAndSpaces = false;
    }
    return length > 0 && !onlyDotsAndSpaces;
}

// The length of the string in a fixed field of capacity bytes; capacity when the
// field holds no terminator.
static size_t FieldLength(const char *field, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && field[length] != '\0')
        length++;
    return length;
}

const char *EntryName(const WIN32_FIND_DATAA *entry)
{
    size_t length = FieldLength(entry->cFileName, sizeof entry->cFileName);
    if (length < sizeof entry->cFileName && IsPlainName(entry->cFileName, length))
        return entry->cFileName;
    length = FieldLength(entry->cAlternateFileName, sizeof entry->cAlternateFileName);
    if (length < sizeof entry->cAlternateFileName && IsPlainName(entry->cAlternateFileName, length))
        return entry->cAlternateFileName;
    return NULL;
}
