/* FreeXL includes this on Windows but does not call it. */
#ifndef SF6_WIN_LOCALCHARSET_H
#define SF6_WIN_LOCALCHARSET_H
#endif
