// Whole card cycles through the QDX edition against a simulated reader scripted from the input:
// open, authenticate, every content mode, the ANT call, the raw base message and the version,
// close, then a run of calls in an order the input chooses.
#include <cstring>

#include "include/ridel_qdx.h"
#include "tests/fuzz/harness.h"

namespace {

struct Exports {
  decltype(&InitComm) init[3];
  decltype(&CloseComm) close[3];
  decltype(&Authenticate) authenticate[3];
  decltype(&Read_Content) read[3];
  decltype(&TC_Read_Content_Path) read_path;
  decltype(&QDX_Ant) ant;
  decltype(&QDX_ReadBaseMsg) read_base_msg;
  decltype(&QDX_GetDllVersion) version;

  explicit Exports(const fuzz::Edition& e)
      : init{e.fn<decltype(&InitComm)>("InitComm"), e.fn<decltype(&InitComm)>("QDX_InitComm"),
             e.fn<decltype(&InitComm)>("TC_InitComm")},
        close{e.fn<decltype(&CloseComm)>("CloseComm"), e.fn<decltype(&CloseComm)>("QDX_CloseComm"),
              e.fn<decltype(&CloseComm)>("TC_CloseComm")},
        authenticate{e.fn<decltype(&Authenticate)>("Authenticate"),
                     e.fn<decltype(&Authenticate)>("QDX_Authenticate"),
                     e.fn<decltype(&Authenticate)>("TC_Authenticate")},
        read{e.fn<decltype(&Read_Content)>("Read_Content"),
             e.fn<decltype(&Read_Content)>("QDX_Read_Content"),
             e.fn<decltype(&Read_Content)>("TC_Read_Content")},
        read_path(e.fn<decltype(&TC_Read_Content_Path)>("TC_Read_Content_Path")),
        ant(e.fn<decltype(&QDX_Ant)>("QDX_Ant")),
        read_base_msg(e.fn<decltype(&QDX_ReadBaseMsg)>("QDX_ReadBaseMsg")),
        version(e.fn<decltype(&QDX_GetDllVersion)>("QDX_GetDllVersion")) {}
};

// Every export but QDX_Ant answers 1 or 0.
void check_flag(int result) { FUZZ_CHECK(result == 0 || result == 1, result); }

class Cycle {
 public:
  Cycle(const Exports& x, FuzzedDataProvider& in, int reader_port)
      : x_(x), in_(in), reader_port_(reader_port) {}

  void open() { check_flag(x_.init[alias()](fuzz::fuzzed_port(in_, reader_port_))); }
  void close() { check_flag(x_.close[alias()]()); }
  void authenticate() { check_flag(x_.authenticate[alias()]()); }

  // Through any of the four names; the path variant's second argument is ignored.
  void read(int mode) {
    const int name = in_.ConsumeIntegralInRange(0, 3);
    const int result =
        name < 3 ? x_.read[name](mode) : x_.read_path(mode, in_.ConsumeIntegral<int>());
    check_flag(result);
    if (mode < 1 || mode > 6) FUZZ_CHECK(result == 0, mode);
  }

  void ant() {
    const int result = x_.ant(in_.ConsumeIntegral<int>());
    FUZZ_CHECK(result >= 0 && result <= 255, result);
  }

  // The destinations are exactly as large as the records the driver may deliver.
  void read_base_message() {
    fuzz::Buffer text(256), photo(1024);
    const int ignored1 = in_.ConsumeIntegral<int>();
    const int ignored2 = in_.ConsumeIntegral<int>();
    const int ignored3 = in_.ConsumeIntegral<int>();
    check_flag(x_.read_base_msg(text.bytes(), ignored1, photo.bytes(), ignored2, ignored3));
  }

  void version() {
    fuzz::Buffer text(40);
    FUZZ_CHECK(x_.version(text.data()) == 1, 0);
    FUZZ_CHECK(std::memcmp(text.data(), "Ridel.dll[QDX", 13) == 0, 0);
  }

  void any() {
    switch (in_.ConsumeIntegralInRange(0, 6)) {
      case 0:
        return open();
      case 1:
        return close();
      case 2:
        return authenticate();
      case 3:
        return read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 8)
                                      : in_.ConsumeIntegral<int>());
      case 4:
        return ant();
      case 5:
        return read_base_message();
      default:
        return version();
    }
  }

 private:
  int alias() { return in_.ConsumeIntegralInRange(0, 2); }

  const Exports& x_;
  FuzzedDataProvider& in_;
  int reader_port_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition(testbed::kQdxEdition, "InitComm");
  FuzzedDataProvider in(data, size);
  fuzz::clear_output_folder();
  const int reader_port = fuzz::script_simulator(in);
  fuzz::block_some(in, {"wz.txt", "xp.wlt", "zp.wlt", "zp.bmp", "NEWADDR.txt", "IINSNDN.bin"});
  edition.fresh();
  const Exports exports(edition);
  Cycle cycle(exports, in, reader_port);

  cycle.open();
  if (in.ConsumeBool()) cycle.open();
  cycle.authenticate();
  for (int mode = 0; mode <= 7; ++mode) cycle.read(mode);
  cycle.ant();
  cycle.read_base_message();
  cycle.version();
  cycle.close();
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) cycle.any();
  return 0;
}
