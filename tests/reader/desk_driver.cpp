// A reader maker's driver and photo decoder as a desk has them, for the tests that place one
// beside an edition and check that idcard reads through it rather than the simulated reader: a
// reader on every USB port whose card is not the simulator's (another holder, another SAM number),
// with no appended address. One source built as the driver and as the decoder, and as a driver
// that crashes as soon as it is loaded (DESK_CRASH_ON_LOAD).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "simulator/bitmap_path.h"

#if defined(_WIN32)
#define DESK_EXPORT __declspec(dllexport)
#else
#define DESK_EXPORT __attribute__((visibility("default")))
#endif

namespace desk {

#if defined(DESK_CRASH_ON_LOAD)
// Ends the process that loads this library, as a broken driver does in its load notification.
struct CrashOnLoad {
  CrashOnLoad() { std::abort(); }
} crash_on_load;
#endif

constexpr char kSamId[] = "05.01-20261209-0000000042-4242424242";
constexpr int kWidth = 102, kHeight = 126;

struct Text {
  rec::Field field;
  const char* ascii;
};
// The holder, in ASCII so that every edition's conversion gives the same text.
constexpr Text kCard[] = {{rec::Field::Name, "DESK HOLDER"},
                          {rec::Field::Sex, "2"},
                          {rec::Field::Nation, "01"},
                          {rec::Field::Birth, "19700304"},
                          {rec::Field::Address, "DESK ROAD 7"},
                          {rec::Field::IdNumber, "110101197003040026"},
                          {rec::Field::Authority, "DESK OFFICE"},
                          {rec::Field::ValidFrom, "20200101"},
                          {rec::Field::ValidTo, "20400101"}};

bool usb(int port) { return drv::is_usb_port(port); }

int OpenPort(int port) { return usb(port) ? drv::kOk : drv::kStatusOne; }
int ClosePort(int port) { return usb(port) ? drv::kOk : drv::kStatusOne; }
int SetMaxRFByte(int, unsigned char, int) { return drv::kOk; }
int GetCOMBaud(int, unsigned int* baud) {
  if (baud) *baud = 115200;
  return drv::kOk;
}
int SetCOMBaud(int, unsigned int, unsigned int) { return drv::kOk; }
int ResetSAM(int, int) { return drv::kOk; }
int GetSAMStatus(int, int) { return drv::kOk; }
int GetSAMID(int, unsigned char* id, int) {
  if (id) std::memset(id, 0x42, 16);
  return drv::kOk;
}
int GetSAMIDToStr(int, char* text, int) {
  if (text) std::memcpy(text, kSamId, sizeof kSamId);
  return drv::kOk;
}
int StartFindIDCard(int, unsigned char*, int) { return drv::kCardFound; }
int SelectIDCard(int, unsigned char*, int) { return drv::kOk; }
int ReadBaseMsg(int, unsigned char* text, unsigned int* text_length, unsigned char* photo,
                unsigned int* photo_length, int) {
  if (text) {
    for (int i = 0; i < drv::kIdentityBytes; i += 2) {
      text[i] = ' ';
      text[i + 1] = 0;
    }
    for (const Text& t : kCard) {
      const rec::Span s = rec::span(t.field);
      for (int i = 0; t.ascii[i] && i < s.units(); ++i) text[s.offset + 2 * i] = static_cast<unsigned char>(t.ascii[i]);
    }
  }
  if (text_length) *text_length = drv::kIdentityBytes;
  if (photo) std::memset(photo, 0x5A, drv::kPhotoBytes);
  if (photo_length) *photo_length = drv::kPhotoBytes;
  return drv::kOk;
}
int ReadMngInfo(int, unsigned char* info, int) {
  if (info) std::memset(info, 0, drv::kManagementInfoBytes);
  return drv::kOk;
}
int ReadNewAppMsg(int, unsigned char*, unsigned int* length, int) {
  if (length) *length = 0;
  return drv::kNoAppendedAddress;
}
int ANT(int, int) { return drv::kOk; }

void put32(unsigned char* at, unsigned v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A grey 24-bit bitmap of the photo's size beside the photo file.
int GetBmp(char* wlt_path, int) {
  if (!wlt_path) return -1;
  constexpr unsigned kRow = (kWidth * 3 + 3) / 4 * 4, kPixels = kRow * kHeight, kHeader = 14 + 40;
  unsigned char header[kHeader] = {'B', 'M'};
  put32(header + 2, kHeader + kPixels);
  put32(header + 10, kHeader);
  put32(header + 14, 40);
  put32(header + 18, kWidth);
  put32(header + 22, kHeight);
  header[26] = 1;
  header[28] = 24;
  put32(header + 34, kPixels);
  std::FILE* f = std::fopen(sim::bitmap_path(wlt_path).c_str(), "wb");
  if (!f) return -3;
  const std::string pixels(kPixels, '\x80');
  const bool written = std::fwrite(header, 1, kHeader, f) == kHeader &&
                       std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  return std::fclose(f) == 0 && written ? drv::kDecodeOk : -3;
}

}  // namespace desk

#define DESK_EXPORTS_QDX_SDT(Name, parameters, arguments)                                  \
  extern "C" DESK_EXPORT int WINAPI QDX_##Name parameters { return desk::Name arguments; } \
  extern "C" DESK_EXPORT int WINAPI SDT_##Name parameters { return desk::Name arguments; }
#define DESK_EXPORTS_QDX(Name, parameters, arguments) \
  extern "C" DESK_EXPORT int WINAPI QDX_##Name parameters { return desk::Name arguments; }
#define DESK_EXPORTS_DECODER(Name, parameters, arguments) \
  extern "C" DESK_EXPORT int WINAPI Name parameters { return desk::Name arguments; }
#define DESK_ENTRY(Name, NAME, prefixes, parameters, arguments) \
  DESK_EXPORTS_##prefixes(Name, parameters, arguments)
RIDEL_DRIVER_ENTRY_POINTS(DESK_ENTRY)
