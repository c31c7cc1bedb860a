// The driver and decoder entry points that the SDT edition links against, through the import
// libraries generated from driver/sdtapi.def and driver/WltRS.def (POSIX: the driver's and
// decoder's shared objects).
#pragma once

#include "driver/sdtapi.h"

extern "C" {
int WINAPI SDT_OpenPort(int port);
int WINAPI SDT_ClosePort(int port);
int WINAPI SDT_GetSAMStatus(int port, int flag);
int WINAPI SDT_GetSAMID(int port, unsigned char* id, int flag);
int WINAPI SDT_StartFindIDCard(int port, unsigned char* buffer, int flag);
int WINAPI SDT_SelectIDCard(int port, unsigned char* buffer, int flag);
int WINAPI SDT_ReadBaseMsg(int port, unsigned char* text, unsigned int* text_length,
                           unsigned char* photo, unsigned int* photo_length, int flag);
int WINAPI SDT_ReadMngInfo(int port, unsigned char* info, int flag);
int WINAPI SDT_ReadNewAppMsg(int port, unsigned char* message, unsigned int* length, int flag);
int WINAPI GetBmp(char* wlt_path, int selector);
}
