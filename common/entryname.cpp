#include "common/entryname.h"
#include "common/paths.h"

bool GetExactName(const WCHAR *name, char *out, int outSize)
{
    BOOL usedDefault = FALSE;
    // A UTF-8 code page has no default character and no best fit; everything but
    // a broken surrogate converts exactly.
    bool utf8 = GetACP() == CP_UTF8;
    int length = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, name, -1, out,
                                     outSize, NULL, utf8 ? NULL : &usedDefault);
    return length > 1 && !usedDefault && IsPlainName(out, (size_t)(length - 1));
}

bool GetReachableName(const WIN32_FIND_DATAW *entry, char *out, int outSize)
{
    return GetExactName(entry->cFileName, out, outSize) ||
           (entry->cAlternateFileName[0] != 0 && GetExactName(entry->cAlternateFileName, out, outSize));
}

// Appends text to out (outSize characters, *used taken); false when it does not fit.
static bool AppendWide(WCHAR *out, int outSize, int *used, const WCHAR *text)
{
    for (; *text != 0; text++) {
        if (*used >= outSize - 1)
            return false;
        out[(*used)++] = *text;
    }
    out[*used] = 0;
    return true;
}

bool GetVerbatimPath(const char *directory, const WCHAR *name, WCHAR *out, int outSize)
{
    bool unc = directory[0] == '\\' && directory[1] == '\\';
    if (!unc && !IsAbsolutePath(directory))
        return false;
    int used = 0;
    if (!AppendWide(out, outSize, &used, unc ? L"\\\\?\\UNC" : L"\\\\?\\"))
        return false;
    // "\\server\..." continues "\\?\UNC" from its second backslash.
    int converted = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, unc ? directory + 1 : directory, -1,
                                        out + used, outSize - used);
    if (converted <= 0)
        return false;
    used += converted - 1;
    return name == NULL || AppendWide(out, outSize, &used, name);
}

// The length of the string in a fixed field of capacity bytes; capacity when the
// field holds no terminator.
static int FieldLength(const char *field, int capacity)
{
    int length = 0;
    while (length < capacity && field[length] != '\0')
        length++;
    return length;
}

static bool IsAscii(const char *name, int length)
{
    for (int i = 0; i < length; i++)
        if ((unsigned char)name[i] >= 0x80)
            return false;
    return true;
}

bool GetReachableEntryName(const char *directory, const WIN32_FIND_DATAA *entry, char *out, int outSize,
                           WIN32_FIND_DATAW *wide)
{
    if (wide != NULL)
        wide->cFileName[0] = 0;
    int longLength = FieldLength(entry->cFileName, (int)sizeof entry->cFileName);
    int shortLength = FieldLength(entry->cAlternateFileName, (int)sizeof entry->cAlternateFileName);
    if (longLength >= (int)sizeof entry->cFileName || shortLength >= (int)sizeof entry->cAlternateFileName)
        return false;
    // An ASCII name without a short name is taken as listed (see the header).
    if (shortLength == 0 && IsAscii(entry->cFileName, longLength) && IsPlainName(entry->cFileName, longLength)) {
        if (longLength >= outSize)
            return false;
        for (int i = 0; i <= longLength; i++)
            out[i] = entry->cFileName[i];
        return true;
    }
    // A key ending with dots or spaces is looked up by the verbatim form, which
    // keeps them.
    const char *key = shortLength > 0 ? entry->cAlternateFileName : entry->cFileName;
    int keyLength = shortLength > 0 ? shortLength : longLength;
    int trimmed = keyLength;
    while (trimmed > 0 && (key[trimmed - 1] == '.' || key[trimmed - 1] == ' '))
        trimmed--;
    WCHAR wideKey[MAX_PATH];
    WCHAR path[MAX_PATH + 16];
    const int pathSize = (int)(sizeof path / sizeof path[0]);
    if (!IsPlainName(key, (size_t)trimmed) ||
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, key, -1, wideKey, MAX_PATH) <= 0)
        return false;
    if (trimmed < keyLength) {
        if (!GetVerbatimPath(directory, wideKey, path, pathSize))
            return false;
    } else {
        int used = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, directory, -1, path, pathSize) - 1;
        if (used < 0 || !AppendWide(path, pathSize, &used, wideKey))
            return false;
    }
    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileW(path, &found);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    FindClose(listing);
    if (wide != NULL)
        *wide = found;
    return GetReachableName(&found, out, outSize);
}
