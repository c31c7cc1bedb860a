/* A program's start for old C libraries. glibc 2.34's start-up file calls __libc_start_main at
   its new version and leaves the program's constructors to it; older C libraries have only the
   old version, which runs just the init function it is given. The start therefore goes (the link
   wraps __libc_start_main) to the old version with an init function of the program's own that
   runs its constructors, as the start-up files of the old C library did; newer C libraries run
   that function in place of their own walk of the same list. */
#include <stddef.h>

#if defined(__aarch64__)
#define RIDEL_OLD_START "GLIBC_2.17"
#elif defined(__x86_64__)
#define RIDEL_OLD_START "GLIBC_2.2.5"
#else
#error "no old __libc_start_main known for this architecture"
#endif

typedef int (*ridel_main_fn)(int, char**, char**);
int ridel_old_start_main(ridel_main_fn main, int argc, char** argv, void (*init)(int, char**, char**),
                         void (*fini)(void), void (*rtld_fini)(void), void* stack_end);
__asm__(".symver ridel_old_start_main,__libc_start_main@" RIDEL_OLD_START);

extern void (*__init_array_start[])(int, char**, char**) __attribute__((visibility("hidden")));
extern void (*__init_array_end[])(int, char**, char**) __attribute__((visibility("hidden")));
extern void _init(void);

/* The dynamic linker has run the pre-init list already; this is the rest, in order. */
static void ridel_run_constructors(int argc, char** argv, char** envp) {
  _init();
  const size_t count = (size_t)(__init_array_end - __init_array_start);
  for (size_t i = 0; i < count; ++i) __init_array_start[i](argc, argv, envp);
}

int __wrap___libc_start_main(ridel_main_fn main, int argc, char** argv,
                             void (*init)(int, char**, char**), void (*fini)(void),
                             void (*rtld_fini)(void), void* stack_end);
int __wrap___libc_start_main(ridel_main_fn main, int argc, char** argv,
                             void (*init)(int, char**, char**), void (*fini)(void),
                             void (*rtld_fini)(void), void* stack_end) {
  return ridel_old_start_main(main, argc, argv, init ? init : ridel_run_constructors, fini,
                              rtld_fini, stack_end);
}
