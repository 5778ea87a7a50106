/* A small iconv for the Windows build of FreeXL: Debian ships no MinGW iconv,
 * and FreeXL only ever converts a whole string from a Windows code page (or
 * UTF-16LE) to UTF-8, which Windows itself can do. */
#ifndef SF6_WIN_ICONV_H
#define SF6_WIN_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* iconv_t;

/* tocode must be UTF-8; fromcode is ASCII, CPnnn, MacRoman or UTF-16LE. */
iconv_t iconv_open(const char* tocode, const char* fromcode);
/* Converts all of the input or nothing: E2BIG when the output would not fit,
 * EILSEQ for bytes that are not text in the code page, EINVAL for half a
 * UTF-16 unit. */
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
