// Whole card cycles through the SDT edition against a simulated reader scripted from the input:
// the port scan, the SAM identity, card selection, every read type, every getter, close, then a
// run of calls in an order the input chooses.
#include <cstring>

#include "include/ridel_sdt.h"
#include "tests/fuzz/harness.h"

namespace {

using Getter = decltype(&GetName);

struct GetterInfo {
  const char* name;
  int largest;  // the longest value in bytes, without the zero byte
};
constexpr GetterInfo kGetters[] = {
    {"GetAddr", 70},  {"GetBegin", 18}, {"GetName", 30},    {"GetSex", 4},
    {"GetFolk", 10},  {"GetIDNum", 36}, {"GetDep", 30},     {"GetBirth", 18},
    {"GetEnd", 18},   {"GetNewAddr", 70}, {"GetPicPath", 133}};
constexpr int kGetterCount = sizeof kGetters / sizeof kGetters[0];

// The SAM identity that the simulated driver writes.
constexpr int kSamIdBytes = 16;

struct Exports {
  decltype(&OpenComm) open;
  decltype(&CloseComm) close;
  decltype(&SelectCard) select;
  decltype(&ReadBaseInfo) read;
  decltype(&GetSamID) sam_id;
  Getter getters[kGetterCount];

  explicit Exports(const fuzz::Edition& e)
      : open(e.fn<decltype(&OpenComm)>("OpenComm")),
        close(e.fn<decltype(&CloseComm)>("CloseComm")),
        select(e.fn<decltype(&SelectCard)>("SelectCard")),
        read(e.fn<decltype(&ReadBaseInfo)>("ReadBaseInfo")),
        sam_id(e.fn<decltype(&GetSamID)>("GetSamID")) {
    for (int i = 0; i < kGetterCount; ++i) getters[i] = e.fn<Getter>(kGetters[i].name);
  }
};

class Cycle {
 public:
  Cycle(const Exports& x, FuzzedDataProvider& in, int reader_port)
      : x_(x), in_(in), reader_port_(reader_port) {}

  void open() { x_.open(fuzz::fuzzed_port(in_, reader_port_)); }
  void close() { x_.close(); }
  void select() { x_.select(); }

  void sam_id() {
    fuzz::Buffer id(kSamIdBytes);
    const int result = x_.sam_id(id.bytes());
    FUZZ_CHECK(result == 0 || result == 1, result);
  }

  void read(int type) {
    const int result = x_.read(type);
    if (type < 1 || type > 5) FUZZ_CHECK(result == 0, result);
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

  void any() {
    switch (in_.ConsumeIntegralInRange(0, 6)) {
      case 0:
        return open();
      case 1:
        return close();
      case 2:
        return select();
      case 3:
        return read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 7)
                                      : in_.ConsumeIntegral<int>());
      case 4:
        return sam_id();
      case 5:
        return get_all();
      default:
        return get(in_.ConsumeIntegralInRange(0, kGetterCount - 1));
    }
  }

 private:
  const Exports& x_;
  FuzzedDataProvider& in_;
  int reader_port_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition(testbed::kSdtEdition, "OpenComm");
  FuzzedDataProvider in(data, size);
  fuzz::clear_output_folder();
  const int reader_port = fuzz::script_simulator(in);
  fuzz::block_some(in,
                   {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt"});
  edition.fresh();
  const Exports exports(edition);
  Cycle cycle(exports, in, reader_port);

  cycle.get_all();  // before any read: every value empty
  cycle.open();
  cycle.sam_id();
  cycle.select();
  for (int type = 0; type <= 6; ++type) {
    cycle.read(type);
    cycle.get_all();
  }
  cycle.close();
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) cycle.any();
  return 0;
}
