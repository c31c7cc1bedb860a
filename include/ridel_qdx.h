/* ridel.dll, QDX edition: opens the card reader's port, authenticates the identity card on it and
 * writes what it reads into result files in the folder of the application's executable:
 *
 *   mode 1  wz.txt (raw text record), xp.wlt and zp.wlt (raw photo), zp.bmp (decoded photo)
 *   mode 2  wz.txt (raw text record), xp.wlt (raw photo)
 *   mode 3  NEWADDR.txt (raw appended address; empty when the card has none)
 *   mode 4  wz.txt (eight text lines, CR LF), zp.wlt (raw photo), zp.bmp (decoded photo)
 *   mode 5  IINSNDN.bin (28 bytes of management information)
 *   mode 6  <SAM>.txt, <SAM>.wlt and <SAM>.bmp as in mode 4, named after the reader's SAM number
 *
 * Text is in the system's ANSI code page (GBK on Chinese Windows). Call from one thread at a
 * time: InitComm, Authenticate, Read_Content, ..., CloseComm. The QDX_ and TC_ names are the same
 * functions under other names. */
#ifndef RIDEL_QDX_H
#define RIDEL_QDX_H

#ifndef WINAPI
#if defined(_WIN32)
#define WINAPI __stdcall
#else
#define WINAPI
#endif
#endif

/* Marks the declarations below; the library itself defines it to export them. */
#ifndef RIDEL_QDX_API
#define RIDEL_QDX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1: the port is open and the reader's SAM answers; 0: failed. */
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

/* 1: the files of content mode `mode` (1 to 6, see above) are written; 0: failed. */
RIDEL_QDX_API int WINAPI Read_Content(int mode);
RIDEL_QDX_API int WINAPI QDX_Read_Content(int mode);
RIDEL_QDX_API int WINAPI TC_Read_Content(int mode);
/* Read_Content(mode); `unused` is ignored and the files go to the same folder. */
RIDEL_QDX_API int WINAPI TC_Read_Content_Path(int mode, int unused);

/* The low byte (0 to 255) of the driver's ANT answer for `value`; 0 when no port was ever
 * opened or the port is not a serial port 1 to 999. */
RIDEL_QDX_API int WINAPI QDX_Ant(int value);

/* 1: the card's text record (256 bytes) is in `text` and its photo record (1024 bytes) in
 * `photo`; 0: failed, nothing written. The three int arguments are ignored. */
RIDEL_QDX_API int WINAPI QDX_ReadBaseMsg(unsigned char* text, int unused1, unsigned char* photo,
                                         int unused2, int unused3);

/* 1: the library's version text, 40 bytes zero-padded, is in `version`; 0: `version` is null. */
RIDEL_QDX_API int WINAPI QDX_GetDllVersion(char* version);

#ifdef __cplusplus
}
#endif

#endif /* RIDEL_QDX_H */
