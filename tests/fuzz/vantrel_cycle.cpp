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

// The photo getter's value is the decoded bitmap, at most the store's 102400 bytes.
constexpr int kBitmapBytes = 102400;
// The longest value in bytes.
constexpr fuzz::GetterInfo kGetters[] = {
    {"GetPeopleName", 30},    {"GetPeopleSex", 4},     {"GetPeopleNation", 8},
    {"GetPeopleBirthday", 16}, {"GetPeopleAddress", 70}, {"GetPeopleIDCode", 36},
    {"GetDepartment", 30},    {"GetStartDate", 16},    {"GetEndDate", 16},
    {"GetReserve", 36},       {"GetPhotoBMP", kBitmapBytes}};
constexpr int kGetterCount = sizeof kGetters / sizeof kGetters[0];
constexpr int kAppendedAddressBytes = 70;

// The pass-throughs' buffers: what the driver writes at most.
constexpr int kManagementInfoBytes = 28;
constexpr int kSamIdTextBytes = 40;

// The content modes in the order the sequence reads them: the valid ones first, then the gap
// and one on each side.
constexpr int kModes[] = {1, 2, 3, 5, 4, 0, 6};

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
      : open(FUZZ_EXPORT(e, InitComm)),
        close(FUZZ_EXPORT(e, CloseComm)),
        authenticate(FUZZ_EXPORT(e, Authenticate)),
        read(FUZZ_EXPORT(e, Read_Content)),
        appended_address(FUZZ_EXPORT(e, GetAppAddress)),
        set_base_data(FUZZ_EXPORT(e, SetBaseData)),
        set_photo_data(FUZZ_EXPORT(e, SetPhotoData)),
        set_appended_address(FUZZ_EXPORT(e, SetAppAddress)),
        read_mng_info(FUZZ_EXPORT(e, ReadMngInfo)),
        sam_id_text(FUZZ_EXPORT(e, GetSAMIDToStr)) {
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

using fuzz::check_flag;

class Cycle : public fuzz::CycleBase<Exports> {
 public:
  using CycleBase::CycleBase;

  void open() { check_flag(x_.open(port())); }
  void perhaps_open_again() {
    if (in_.ConsumeBool()) open();
  }
  void close() { check_flag(x_.close()); }
  void authenticate() { check_flag(x_.authenticate()); }

  // Mode 1 may also hand on the decoder's own failure; the other modes answer 1 or 0.
  void read(int mode) {
    const int result = x_.read(mode);
    if (mode != 1) FUZZ_CHECK(result == 0 || result == 1, result);
    if (mode < 1 || mode > 5 || mode == 4) FUZZ_CHECK(result == 0, result);
  }
  // Each mode, every value after each, then mode 1 once more: the setters below start from a
  // full read's files.
  void read_every_mode() {
    for (const int mode : kModes) {
      read(mode);
      get_all();
    }
    read(1);
  }
  void read_any_mode() {
    read(in_.ConsumeBool() ? in_.ConsumeIntegralInRange(-1, 7) : in_.ConsumeIntegral<int>());
  }

  void get(int which) {
    const fuzz::GetterInfo& g = kGetters[which];
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
  void get_any() { get(in_.ConsumeIntegralInRange(0, kGetterCount - 1)); }

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
        path = testbed::output_folder() + "base.bin";
        testbed::write_file(path, fuzzed_identity_file(length));
        break;
      }
      case 2:
        path = testbed::output_folder() + "WZ.txt";
        break;
      case 3:
        path = testbed::output_folder() + "missing.bin";
        break;
      default:
        if (in_.ConsumeBool()) {
          FUZZ_CHECK(x_.set_base_data(nullptr) == 0, 0);
          return;
        }
        break;  // the empty path
    }
    check_flag(x_.set_base_data(path.c_str()));
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
      path = testbed::output_folder() + kPhotos[which];
      if (which > 0 && which < 6 && in_.ConsumeBool()) {
        fuzz::make_folder(std::string(plat::folder_of(path)));
        testbed::write_file(path, in_.ConsumeBytes<unsigned char>(
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
    check_flag(result);
    if (length < 280) FUZZ_CHECK(result == 0, length);
  }

  // The pass-throughs hand the application's own port and flag to the driver.
  void pass_throughs() {
    const int application_port = port();
    const int flag = in_.ConsumeBool() ? 0 : in_.ConsumeIntegral<int>();
    fuzz::Buffer info(kManagementInfoBytes);
    x_.read_mng_info(application_port, info.bytes(), flag);
    fuzz::Buffer text(kSamIdTextBytes);
    x_.sam_id_text(application_port, text.data(), flag);
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
};

constexpr const char* kResultFiles[] = {"WZ.txt", "XP.wlt",     "ZP.wlt",
                                        "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"};
// Every value is empty before any read.
constexpr fuzz::Step<Cycle> kSequence[] = {
    &Cycle::get_all,         &Cycle::open,          &Cycle::perhaps_open_again,
    &Cycle::authenticate,    &Cycle::read_every_mode, &Cycle::set_base_data,
    &Cycle::set_photo_data,  &Cycle::set_appended_address, &Cycle::get_all,
    &Cycle::pass_throughs,   &Cycle::close};
constexpr fuzz::Step<Cycle> kChosen[] = {
    &Cycle::open,           &Cycle::close,          &Cycle::authenticate,
    &Cycle::read_any_mode,  &Cycle::get_any,        &Cycle::get_appended_address,
    &Cycle::set_base_data,  &Cycle::set_photo_data, &Cycle::set_appended_address,
    &Cycle::pass_throughs,  &Cycle::get_all};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Edition edition(testbed::kVantrelEdition, "InitComm");
  // The error log beside the library: each input starts without one.
  plat::delete_file(testbed::build_path("vantrel/idcrerror.log").c_str());
  return fuzz::run_cycle<Cycle>(edition, data, size, {kResultFiles, kSequence, kChosen});
}
