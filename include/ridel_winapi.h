/* The calling convention of every export of the reader interface libraries, shared by the
 * editions' headers: stdcall on 32-bit Windows (where <windows.h>, included before, defines it
 * already), the platform's default elsewhere. */
#ifndef RIDEL_WINAPI_H
#define RIDEL_WINAPI_H

#ifndef WINAPI
#if defined(_WIN32)
#define WINAPI __stdcall
#else
#define WINAPI
#endif
#endif

#endif /* RIDEL_WINAPI_H */
