/* The vantrel identity card reader interface library (vantrel.dll, deployed and loaded under the
 * file name ridel.dll; libvantrel.so on Linux). It opens the reader's port, authenticates the card
 * on it, reads the card into result files in the folder of the application's executable (not the
 * library's, nor the working folder), replacing files of the same names, and keeps the last
 * card's fields for the getters:
 *
 *   mode 1  WZ.txt (raw text record), XP.wlt and ZP.wlt (raw photo), ZP.bmp (decoded photo);
 *           fills the fields, the bitmap and the appended address of the getters
 *   mode 2  WZ.txt, XP.wlt
 *   mode 3  NEWADD.txt (raw appended-address message; empty when the card has none)
 *   mode 5  IINSNDN.Bin (28 bytes of management information)
 *
 * A Read_Content that returns 0 while a port is open empties the field store.
 *
 * Text: the card's fields are converted to the system's ANSI code page (GBK, code page 936, on
 * Chinese Windows; always GBK on Linux). On a Windows with another ANSI code page every character
 * that code page lacks becomes '?'. The sex and nation names come from the library's own string
 * table, converted the same way.
 *
 * Getters: each zeroes the first `size` bytes of `buffer`, copies the value without a terminator
 * and returns its length in bytes, or 0 when it did not fit whole or there was nothing to copy.
 * Values keep the blanks that pad them on the card: a name of 3 Chinese characters gives 18 bytes
 * (6 bytes of text and 12 blanks). Dates are YYYYMMDD. A buffer one byte longer than the largest
 * value below keeps a zero byte after any value.
 *
 * Errors: every failure adds one line (result code, step, message, local time) to the hidden text
 * file idcrerror.log beside the library (the module loaded as ridel.dll), emptied first once it
 * is larger than 4096 bytes. When the log cannot be created, emptied or written, the calling
 * function shows a modal message box with one OK button and waits until the user closes it (on
 * Linux: one line on standard error instead); the function then returns its own result.
 *
 * Call from one thread at a time. */
#ifndef VANTREL_H
#define VANTREL_H

#include "ridel_version.h"
#include "ridel_winapi.h"

/* The version of this library, the project's: "MAJOR.MINOR.PATCH" and a number for comparisons
 * in the preprocessor (MAJOR * 10000 + MINOR * 100 + PATCH). */
#define VANTREL_VERSION RIDEL_VERSION_STRING
#define VANTREL_VERSION_NUMBER RIDEL_VERSION_NUMBER

/* Marks the declarations below; the library itself defines it to export them. */
#ifndef VANTREL_API
#define VANTREL_API
#endif

/* Results of the port, card and setter functions. */
#define VANTREL_OK 1
#define VANTREL_FAILED 0
/* The reader driver's success, as ReadMngInfo and GetSAMIDToStr hand it on. */
#define VANTREL_DRIVER_OK 0x90

/* Content modes of Read_Content (see above). */
#define VANTREL_CONTENT_ALL 1
#define VANTREL_CONTENT_RAW 2
#define VANTREL_CONTENT_APPENDED_ADDRESS 3
#define VANTREL_CONTENT_MANAGEMENT_INFO 5

/* The largest values of the getters, in bytes. */
#define VANTREL_NAME_BYTES 30
#define VANTREL_SEX_NAME_BYTES 4
#define VANTREL_NATION_NAME_BYTES 8
#define VANTREL_DATE_BYTES 16
#define VANTREL_ADDRESS_BYTES 70
#define VANTREL_ID_CODE_BYTES 36
#define VANTREL_DEPARTMENT_BYTES 30
#define VANTREL_RESERVE_BYTES 36
#define VANTREL_APP_ADDRESS_BYTES 70
/* The bitmap of the last photo, at most this many bytes (a decoded photo of 102 x 126 pixels in
 * 24 bits is 38862 bytes). */
#define VANTREL_PHOTO_BMP_BYTES 102400

