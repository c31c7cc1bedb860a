/* ridel.dll, SDT edition: finds the card reader on a USB port (1001 to 1016, then the port the
 * application names), selects the identity card on it, reads the card and hands the holder's
 * fields out one by one. Reads also write result files into the folder of the application's
 * executable (not the library's, nor the working folder), replacing files of the same names:
 *
 *   read type 1  wx.txt (the ten fields as text lines, CR LF), wz.txt (raw text record),
 *                zp.wlt and pic.wlt (raw photo), zp.bmp (decoded photo)
 *   read type 2  wx.txt (the ten fields as text lines, LF alone), wz.txt
 *   read type 3  NewAdd.txt (raw appended-address message), NewAdd1.txt (the appended address
 *                as text)
 *   read type 4  nothing: only checks that the management information can be read
 *   read type 5  as read type 1 without decoding the photo (no zp.bmp)
 *
 * When the executable's folder is longer than 127 characters, no result file is written and the
 * reads that need one return -8 (the fields are read all the same).
 *
 * Text: the card's fields are converted to the system's ANSI code page (GBK, code page 936, on
 * Chinese Windows; always GBK on Linux), without their trailing blanks. On a Windows with another
 * ANSI code page every character that code page lacks becomes '?', while the words the library
 * adds itself (the sex, the nation names) are GBK bytes whatever the code page.
 *
 * Call from one thread at a time: OpenComm, SelectCard, ReadBaseInfo, the getters, ..., CloseComm.
 * Results other than those below are the reader driver's own status codes, handed on unchanged. */
#ifndef RIDEL_SDT_H
#define RIDEL_SDT_H

#include "ridel_version.h"
#include "ridel_winapi.h"

/* The version of this library, the project's: "MAJOR.MINOR.PATCH" and a number for comparisons
 * in the preprocessor (MAJOR * 10000 + MINOR * 100 + PATCH). */
#define RIDEL_SDT_VERSION RIDEL_VERSION_STRING
#define RIDEL_SDT_VERSION_NUMBER RIDEL_VERSION_NUMBER

/* Marks the declarations below; the library itself defines it to export them. */
#ifndef RIDEL_SDT_API
#define RIDEL_SDT_API
#endif

/* Results of the library's own. */
#define RIDEL_SDT_OK 1
#define RIDEL_SDT_NONE 0              /* SelectCard: no card; ReadBaseInfo: unknown read type */
#define RIDEL_SDT_FILE_FAILED (-8)    /* a result file that the read needs cannot be written */
#define RIDEL_SDT_DRIVER_FAILED (-10) /* the reader driver reported status 1 */
#define RIDEL_SDT_DECODE_FAILED (-11) /* the photo decoder failed without a code of its own */
/* The photo decoder's own failure codes, handed on by ReadBaseInfo(1). */
#define RIDEL_SDT_DECODER_FIRST_CODE (-6)
#define RIDEL_SDT_DECODER_LAST_CODE (-1)

/* Read types of ReadBaseInfo. */
#define RIDEL_SDT_READ_WITH_BITMAP 1
#define RIDEL_SDT_READ_TEXT 2
#define RIDEL_SDT_READ_APPENDED_ADDRESS 3
#define RIDEL_SDT_READ_MANAGEMENT_INFO 4
#define RIDEL_SDT_READ_WITH_PHOTO 5

/* A getter buffer of this many bytes holds every value, its zero byte included. */
#define RIDEL_SDT_VALUE_BUFFER 134
/* GetSamID writes the SAM's identity, this many bytes, into its buffer. */
#define RIDEL_SDT_SAM_ID_BYTES 16

#ifdef __cplusplus
extern "C" {
#endif

/* 1: a reader answers and its port is now current; -10 or the driver's status: none was
 * found, the open of `port`, tried last, failed. */
RIDEL_SDT_API int WINAPI OpenComm(int port);

/* 1: the current port is closed; -10 or the driver's status: failed. */
RIDEL_SDT_API int WINAPI CloseComm(void);

/* 1: a card was found and selected; 0: no card on the reader; -10 or the driver's status:
 * failed. */
RIDEL_SDT_API int WINAPI SelectCard(void);

/* 1: read type `read_type` (1 to 5, see above) is read and its files written; 0: unknown read
 * type; -8: a required result file cannot be written; read type 1 only: -1 to -6 or -11, the
 * photo could not be decoded; -10 or the driver's status: the driver failed. Read type 3 on a
 * card without an appended address gives the driver's status for that, 145 (0x91). */
RIDEL_SDT_API int WINAPI ReadBaseInfo(int read_type);

/* 1: the SAM's identity, RIDEL_SDT_SAM_ID_BYTES raw bytes as the driver gives them, is in `id`;
 * 0: failed, or `id` is null. */
RIDEL_SDT_API int WINAPI GetSamID(unsigned char* id);

/* The getters copy one value of the last card read, zero-terminated, into `text` and return
 * its length in bytes (0 for an empty value or a null `text`); they never fail. `text` must hold
 * the longest value given below and its zero byte: RIDEL_SDT_VALUE_BUFFER bytes always do. The
 * values stay until a later read replaces them, also after CloseComm. */

/* Address, at most 70 bytes. */
RIDEL_SDT_API int WINAPI GetAddr(char* text);
/* Validity start as YYYY-MM-DD, at most 18 bytes. */
RIDEL_SDT_API int WINAPI GetBegin(char* text);
/* Name, at most 30 bytes. */
RIDEL_SDT_API int WINAPI GetName(char* text);
/* Sex as a word (male, female, unknown), at most 4 bytes. */
RIDEL_SDT_API int WINAPI GetSex(char* text);
/* Nation name, at most 10 bytes. */
RIDEL_SDT_API int WINAPI GetFolk(char* text);
/* ID number, at most 36 bytes. */
RIDEL_SDT_API int WINAPI GetIDNum(char* text);
/* Issuing authority, at most 30 bytes. */
RIDEL_SDT_API int WINAPI GetDep(char* text);
/* Birth date as YYYY-MM-DD, at most 18 bytes. */
RIDEL_SDT_API int WINAPI GetBirth(char* text);
/* Validity end as YYYY-MM-DD (or the card's text for no end), at most 18 bytes. */
RIDEL_SDT_API int WINAPI GetEnd(char* text);
/* Appended address of the last read type 3, at most 70 bytes. */
RIDEL_SDT_API int WINAPI GetNewAddr(char* text);
/* Full path of zp.bmp from the last read type 1 that reached the decoder (empty when decoding
 * failed), at most 133 bytes. */
RIDEL_SDT_API int WINAPI GetPicPath(char* text);

#ifdef __cplusplus
}
#endif

#endif /* RIDEL_SDT_H */
