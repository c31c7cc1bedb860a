/* Reading a card from C through the SDT edition of ridel.dll.
 *
 * Deploy ridel.dll with the reader's driver (sdtapi.dll) and photo decoder (WltRS.dll) beside the
 * application, include ridel_sdt.h and link the import library (MinGW: libridel.dll.a, MSVC:
 * ridel.lib). The texts are in the system's ANSI code page: GBK on Chinese Windows. */
#include <stdio.h>
#include <stdlib.h>

#include "ridel_sdt.h"

static void show(const char* label, int (WINAPI* getter)(char*)) {
  char value[RIDEL_SDT_VALUE_BUFFER];
  const int length = getter(value);
  printf("%-10s %s (%d bytes)\n", label, value, length);
}

int main(int argc, char** argv) {
  const int port = argc > 1 ? atoi(argv[1]) : 1001;
  int r = OpenComm(port);
  if (r != RIDEL_SDT_OK) {
    fprintf(stderr, "read_card: OpenComm(%d) returned %d: no reader found\n", port, r);
    return 1;
  }
  r = SelectCard();
  if (r != RIDEL_SDT_OK) {
    fprintf(stderr, "read_card: SelectCard() returned %d: no card on the reader\n", r);
    CloseComm();
    return 1;
  }
  r = ReadBaseInfo(RIDEL_SDT_READ_WITH_BITMAP);
  if (r != RIDEL_SDT_OK) {
    fprintf(stderr, "read_card: ReadBaseInfo(1) returned %d\n", r);
    CloseComm();
    return 1;
  }
  show("name", GetName);
  show("sex", GetSex);
  show("nation", GetFolk);
  show("birth", GetBirth);
  show("address", GetAddr);
  show("id number", GetIDNum);
  show("authority", GetDep);
  show("valid from", GetBegin);
  show("valid to", GetEnd);
  show("photo", GetPicPath);
  CloseComm();
  return 0;
}
