// Whole card cycles through the vantrel edition against a simulated reader scripted from the
// input: open (switching between the USB and serial driver), authenticate, every content mode,
// every getter at fuzzed buffer sizes, the three setters on fuzzed files and messages, the two
// pass-throughs, close, then a run of calls in an order the input chooses.
#include <algorithm>
#include <cstring>
#include <string>

#include "include/vantrel.h"
#include "tests/fuzz/harness.h"

namespace {

using Getter = decltype(&GetPeopleName);

struct GetterInfo {
  const char* name;
  int largest;  // the longest value in bytes
};
// The photo getter's value is the decoded bitmap, at most the store's 102400 bytes.
constexpr int kBitmapBytes = 102400;
constexpr GetterInfo kGetters[] = {
    {"GetPeopleName", 30},    {"GetPeopleSex", 4},     {"GetPeopleNation", 8},
    {"GetPeopleBirthday", 16}, {"GetPeopleAddress", 70}, {"GetPeopleIDCode", 36},
    {"GetDepartment", 30},    {"GetStartDate", 16},    {"GetEndDate", 16},
    {"GetReserve", 36},       {"GetPhotoBMP", kBitmapBytes}};
constexpr int kGetterCount = sizeof kGetters / sizeof kGetters[0];
constexpr int kAppendedAddressBytes = 70;

// The pass-throughs' buffers: what the driver writes at most.
constexpr int kManagementInfoBytes = 28;
constexpr int kSamIdTextBytes = 40;

struct Exports {
  decltype(&InitComm) open;
  decltype(&CloseComm) close;
  decltype(&Authenticate) authenticate;
  decltype(&Read_Content) read;
  Getter getters[kGetterCount];
  decltype(&GetAppAddress) appended_address;
  decltype(&SetBaseData) set_base_data;
  decltype(&SetPhotoData) set_photo_data;
  decltype(&SetAppAddress) set_appended_address;
  decltype(&ReadMngInfo) read_mng_info;
  decltype(&GetSAMIDToStr) sam_id_text;

  explicit Exports(const fuzz::Edition& e)
      : open(e.fn<decltype(&InitComm)>("InitComm")),
        close(e.fn<decltype(&CloseComm)>("CloseComm")),
        authenticate(e.fn<decltype(&Authenticate)>("Authenticate")),
        read(e.fn<decltype(&Read_Content)>("Read_Content")),
        appended_address(e.fn<decltype(&GetAppAddress)>("GetAppAddress")),
        set_base_data(e.fn<decltype(&SetBaseData)>("SetBaseData")),
        set_photo_data(e.fn<decltype(&SetPhotoData)>("SetPhotoData")),
        set_appended_address(e.fn<decltype(&SetAppAddress)>("SetAppAddress")),
        read_mng_info(e.fn<decltype(&ReadMngInfo)>("ReadMngInfo")),
        sam_id_text(e.fn<decltype(&GetSAMIDToStr)>("GetSAMIDToStr")) {
    for (int i = 0; i < kGetterCount; ++i) getters[i] = e.fn<Getter>(kGetters[i].name);
  }
};

// A getter's result: a byte count that fits both the buffer and the value, and after a value
// that fit, zero bytes up to the buffer's size.
void check_copied(fuzz::Buffer& buffer, int result, int room, int largest) {
  FUZZ_CHECK(result >= 0 && result <= std::max(room, 0) && result <= largest, result);
  if (result == 0) return;
  for (int i = result; i < buffer.size(); ++i)
    FUZZ_CHECK(buffer.data()[i] == 0, i);
}

class Cycle {
 public:
  Cycle(const Exports& x, FuzzedDataProvider& in, int reader_port)
      : x_(x), in_(in), reader_port_(reader_port) {}

  void open() {
    const int result = x_.open(fuzz::fuzzed_port(in_, reader_port_));
    FUZZ_CHECK(result == 0 || result == 1, result);
  }
  void close() {
    const int result = x_.close();
    FUZZ_CHECK(result == 0 || result == 1, result);
  }
  void authenticate() {
    const int result = x_.authenticate();
    FUZZ_CHECK(result == 0 || result == 1, result);
  }

  // Mode 1 may also hand on the decoder's own failure; the other modes answer 1 or 0.
  void read(int mode) {
    const int result = x_.read(mode);
    if (mode != 1) FUZZ_CHECK(result == 0 || result == 1, result);
    if (mode < 1 || mode > 5 || mode == 4) FUZZ_CHECK(result == 0, result);
  }

  void get(int which) {
    const GetterInfo& g = kGetters[which];
    const int size = fuzz::fuzzed_size(in_, g.largest, g.largest + 8);
    if (null_pointer()) {
      FUZZ_CHECK(x_.getters[which](nullptr, size) == 0, which);
      return;
    }
    fuzz::Buffer buffer(size);
    check_copied(buffer, x_.getters[which](buffer.data(), size), size, g.largest);
  }

  // One byte of the buffer is held back.
  void get_appended_address() {
    const int index = in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 6)
                                        : in_.ConsumeIntegral<int>();
    const int size = fuzz::fuzzed_size(in_, kAppendedAddressBytes + 1, kAppendedAddressBytes + 8);
    if (null_pointer()) {
      FUZZ_CHECK(x_.appended_address(index, nullptr, size) == 0, index);
      return;
    }
    fuzz::Buffer buffer(size);
    const int result = x_.appended_address(index, buffer.data(), size);
    check_copied(buffer, result, size > 0 ? size - 1 : 0, kAppendedAddressBytes);
    if (index < 1 || index > 4) FUZZ_CHECK(result == 0, index);
  }

  void get_all() {
    for (int i = 0; i < kGetterCount; ++i) get(i);
    get_appended_address();
  }

