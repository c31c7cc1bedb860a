// Whole card cycles through the SDT edition against a simulated reader scripted from the input:
// the port scan, the SAM identity, card selection, every read type, every getter, close, then a
// run of calls in an order the input chooses.
#include <cstring>

#include "include/ridel_sdt.h"
#include "tests/fuzz/harness.h"

namespace {

using Getter = decltype(&GetName);

// The longest value without the zero byte.
constexpr fuzz::GetterInfo kGetters[] = {
    {"GetAddr", 70},  {"GetBegin", 18}, {"GetName", 30},    {"GetSex", 4},
    {"GetFolk", 10},  {"GetIDNum", 36}, {"GetDep", 30},     {"GetBirth", 18},
    {"GetEnd", 18},   {"GetNewAddr", 70}, {"GetPicPath", 133}};
constexpr int kGetterCount = sizeof kGetters / sizeof kGetters[0];

// The SAM identity that the simulated driver writes.
constexpr int kSamIdBytes = 16;

// Every read type from one below the first to one beyond the last.
constexpr int kReadTypes[] = {0, 1, 2, 3, 4, 5, 6};

struct Exports {
  decltype(&OpenComm) open;
  decltype(&CloseComm) close;
  decltype(&SelectCard) select;
  decltype(&ReadBaseInfo) read;
  decltype(&GetSamID) sam_id;
  Getter getters[kGetterCount];

  explicit Exports(const fuzz::Edition& e)
      : open(FUZZ_EXPORT(e, OpenComm)),
        close(FUZZ_EXPORT(e, CloseComm)),
        select(FUZZ_EXPORT(e, SelectCard)),
        read(FUZZ_EXPORT(e, ReadBaseInfo)),
        sam_id(FUZZ_EXPORT(e, GetSamID)) {
    for (int i = 0; i < kGetterCount; ++i) getters[i] = e.fn<Getter>(kGetters[i].name);
  }
};

class Cycle : public fuzz::CycleBase<Exports> {
 public:
  using CycleBase::CycleBase;

  void open() { x_.open(port()); }
  void close() { x_.close(); }
  void select() { x_.select(); }

  void sam_id() {
    fuzz::Buffer id(kSamIdBytes);
    fuzz::check_flag(x_.sam_id(id.bytes()));
  }

  void read(int type) {
    const int result = x_.read(type);
    if (type < 1 || type > 5) FUZZ_CHECK(result == 0, result);
  }
  // Each read type, every value after each.
  void read_every_type() {
    for (const int type : kReadTypes) {
      read(type);
      get_all();
    }
  }
  void read_any_type() {
    read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 7) : in_.ConsumeIntegral<int>());
  }

  // The getters take no size: the application's buffer holds the longest value of all, 133
  // bytes and the zero byte. Each value must fit its own limit and end in its zero byte.
  void get(int which) {
    fuzz::Buffer text(RIDEL_SDT_VALUE_BUFFER);
    const int length = x_.getters[which](text.data());
    FUZZ_CHECK(length >= 0 && length <= kGetters[which].largest, length);
    FUZZ_CHECK(text.data()[length] == '\0', which);
    FUZZ_CHECK(std::strlen(text.data()) == static_cast<std::size_t>(length), which);
  }
  void get_all() {
    for (int i = 0; i < kGetterCount; ++i) get(i);
  }
  void get_any() { get(in_.ConsumeIntegralInRange(0, kGetterCount - 1)); }
};

constexpr const char* kResultFiles[] = {"wx.txt",  "wz.txt", "zp.wlt",     "pic.wlt",
                                        "zp.bmp", "NewAdd.txt", "NewAdd1.txt"};
// Every value is empty before any read.
constexpr fuzz::Step<Cycle> kSequence[] = {&Cycle::get_all, &Cycle::open,
                                           &Cycle::sam_id,  &Cycle::select,
                                           &Cycle::read_every_type, &Cycle::close};
constexpr fuzz::Step<Cycle> kChosen[] = {&Cycle::open,          &Cycle::close,  &Cycle::select,
                                         &Cycle::read_any_type, &Cycle::sam_id, &Cycle::get_all,
                                         &Cycle::get_any};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition(testbed::kSdtEdition, "OpenComm");
  return fuzz::run_cycle<Cycle>(edition, data, size, {kResultFiles, kSequence, kChosen});
}