/* Buffers of the two functions that pass straight to the driver. */
#define VANTREL_SAM_ID_TEXT_BYTES 40     /* GetSAMIDToStr: the SAM ID, zero-terminated */
#define VANTREL_MANAGEMENT_INFO_BYTES 28 /* ReadMngInfo */

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the card on the open port was found and selected; 0 otherwise, also with no port open. */
VANTREL_API int WINAPI Authenticate(void);
/* 1 when the open port was closed or none was open; 0 when it could not be closed. */
VANTREL_API int WINAPI CloseComm(void);
/* 1 when `port` (1001 to 1016 USB, up to 1000 serial) was opened and its SAM answers, 0
 * otherwise. Another port that is open is closed first. */
VANTREL_API int WINAPI InitComm(int port);
/* 1 when the content of `mode` (see above) was read and written; 0 on failure, with no port open
 * and for any other mode; in mode 1 the photo decoder's own result when it failed with another
 * value. */
VANTREL_API int WINAPI Read_Content(int mode);

/* The name's length (at most VANTREL_NAME_BYTES), or 0. */
VANTREL_API int WINAPI GetPeopleName(char* buffer, int size);
/* The sex name's length (at most VANTREL_SEX_NAME_BYTES), also when cut to fit `size`; 0 with
 * no card (the buffer is then left as it was) or fewer than 2 bytes copied. */
VANTREL_API int WINAPI GetPeopleSex(char* buffer, int size);
/* The nation name's length (at most VANTREL_NATION_NAME_BYTES), or 0. */
VANTREL_API int WINAPI GetPeopleNation(char* buffer, int size);
/* The birth date's length (VANTREL_DATE_BYTES at most), or 0. */
VANTREL_API int WINAPI GetPeopleBirthday(char* buffer, int size);
/* The address's length (at most VANTREL_ADDRESS_BYTES), or 0. */
VANTREL_API int WINAPI GetPeopleAddress(char* buffer, int size);
/* The ID number's length (at most VANTREL_ID_CODE_BYTES), or 0. */
VANTREL_API int WINAPI GetPeopleIDCode(char* buffer, int size);
/* The issuing authority's length (at most VANTREL_DEPARTMENT_BYTES), or 0. */
VANTREL_API int WINAPI GetDepartment(char* buffer, int size);
/* The validity start's length (at most VANTREL_DATE_BYTES), or 0. */
VANTREL_API int WINAPI GetStartDate(char* buffer, int size);
/* The validity end's length (at most VANTREL_DATE_BYTES), or 0. */
VANTREL_API int WINAPI GetEndDate(char* buffer, int size);
/* The reserved field's length (at most VANTREL_RESERVE_BYTES), or 0. */
VANTREL_API int WINAPI GetReserve(char* buffer, int size);
/* The bitmap's length in bytes (at most VANTREL_PHOTO_BMP_BYTES), or 0. */
VANTREL_API int WINAPI GetPhotoBMP(char* buffer, int size);
/* The appended address's length (at most VANTREL_APP_ADDRESS_BYTES) for `index` 1 to 4 (all give
 * the same address) when it fits in size - 1 bytes, or 0. */
VANTREL_API int WINAPI GetAppAddress(int index, char* buffer, int size);

/* 1 when the file held a whole text record (256 bytes, as WZ.txt), now in the field store whose
 * bitmap and appended address it empties; else 0. */
VANTREL_API int WINAPI SetBaseData(const char* path);
/* 1 when the photo file was decoded into the field store's bitmap (the port, if one is open,
 * closed around the decoder; the decoded bitmap, looked for in the output folder under the photo
 * file's name with .bmp, is deleted again), else the decoder's result. */
VANTREL_API int WINAPI SetPhotoData(const char* path);
/* 1 when the message (at least 280 bytes) gave the appended address, else 0. */
VANTREL_API int WINAPI SetAppAddress(const unsigned char* data, int length);

/* The driver's status of SDT_ReadMngInfo on that port (VANTREL_DRIVER_OK: success), with
 * VANTREL_MANAGEMENT_INFO_BYTES bytes written to `data`. */
VANTREL_API int WINAPI ReadMngInfo(int port, unsigned char* data, int flag);
/* The driver's status of SDT_GetSAMIDToStr on that port (VANTREL_DRIVER_OK: success), with the
 * SAM ID in `text` (VANTREL_SAM_ID_TEXT_BYTES bytes suffice). */
VANTREL_API int WINAPI GetSAMIDToStr(int port, char* text, int flag);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_H */
