#include "iconv.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define UTF16LE_CODE_PAGE 1200u

struct converter {
    UINT codePage;
};

static UINT codePageOf(const char* name)
{
    if (_stricmp(name, "UTF-16LE") == 0)
        return UTF16LE_CODE_PAGE;
    if (_stricmp(name, "ASCII") == 0)
        return 20127u;
    if (_stricmp(name, "MacRoman") == 0)
        return 10000u;
    if (_strnicmp(name, "CP", 2) == 0 && name[2] >= '1' && name[2] <= '9') {
        char* end = NULL;
        const unsigned long page = strtoul(name + 2, &end, 10);
        if (*end == '\0' && page <= 65535ul && IsValidCodePage((UINT)page))
            return (UINT)page;
    }
    return 0;
}

iconv_t iconv_open(const char* tocode, const char* fromcode)
{
    const UINT page = codePageOf(fromcode);
    struct converter* c;
    if (_stricmp(tocode, "UTF-8") != 0 || page == 0) {
        errno = EINVAL;
        return (iconv_t)-1;
    }
    c = (struct converter*)malloc(sizeof *c);
    if (!c) {
        errno = ENOMEM;
        return (iconv_t)-1;
    }
    c->codePage = page;
    return c;
}

int iconv_close(iconv_t cd)
{
    free(cd);
    return 0;
}

/* The input as UTF-16 in a new buffer; NULL with errno set when it is not text. */
static wchar_t* toWide(UINT page, const char* in, size_t size, int* units)
{
    wchar_t* wide;
    int n;
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (page == UTF16LE_CODE_PAGE) {
        if (size % 2 != 0 || size / 2 > INT_MAX) {
            errno = EINVAL;
            return NULL;
        }
        wide = (wchar_t*)malloc(size + sizeof(wchar_t));
        if (!wide) {
            errno = ENOMEM;
            return NULL;
        }
        memcpy(wide, in, size);
        *units = (int)(size / 2);
        return wide;
    }
    if (size > INT_MAX) {
        errno = E2BIG;
        return NULL;
    }
    n = MultiByteToWideChar(page, flags, in, (int)size, NULL, 0);
    if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        /* Some code pages take no flags. */
        flags = 0;
        n = MultiByteToWideChar(page, flags, in, (int)size, NULL, 0);
    }
    if (n == 0) {
        errno = EILSEQ;
        return NULL;
    }
    wide = (wchar_t*)malloc(((size_t)n + 1) * sizeof(wchar_t));
    if (!wide) {
        errno = ENOMEM;
        return NULL;
    }
    MultiByteToWideChar(page, flags, in, (int)size, wide, n);
    *units = n;
    return wide;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft)
{
    const struct converter* c = (const struct converter*)cd;
    wchar_t* wide;
    int units = 0;
    int bytes;
    if (!inbuf || !*inbuf || *inbytesleft == 0)
        return 0; /* stateless: nothing to reset or flush */
    wide = toWide(c->codePage, *inbuf, *inbytesleft, &units);
    if (!wide)
        return (size_t)-1;
    bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, NULL, 0, NULL, NULL);
    if (bytes == 0) {
        free(wide);
        errno = EILSEQ;
        return (size_t)-1;
    }
    if ((size_t)bytes > *outbytesleft) {
        free(wide);
        errno = E2BIG;
        return (size_t)-1;
    }
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, *outbuf, bytes, NULL, NULL);
    free(wide);
    *inbuf += *inbytesleft;
    *inbytesleft = 0;
    *outbuf += bytes;
    *outbytesleft -= (size_t)bytes;
    return 0;
}
