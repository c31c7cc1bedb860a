/* The three public headers as an application's compiler sees them: all in one file, compiled as
 * C89 and as C++, with warnings as errors. */
#include "ridel_qdx.h"
#include "ridel_sdt.h"
#include "vantrel.h"

/* Each edition's version is the project's one version. */
typedef char versions_agree[RIDEL_QDX_VERSION_NUMBER == RIDEL_VERSION_NUMBER &&
                                    RIDEL_SDT_VERSION_NUMBER == RIDEL_VERSION_NUMBER &&
                                    VANTREL_VERSION_NUMBER == RIDEL_VERSION_NUMBER
                                ? 1
                                : -1];

const char* edition_version(int edition);
const char* edition_version(int edition) {
  return edition == 0 ? RIDEL_QDX_VERSION : edition == 1 ? RIDEL_SDT_VERSION : VANTREL_VERSION;
}

/* The exports that two headers share are declared alike, calling convention included. */
int open_and_read(int port);
int open_and_read(int port) {
  int (WINAPI * init)(int) = InitComm;
  int (WINAPI * read)(int) = Read_Content;
  int (WINAPI * close)(void) = CloseComm;
  char name[VANTREL_NAME_BYTES + 1];
  char value[RIDEL_SDT_VALUE_BUFFER];
  unsigned char sam[RIDEL_SDT_SAM_ID_BYTES];
  unsigned char text[RIDEL_QDX_TEXT_RECORD_BYTES];
  unsigned char photo[RIDEL_QDX_PHOTO_RECORD_BYTES];
  if (init(port) != RIDEL_QDX_OK || read(RIDEL_QDX_CONTENT_TEXT) != VANTREL_OK) return close();
  return GetPeopleName(name, (int)sizeof name) + GetName(value) + GetSamID(sam) +
         QDX_ReadBaseMsg(text, 0, photo, 0, 0) + ReadBaseInfo(RIDEL_SDT_READ_TEXT);
}
