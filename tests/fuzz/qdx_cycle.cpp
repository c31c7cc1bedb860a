// Whole card cycles through the QDX edition against a simulated reader scripted from the input:
// open, authenticate, every content mode, the ANT call, the raw base message and the version,
// close, then a run of calls in an order the input chooses.
#include <cstring>

#include "include/ridel_qdx.h"
#include "tests/fuzz/harness.h"

namespace {

struct Exports {
  // Each of these under its three names: plain, QDX_ and TC_.
  decltype(&InitComm) init[3];
  decltype(&CloseComm) close[3];
  decltype(&Authenticate) authenticate[3];
  decltype(&Read_Content) read[3];
  decltype(&TC_Read_Content_Path) read_path;
  decltype(&QDX_Ant) ant;
  decltype(&QDX_ReadBaseMsg) read_base_msg;
  decltype(&QDX_GetDllVersion) version;

  template <class Fn>
  static void aliases(const fuzz::Edition& e, Fn (&to)[3], const std::string& name) {
    to[0] = e.fn<Fn>(name.c_str());
    to[1] = e.fn<Fn>(("QDX_" + name).c_str());
    to[2] = e.fn<Fn>(("TC_" + name).c_str());
  }

  explicit Exports(const fuzz::Edition& e)
      : read_path(FUZZ_EXPORT(e, TC_Read_Content_Path)),
        ant(FUZZ_EXPORT(e, QDX_Ant)),
        read_base_msg(FUZZ_EXPORT(e, QDX_ReadBaseMsg)),
        version(FUZZ_EXPORT(e, QDX_GetDllVersion)) {
    aliases(e, init, "InitComm");
    aliases(e, close, "CloseComm");
    aliases(e, authenticate, "Authenticate");
    aliases(e, read, "Read_Content");
  }
};

// Every mode from one below the first to one beyond the last.
constexpr int kModes[] = {0, 1, 2, 3, 4, 5, 6, 7};

using fuzz::check_flag;

// Every export but QDX_Ant answers 1 or 0.
class Cycle : public fuzz::CycleBase<Exports> {
 public:
  using CycleBase::CycleBase;

  void open() { check_flag(x_.init[alias()](port())); }
  void perhaps_open_again() {
    if (in_.ConsumeBool()) open();
  }
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
  void read_every_mode() {
    for (const int mode : kModes) read(mode);
  }
  void read_any_mode() {
    read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 8) : in_.ConsumeIntegral<int>());
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

 private:
  int alias() { return in_.ConsumeIntegralInRange(0, 2); }
};

constexpr const char* kResultFiles[] = {"wz.txt",      "xp.wlt",     "zp.wlt",
                                        "zp.bmp",      "NEWADDR.txt", "IINSNDN.bin"};
constexpr fuzz::Step<Cycle> kSequence[] = {
    &Cycle::open,      &Cycle::perhaps_open_again, &Cycle::authenticate,
    &Cycle::read_every_mode, &Cycle::ant,          &Cycle::read_base_message,
    &Cycle::version,   &Cycle::close};
constexpr fuzz::Step<Cycle> kChosen[] = {
    &Cycle::open, &Cycle::close,             &Cycle::authenticate, &Cycle::read_any_mode,
    &Cycle::ant,  &Cycle::read_base_message, &Cycle::version};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition(testbed::kQdxEdition, "InitComm");
  return fuzz::run_cycle<Cycle>(edition, data, size, {kResultFiles, kSequence, kChosen});
}
