/* Reads the card on port 1001 through one edition, linked as an application links it, and prints
 * "id <ID number>"; exits with 1 after a failed step. Built with EDITION_QDX, EDITION_SDT or
 * EDITION_VANTREL against a release: by its CMake package, by pkg-config and, with NO_CRT, for the
 * MSVC ABI, where it needs no C runtime: it calls only the edition and, on Windows, KERNEL32. */
#if defined(EDITION_QDX)
#include "ridel_qdx.h"
#elif defined(EDITION_SDT)
#include "ridel_sdt.h"
#elif defined(EDITION_VANTREL)
#include "vantrel.h"
#else
#error "EDITION_QDX, EDITION_SDT or EDITION_VANTREL"
#endif

#ifdef _WIN32
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
static void put(const char* text, int size) {
  unsigned long written;
  WriteFile(GetStdHandle((unsigned long)-11), text, (unsigned long)size, &written, 0);
}
#else
#include <unistd.h>
static void put(const char* text, int size) {
  if (write(1, text, (unsigned long)size) < 0) return;
}
#endif

#define PORT 1001
/* The ID number's place in the card's text record: 18 UCS-2 characters from byte 122. */
#define RECORD_ID_OFFSET 122
#define ID_LENGTH 18

static int read_id(char* id) {
#if defined(EDITION_QDX)
  unsigned char text[256], photo[1024];
  int i;
  if (InitComm(PORT) != 1 || Authenticate() != 1) return 0;
  if (QDX_ReadBaseMsg(text, 0, photo, 0, 0) != 1) return 0;
  for (i = 0; i < ID_LENGTH; ++i) id[i] = (char)text[RECORD_ID_OFFSET + 2 * i];
  return CloseComm() == 1 ? ID_LENGTH : 0;
#elif defined(EDITION_SDT)
  char value[RIDEL_SDT_VALUE_BUFFER];
  int length, i;
  if (OpenComm(PORT) != 1 || SelectCard() != 1 || ReadBaseInfo(RIDEL_SDT_READ_TEXT) != 1) return 0;
  length = GetIDNum(value);
  for (i = 0; i < length && i < ID_LENGTH; ++i) id[i] = value[i];
  CloseComm();
  return length == ID_LENGTH ? length : 0;
#else
  char value[64];
  int length, i;
  if (InitComm(PORT) != 1 || Authenticate() != 1 || Read_Content(1) != 1) return 0;
  length = GetPeopleIDCode(value, (int)sizeof value);
  for (i = 0; i < length && i < ID_LENGTH; ++i) id[i] = value[i];
  CloseComm();
  return length == ID_LENGTH ? length : 0;
#endif
}

static int run(void) {
  static const char failed[] = "read_id: the read failed\n";
  char line[3 + ID_LENGTH + 1];
  const int length = read_id(line + 3);
  if (length == 0) {
    put(failed, (int)sizeof failed - 1);
    return 1;
  }
  line[0] = 'i';
  line[1] = 'd';
  line[2] = ' ';
  line[3 + length] = '\n';
  put(line, 3 + length + 1);
  return 0;
}

#ifdef NO_CRT
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
void start(void) { ExitProcess((unsigned int)run()); }
#else
int main(void) { return run(); }
#endif
