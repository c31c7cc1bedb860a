/* ridel.dll, QDX edition: opens the card reader's port, authenticates the identity card on it and
 * writes what it reads into result files in the folder of the application's executable (not
 * the library's, nor the working folder), replacing files of the same names:
 *
 *   mode 1  wz.txt (raw text record), xp.wlt and zp.wlt (raw photo), zp.bmp (decoded photo)
 *   mode 2  wz.txt (raw text record), xp.wlt (raw photo)
 *   mode 3  NEWADDR.txt (raw appended address; empty when the card has none)
 *   mode 4  wz.txt (eight text lines, CR LF), zp.wlt (raw photo), zp.bmp (decoded photo)
 *   mode 5  IINSNDN.bin (28 bytes of management information)
 *   mode 6  <SAM>.txt, <SAM>.wlt and <SAM>.bmp as in mode 4, named after the reader's SAM number
 *           (the fourth group of its SAM ID, read by the first successful InitComm)
 *
 * A mode that fails leaves the files it wrote before the failure and does not touch the others.
 * When the executable's folder is longer than 260 characters, no result file is written.
 *
 * Text: the card's fields are converted to the system's ANSI code page (GBK, code page 936, on
 * Chinese Windows; always GBK on Linux). On a Windows with another ANSI code page every character
 * that code page lacks becomes '?', while the words the library adds itself (the sex, the nation
 * names, the date's year, month and day) are GBK bytes whatever the code page.
 *
 * Call from one thread at a time: InitComm, Authenticate, Read_Content, ..., CloseComm. The QDX_
 * and TC_ names are the same functions under other names. */
#ifndef RIDEL_QDX_H
#define RIDEL_QDX_H

#include "ridel_version.h"
#include "ridel_winapi.h"

/* The version of this library, the project's: "MAJOR.MINOR.PATCH" and a number for comparisons
 * in the preprocessor (MAJOR * 10000 + MINOR * 100 + PATCH). */
#define RIDEL_QDX_VERSION RIDEL_VERSION_STRING
#define RIDEL_QDX_VERSION_NUMBER RIDEL_VERSION_NUMBER

/* Marks the declarations below; the library itself defines it to export them. */
#ifndef RIDEL_QDX_API
#define RIDEL_QDX_API
#endif

/* Results: every function but QDX_Ant returns one of these two. */
#define RIDEL_QDX_OK 1
#define RIDEL_QDX_FAILED 0

/* Content modes of Read_Content (see above). */
#define RIDEL_QDX_CONTENT_RAW_WITH_BITMAP 1
#define RIDEL_QDX_CONTENT_RAW 2
#define RIDEL_QDX_CONTENT_APPENDED_ADDRESS 3
#define RIDEL_QDX_CONTENT_TEXT 4
#define RIDEL_QDX_CONTENT_MANAGEMENT_INFO 5
#define RIDEL_QDX_CONTENT_SAM_FILES 6

/* Buffer sizes in bytes. */
#define RIDEL_QDX_TEXT_RECORD_BYTES 256  /* QDX_ReadBaseMsg's text record */
#define RIDEL_QDX_PHOTO_RECORD_BYTES 1024 /* QDX_ReadBaseMsg's photo record */
#define RIDEL_QDX_VERSION_TEXT_BYTES 40   /* QDX_GetDllVersion's text, zero-padded */

#ifdef __cplusplus
extern "C" {
#endif

/* 1: the port is open and the reader's SAM answers; 0: failed (a port that opened stays open). */
RIDEL_QDX_API int WINAPI InitComm(int port);
RIDEL_QDX_API int WINAPI QDX_InitComm(int port);
RIDEL_QDX_API int WINAPI TC_InitComm(int port);

/* 1: the port is closed; 0: failed, or no port was ever opened. */
RIDEL_QDX_API int WINAPI CloseComm(void);
RIDEL_QDX_API int WINAPI QDX_CloseComm(void);
RIDEL_QDX_API int WINAPI TC_CloseComm(void);

/* 1: a card was found and selected; 0: failed, or no port was ever opened. */
RIDEL_QDX_API int WINAPI Authenticate(void);
RIDEL_QDX_API int WINAPI QDX_Authenticate(void);
RIDEL_QDX_API int WINAPI TC_Authenticate(void);

/* 1: the files of content mode `mode` (1 to 6, see above) are written and, in modes 1, 4 and 6,
 * the photo decoded; 0: failed, no port was ever opened, or an unknown mode. */
RIDEL_QDX_API int WINAPI Read_Content(int mode);
RIDEL_QDX_API int WINAPI QDX_Read_Content(int mode);
RIDEL_QDX_API int WINAPI TC_Read_Content(int mode);
/* Read_Content(mode); `unused` is ignored and the files go to the same folder. */
RIDEL_QDX_API int WINAPI TC_Read_Content_Path(int mode, int unused);

/* The low byte (0 to 255) of the driver's ANT answer for `value`, the port closed around the
 * call and opened again; 0 when no port was ever opened or the port is not a serial port 1 to
 * 999. */
RIDEL_QDX_API int WINAPI QDX_Ant(int value);

/* 1: the card's text record is in `text` (RIDEL_QDX_TEXT_RECORD_BYTES, UCS-2 as on the card) and
 * its photo record in `photo` (RIDEL_QDX_PHOTO_RECORD_BYTES); 0: failed, nothing written. The
 * three int arguments are ignored. */
RIDEL_QDX_API int WINAPI QDX_ReadBaseMsg(unsigned char* text, int unused1, unsigned char* photo,
                                         int unused2, int unused3);

/* 1: the library's version text, RIDEL_QDX_VERSION_TEXT_BYTES bytes zero-padded, is in
 * `version`; 0: `version` is null. */
RIDEL_QDX_API int WINAPI QDX_GetDllVersion(char* version);

#ifdef __cplusplus
}
#endif

#endif /* RIDEL_QDX_H */
