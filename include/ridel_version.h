/* The version of this release of the reader interface libraries, shared by the three editions'
 * headers (each names it as its own version macro) and by the build, which reads it from here:
 * every binary's version information, the Linux library versions and `idcard --version` carry
 * this one number. */
#ifndef RIDEL_VERSION_H
#define RIDEL_VERSION_H

#define RIDEL_VERSION_MAJOR 1
#define RIDEL_VERSION_MINOR 1
#define RIDEL_VERSION_PATCH 0

/* "MAJOR.MINOR.PATCH", made from the three numbers above */
#define RIDEL_VERSION_TEXT_(major, minor, patch) #major "." #minor "." #patch
#define RIDEL_VERSION_TEXT(major, minor, patch) RIDEL_VERSION_TEXT_(major, minor, patch)
#define RIDEL_VERSION_STRING \
  RIDEL_VERSION_TEXT(RIDEL_VERSION_MAJOR, RIDEL_VERSION_MINOR, RIDEL_VERSION_PATCH)
/* For comparisons in the preprocessor: MAJOR * 10000 + MINOR * 100 + PATCH */
#define RIDEL_VERSION_NUMBER \
  (RIDEL_VERSION_MAJOR * 10000 + RIDEL_VERSION_MINOR * 100 + RIDEL_VERSION_PATCH)

#endif /* RIDEL_VERSION_H */
