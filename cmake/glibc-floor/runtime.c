/* What the C++ runtime linked into a program or library (libstdc++'s archive, built against a new
   glibc) asks of the C library at versions that old C libraries lack: provided here, inside the
   module (hidden), on top of calls that every glibc has. */
#include <stddef.h>
#include <stdint.h>
#include <errno.h>
#include <sys/syscall.h>
#include <unistd.h>

#define RIDEL_HIDDEN __attribute__((visibility("hidden")))

#if defined(__aarch64__)
#define RIDEL_OLD "GLIBC_2.17"
#define RIDEL_STAT_VERSION 0
#elif defined(__x86_64__)
#define RIDEL_OLD "GLIBC_2.2.5"
#define RIDEL_STAT_VERSION 1
#else
#error "no old glibc versions known for this architecture"
#endif

/* The runtime's headers read this flag (glibc 2.32) to skip atomic operations when the process
   has one thread. This copy stays 0, "threads may exist": always the atomic path, right whatever
   the process does. */
RIDEL_HIDDEN char __libc_single_threaded = 0;

/* std::random_device (glibc 2.25 and 2.36): the kernel's random numbers. */
RIDEL_HIDDEN int getentropy(void* buffer, size_t length);
RIDEL_HIDDEN int getentropy(void* buffer, size_t length) {
  if (length > 256) {
    errno = EIO;
    return -1;
  }
  unsigned char* p = (unsigned char*)buffer;
  while (length > 0) {
    const long n = syscall(SYS_getrandom, p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    p += n;
    length -= (size_t)n;
  }
  return 0;
}

RIDEL_HIDDEN uint32_t arc4random(void);
RIDEL_HIDDEN uint32_t arc4random(void) {
  uint32_t value = 0;
  while (getentropy(&value, sizeof value) != 0) {
  }
  return value;
}

/* stat and its kin became functions of their own in glibc 2.33; before, the headers called these
   (which every glibc still has). The struct is the same on both architectures' 64-bit ABI. */
struct stat;
int ridel_old_xstat(int, const char*, struct stat*);
int ridel_old_lxstat(int, const char*, struct stat*);
int ridel_old_fxstat(int, int, struct stat*);
__asm__(".symver ridel_old_xstat,__xstat@" RIDEL_OLD);
__asm__(".symver ridel_old_lxstat,__lxstat@" RIDEL_OLD);
__asm__(".symver ridel_old_fxstat,__fxstat@" RIDEL_OLD);

RIDEL_HIDDEN int stat(const char* path, struct stat* st);
RIDEL_HIDDEN int stat(const char* path, struct stat* st) {
  return ridel_old_xstat(RIDEL_STAT_VERSION, path, st);
}
RIDEL_HIDDEN int stat64(const char* path, struct stat* st);
RIDEL_HIDDEN int stat64(const char* path, struct stat* st) { return stat(path, st); }
RIDEL_HIDDEN int lstat(const char* path, struct stat* st);
RIDEL_HIDDEN int lstat(const char* path, struct stat* st) {
  return ridel_old_lxstat(RIDEL_STAT_VERSION, path, st);
}
RIDEL_HIDDEN int lstat64(const char* path, struct stat* st);
RIDEL_HIDDEN int lstat64(const char* path, struct stat* st) { return lstat(path, st); }
RIDEL_HIDDEN int fstat(int fd, struct stat* st);
RIDEL_HIDDEN int fstat(int fd, struct stat* st) {
  return ridel_old_fxstat(RIDEL_STAT_VERSION, fd, st);
}
RIDEL_HIDDEN int fstat64(int fd, struct stat* st);
RIDEL_HIDDEN int fstat64(int fd, struct stat* st) { return fstat(fd, st); }
