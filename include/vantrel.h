/* The vantrel identity card reader interface library (vantrel.dll, deployed as ridel.dll;
 * libvantrel.so). Texts are in the system's ANSI code page. Getters zero the first `size` bytes
 * of the buffer, copy the value without a terminator and return its length in bytes, or 0 when
 * it did not fit whole or there was nothing to copy. */
#ifndef VANTREL_H
#define VANTREL_H

#ifndef WINAPI
#if defined(_WIN32)
#define WINAPI __stdcall
#else
#define WINAPI
#endif
#endif

/* Marks the declarations below; the library itself defines it to export them. */
#ifndef VANTREL_API
#define VANTREL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the card on the open port was found and selected, 0 otherwise. */
VANTREL_API int WINAPI Authenticate(void);
/* 1 when the open port was closed or none was open, 0 when it could not be closed. */
VANTREL_API int WINAPI CloseComm(void);
/* 1 when the port (1001-1016 USB, up to 1000 serial) was opened and its SAM answers, else 0. */
VANTREL_API int WINAPI InitComm(int port);
/* 1 when the content of mode 1 (all), 2 (raw record), 3 (appended address) or 5 (management
 * information) was read, 0 on failure, in mode 1 the decoder's result when it failed otherwise. */
VANTREL_API int WINAPI Read_Content(int mode);

/* The name's length, or 0. */
VANTREL_API int WINAPI GetPeopleName(char* buffer, int size);
/* The sex name's length, also when cut to fit; 0 with no card or fewer than 2 bytes copied. */
VANTREL_API int WINAPI GetPeopleSex(char* buffer, int size);
/* The nation name's length, or 0. */
VANTREL_API int WINAPI GetPeopleNation(char* buffer, int size);
/* The birth date's length (YYYYMMDD), or 0. */
VANTREL_API int WINAPI GetPeopleBirthday(char* buffer, int size);
/* The address's length, or 0. */
VANTREL_API int WINAPI GetPeopleAddress(char* buffer, int size);
/* The ID number's length, or 0. */
VANTREL_API int WINAPI GetPeopleIDCode(char* buffer, int size);
/* The issuing authority's length, or 0. */
VANTREL_API int WINAPI GetDepartment(char* buffer, int size);
/* The validity start's length, or 0. */
VANTREL_API int WINAPI GetStartDate(char* buffer, int size);
/* The validity end's length, or 0. */
VANTREL_API int WINAPI GetEndDate(char* buffer, int size);
/* The reserved field's length, or 0. */
VANTREL_API int WINAPI GetReserve(char* buffer, int size);
/* The bitmap's length in bytes, or 0. */
VANTREL_API int WINAPI GetPhotoBMP(char* buffer, int size);
/* The appended address's length for index 1-4 when it fits in size - 1 bytes, or 0. */
VANTREL_API int WINAPI GetAppAddress(int index, char* buffer, int size);

/* 1 when the file held a whole identity record (256 bytes), now in the field store; else 0. */
VANTREL_API int WINAPI SetBaseData(const char* path);
/* 1 when the photo file was decoded into the field store's bitmap, else the decoder's result. */
VANTREL_API int WINAPI SetPhotoData(const char* path);
/* 1 when the message (at least 280 bytes) gave the appended address, else 0. */
VANTREL_API int WINAPI SetAppAddress(const unsigned char* data, int length);

/* The driver's status of SDT_ReadMngInfo on that port (0x90 success). */
VANTREL_API int WINAPI ReadMngInfo(int port, unsigned char* data, int flag);
/* The driver's status of SDT_GetSAMIDToStr on that port (0x90 success). */
VANTREL_API int WINAPI GetSAMIDToStr(int port, char* text, int flag);

#ifdef __cplusplus
}
#endif

#endif