  // A saved Identity record: a file of fuzzed bytes around the record's 256, the WZ.txt of a
  // read, a file that does not exist, an empty path or none.
  void set_base_data() {
    std::string path;
    switch (in_.ConsumeIntegralInRange(0, 4)) {
      case 0:
      case 1: {
        const std::size_t length =
            in_.ConsumeBool() ? in_.PickValueInArray({255u, 256u, 257u, 0u})
                              : in_.ConsumeIntegralInRange<std::size_t>(0, 600);
        path = fuzz::output_folder() + "base.bin";
        fuzz::write_file(path, fuzzed_identity_file(length));
        break;
      }
      case 2:
        path = fuzz::output_folder() + "WZ.txt";
        break;
      case 3:
        path = fuzz::output_folder() + "missing.bin";
        break;
      default:
        if (in_.ConsumeBool()) {
          FUZZ_CHECK(x_.set_base_data(nullptr) == 0, 0);
          return;
        }
        break;  // the empty path
    }
    const int result = x_.set_base_data(path.c_str());
    FUZZ_CHECK(result == 0 || result == 1, result);
  }

  // A saved photo: the ZP.wlt of a read, or a photo file of fuzzed bytes in the output folder,
  // in a folder below it, without an extension, beside a folder name holding a dot; a missing
  // file, an empty path or none.
  void set_photo_data() {
    static const char* const kPhotos[] = {"ZP.wlt",          "photo.wlt", "sub/photo.wlt",
                                          "photo",           "a.b/photo", "sub/ZP.wlt",
                                          "missing/none.wlt"};
    const int which = in_.ConsumeIntegralInRange(0, 8);
    if (which == 8) {
      x_.set_photo_data(nullptr);
      return;
    }
    std::string path;
    if (which < 7) {
      path = fuzz::output_folder() + kPhotos[which];
      if (which > 0 && which < 6 && in_.ConsumeBool()) {
        fuzz::make_folder(std::string(plat::folder_of(path)));
        fuzz::write_file(path, in_.ConsumeBytes<unsigned char>(
                                   in_.ConsumeIntegralInRange<std::size_t>(0, 2048)));
      }
    }
    x_.set_photo_data(path.c_str());
  }

  // An appended-address message of fuzzed length around its 280 bytes, in a block of exactly
  // that length; now and then no message at all.
  void set_appended_address() {
    const int length = fuzz::fuzzed_size(in_, 280, 600);
    if (null_pointer()) {
      FUZZ_CHECK(x_.set_appended_address(nullptr, length) == 0, length);
      return;
    }
    fuzz::Buffer message(length);
    if (length > 0) {
      const fuzz::Bytes bytes = in_.ConsumeBytes<unsigned char>(static_cast<std::size_t>(length));
      if (!bytes.empty()) std::memcpy(message.data(), bytes.data(), bytes.size());
    }
    const int result = x_.set_appended_address(message.bytes(), length);
    FUZZ_CHECK(result == 0 || result == 1, result);
    if (length < 280) FUZZ_CHECK(result == 0, length);
  }

  // The pass-throughs hand the application's own port and flag to the driver.
  void pass_throughs() {
    const int port = fuzz::fuzzed_port(in_, reader_port_);
    const int flag = in_.ConsumeBool() ? 0 : in_.ConsumeIntegral<int>();
    fuzz::Buffer info(kManagementInfoBytes);
    x_.read_mng_info(port, info.bytes(), flag);
    fuzz::Buffer text(kSamIdTextBytes);
    x_.sam_id_text(port, text.data(), flag);
  }

  void any() {
    switch (in_.ConsumeIntegralInRange(0, 10)) {
      case 0:
        return open();
      case 1:
        return close();
      case 2:
        return authenticate();
      case 3:
        return read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 7)
                                      : in_.ConsumeIntegral<int>());
      case 4:
        return get(in_.ConsumeIntegralInRange(0, kGetterCount - 1));
      case 5:
        return get_appended_address();
      case 6:
        return set_base_data();
      case 7:
        return set_photo_data();
      case 8:
        return set_appended_address();
      case 9:
        return pass_throughs();
      default:
        return get_all();
    }
  }

 private:
  bool null_pointer() { return in_.ConsumeIntegralInRange(0, 31) == 0; }

  // A record file: the input's bytes, or a padded record with fuzzed fields, cut to `length`.
  fuzz::Bytes fuzzed_identity_file(std::size_t length) {
    fuzz::Bytes bytes = in_.ConsumeBool() ? fuzz::fuzzed_identity(in_)
                                          : in_.ConsumeBytes<unsigned char>(length);
    bytes.resize(length, ' ');
    return bytes;
  }

  const Exports& x_;
  FuzzedDataProvider& in_;
  int reader_port_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition("vantrel/libvantrel.so", "InitComm");
  FuzzedDataProvider in(data, size);
  fuzz::clear_output_folder();
  // The error log beside the library: each input starts without one.
  plat::delete_file(fuzz::build_path("vantrel/idcrerror.log").c_str());
  fuzz::Simulator& sim = fuzz::Simulator::instance();
  sim.script(in);
  fuzz::block_some(in, {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"});
  edition.fresh();
  const Exports exports(edition);
  Cycle cycle(exports, in, sim.reader_port());

  cycle.get_all();  // before any read
  cycle.open();
  if (in.ConsumeBool()) cycle.open();
  cycle.authenticate();
  for (int mode : {1, 2, 3, 5, 4, 0, 6}) {
    cycle.read(mode);
    cycle.get_all();
  }
  cycle.read(1);
  cycle.set_base_data();
  cycle.set_photo_data();
  cycle.set_appended_address();
  cycle.get_all();
  cycle.pass_throughs();
  cycle.close();
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) cycle.any();
  return 0;
}
