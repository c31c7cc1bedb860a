/* One public header on its own (HEADER), compiled as C89 with warnings as errors. */
#include HEADER

/* The calling convention is defined by every header that declares exports, and on 32-bit Windows
 * it is stdcall: a function of this type cannot take a cdecl function's address. */
#ifdef WINAPI
typedef int(WINAPI* entry_point)(int);
int WINAPI stdcall_entry(int value);
int WINAPI stdcall_entry(int value) { return value; }
entry_point the_entry(void);
entry_point the_entry(void) { return stdcall_entry; }
#if defined(_WIN32) && defined(_M_IX86)
/* A cdecl function here would be an incompatible pointer: an error with -Werror. */
int(__stdcall* const as_stdcall)(int) = stdcall_entry;
#endif
#elif !defined(RIDEL_VERSION_H)
#error "the header declares exports without a calling convention"
#endif

int header_alone_compiles(void);
int header_alone_compiles(void) { return 0; }
