#include "bench/cycles.h"

#include <initializer_list>
#include <string>
#include <vector>

#include "bench/setup.h"
// The three headers declare the exports that the editions share in the same way.
#include "include/ridel_qdx.h"
#include "include/ridel_sdt.h"
#include "include/vantrel.h"

namespace ridel_bench {
namespace {

constexpr int kPort = 1001;

// An edition's cycle: the edition loaded by path and the result files its cycle writes, by name
// in the output folder, in the order its baseline refers to them.
class LibraryCycle : public EditionCycle {
 public:
  LibraryCycle(const testbed::LibraryFile& library, std::initializer_list<const char*> files)
      : lib_(edition(library)) {
    for (const char* name : files) files_.push_back(testbed::output_folder() + name);
  }
  bool loaded() const { return lib_ != nullptr; }
  const std::vector<std::string>& files() const { return files_; }
  // Takes the bytes of the edition's own text files, which the baseline then writes as they are.
  virtual void take_text_files() {}

 protected:
  template <class Fn>
  Fn fn(const char* name) const {
    return lib_->fn<Fn>(name);
  }
  // The path of the result file at `index` in the list the cycle was made with.
  const std::string& file(std::size_t index) const { return files_[index]; }

 private:
  const testbed::Library* lib_;
  std::vector<std::string> files_;
};

// The export `name`, typed as the public header declares it.
#define BENCH_EXPORT(name) fn<decltype(&name)>(#name)

// Runs the cycle until its files are steady, takes the text files' bytes, then checks the
// baseline against the cycle.
template <class Cycle>
Cycle* prepared(Cycle& cycle, const char* name) {
  if (!cycle.loaded()) return nullptr;
  cycle.set_up();
  cycle.cycle();
  cycle.cycle();
  cycle.take_text_files();
  check_baseline(
      name, cycle.files(), [&] { cycle.set_up(); }, [&] { cycle.cycle(); },
      [&] { cycle.baseline(); });
  return &cycle;
}

// A pair built and prepared on first use, and kept until the program ends.
template <class Cycle>
EditionCycle* ready() {
  static Cycle cycle;
  static Cycle* const prepared_cycle = prepared(cycle, Cycle::kName);
  return prepared_cycle;
}

// ---- QDX edition --------------------------------------------------------------------------------

// InitComm, Authenticate, Read_Content in modes 4 (text lines, photo, bitmap), 3 (appended
// address) and 5 (management information), CloseComm. After the first open the SAM ID is not
// read again, so a steady cycle opens with two driver calls.
class Qdx : public LibraryCycle {
 public:
  static constexpr const char* kName = "the QDX cycle";
  Qdx()
      : LibraryCycle(testbed::kQdxEdition,
                     {"wz.txt", "zp.wlt", "zp.bmp", "NEWADDR.txt", "IINSNDN.bin"}) {
    if (!loaded()) return;
    init_ = BENCH_EXPORT(InitComm);
    close_ = BENCH_EXPORT(CloseComm);
    authenticate_ = BENCH_EXPORT(Authenticate);
    read_ = BENCH_EXPORT(Read_Content);
  }
  void take_text_files() override { text_ = testbed::read_file(file(kText)); }

  void cycle() override {
    init_(kPort);
    authenticate_();
    read_(4);
    read_(3);
    read_(5);
    close_();
  }

  void baseline() override {
    d_.OpenPort(kPort);
    d_.GetSAMStatus(kPort, 0);
    d_.StartFindIDCard(kPort, found_, 0);
    d_.SelectIDCard(kPort, selected_, 0);
    unsigned text_length = 0, photo_length = 0;
    d_.ReadBaseMsg(kPort, identity_, &text_length, photo_, &photo_length, 0);
    write_file(file(kText), text_.data(), text_.size());
    write_file(file(kPhoto), photo_, photo_length);
    d_.GetBmp(photo_path_.data(), drv::kSelectorSerial);
    unsigned address_length = 0;
    d_.ReadNewAppMsg(kPort, address_, &address_length, 0);
    write_file(file(kAddress), address_, address_length);
    d_.ReadMngInfo(kPort, info_, 0);
    write_file(file(kInfo), info_, sizeof info_);
    d_.ClosePort(kPort);
  }

 private:
  // The result files, in the order the constructor names them.
  enum File { kText, kPhoto, kBitmap, kAddress, kInfo };
  decltype(&InitComm) init_ = nullptr;
  decltype(&CloseComm) close_ = nullptr;
  decltype(&Authenticate) authenticate_ = nullptr;
  decltype(&Read_Content) read_ = nullptr;

  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Qdx);

  std::string photo_path_ = file(kPhoto);  // the decoder's own copy, which it may write into
  Bytes text_;

  unsigned char found_[4], selected_[8];
  unsigned char identity_[drv::kIdentityBytes], photo_[drv::kPhotoBytes];
  unsigned char address_[drv::kAppendedAddressBytes], info_[drv::kManagementInfoBytes];
};

// ---- SDT edition --------------------------------------------------------------------------------

constexpr const char* kSdtGetters[] = {"GetAddr", "GetBegin", "GetName",  "GetSex",
                                       "GetFolk", "GetIDNum", "GetDep",   "GetBirth",
                                       "GetEnd",  "GetNewAddr", "GetPicPath"};
constexpr int kSdtGetterCount = sizeof kSdtGetters / sizeof kSdtGetters[0];
constexpr int kSdtFlag = 1;


// OpenComm (the reader answers on the first USB port), SelectCard, ReadBaseInfo 1 (text, photo,
// bitmap) and 3 (appended address), the eleven getters, CloseComm.
class Sdt : public LibraryCycle {
 public:
  static constexpr const char* kName = "the SDT cycle";
  Sdt()
      : LibraryCycle(testbed::kSdtEdition, {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp",
                                            "NewAdd.txt", "NewAdd1.txt"}) {
    if (!loaded()) return;
    open_comm_ = BENCH_EXPORT(OpenComm);
    close_comm_ = BENCH_EXPORT(CloseComm);
    select_card_ = BENCH_EXPORT(SelectCard);
    read_info_ = BENCH_EXPORT(ReadBaseInfo);
    for (int i = 0; i < kSdtGetterCount; ++i) getters_[i] = fn<decltype(&GetName)>(kSdtGetters[i]);
  }
  void take_text_files() override {
    fields_ = testbed::read_file(file(kFields));
    address_text_ = testbed::read_file(file(kAddress));
  }

  void cycle() override {
    open_comm_(kPort);
    select_card_();
    read_info_(1);
    read_info_(3);
    for (decltype(&GetName) get : getters_) get(value_);
    close_comm_();
  }

  void baseline() override {
    d_.OpenPort(kPort);
    d_.GetSAMStatus(kPort, kSdtFlag);
    d_.StartFindIDCard(kPort, message_, kSdtFlag);
    d_.SelectIDCard(kPort, message_, kSdtFlag);
    unsigned text_length = 0, photo_length = 0;
    d_.ReadBaseMsg(kPort, text_, &text_length, photo_, &photo_length, kSdtFlag);
    write_file(file(kFields), fields_.data(), fields_.size());
    write_file(file(kRecord), text_, text_length);
    write_file(file(kPhoto), photo_, photo_length);
    write_file(file(kCopy), photo_, photo_length);
    d_.GetBmp(photo_path_.data(), drv::kSelectorUsb);
    unsigned message_length = 0;
    d_.ReadNewAppMsg(kPort, message_, &message_length, kSdtFlag);
    write_file(file(kAddress), address_text_.data(), address_text_.size());
    write_file(file(kMessage), message_, message_length);
    d_.ClosePort(kPort);
  }

 private:
  // The result files, in the order the constructor names them.
  enum File { kFields, kRecord, kPhoto, kCopy, kBitmap, kMessage, kAddress };
  decltype(&OpenComm) open_comm_ = nullptr;
  decltype(&CloseComm) close_comm_ = nullptr;
  decltype(&SelectCard) select_card_ = nullptr;
  decltype(&ReadBaseInfo) read_info_ = nullptr;
  decltype(&GetName) getters_[kSdtGetterCount] = {};
  char value_[RIDEL_SDT_VALUE_BUFFER];

  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Sdt);

  std::string photo_path_ = file(kPhoto);
  Bytes fields_, address_text_;

  unsigned char message_[2048], text_[1024], photo_[2048];
};

// ---- vantrel edition ----------------------------------------------------------------------------

constexpr const char* kVantrelTextGetters[] = {
    "GetPeopleName", "GetPeopleSex",  "GetPeopleNation", "GetPeopleBirthday",
    "GetPeopleAddress", "GetPeopleIDCode", "GetDepartment", "GetStartDate",
    "GetEndDate",    "GetReserve"};
constexpr int kVantrelTextGetterCount =
    sizeof kVantrelTextGetters / sizeof kVantrelTextGetters[0];
constexpr int kBitmapBytes = 102400;

// InitComm, Authenticate, Read_Content in modes 1 (text and photo files, appended address,
// bitmap with the port closed around the decoder, field store) and 5 (management information),
// the twelve getters, CloseComm.
class Vantrel : public LibraryCycle {
 public:
  static constexpr const char* kName = "the vantrel cycle";
  // Every file of the cycle holds the driver's bytes: no text files to take.
  Vantrel()
      : LibraryCycle(testbed::kVantrelEdition,
                     {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "IINSNDN.Bin"}) {
    if (!loaded()) return;
    init_ = BENCH_EXPORT(InitComm);
    close_ = BENCH_EXPORT(CloseComm);
    authenticate_ = BENCH_EXPORT(Authenticate);
    read_ = BENCH_EXPORT(Read_Content);
    for (int i = 0; i < kVantrelTextGetterCount; ++i)
      text_getters_[i] = fn<decltype(&GetPeopleName)>(kVantrelTextGetters[i]);
    photo_getter_ = BENCH_EXPORT(GetPhotoBMP);
    address_getter_ = BENCH_EXPORT(GetAppAddress);
  }

  void cycle() override {
    init_(kPort);
    authenticate_();
    read_(1);
    read_(5);
    for (decltype(&GetPeopleName) get : text_getters_) get(value_, sizeof value_);
    photo_getter_(bitmap_.data(), kBitmapBytes);
    address_getter_(1, value_, sizeof value_);
    close_();
  }

  void baseline() override {
    d_.OpenPort(kPort);
    d_.GetSAMStatus(kPort, 0);
    d_.GetSAMStatus(kPort, 0);
    d_.StartFindIDCard(kPort, found_, 0);
    d_.SelectIDCard(kPort, selected_, 0);
    unsigned text_length = 0, photo_length = 0;
    d_.ReadBaseMsg(kPort, identity_, &text_length, photo_, &photo_length, 0);
    write_file(file(kRecord), identity_, text_length);
    write_file(file(kPhoto), photo_, photo_length);
    write_file(file(kCopy), photo_, photo_length);
    unsigned address_length = 0;
    d_.ReadNewAppMsg(kPort, address_, &address_length, 0);
    d_.ClosePort(kPort);
    d_.GetBmp(copy_path_.data(), drv::kSelectorUsb);
    d_.OpenPort(kPort);
    d_.ReadMngInfo(kPort, info_, 0);
    write_file(file(kInfo), info_, sizeof info_);
    d_.ClosePort(kPort);
  }

 private:
  // The result files, in the order the constructor names them.
  enum File { kRecord, kPhoto, kCopy, kBitmap, kInfo };
  decltype(&InitComm) init_ = nullptr;
  decltype(&CloseComm) close_ = nullptr;
  decltype(&Authenticate) authenticate_ = nullptr;
  decltype(&Read_Content) read_ = nullptr;
  decltype(&GetPeopleName) text_getters_[kVantrelTextGetterCount] = {};
  decltype(&GetPhotoBMP) photo_getter_ = nullptr;
  decltype(&GetAppAddress) address_getter_ = nullptr;
  char value_[128];
  std::vector<char> bitmap_ = std::vector<char>(kBitmapBytes);

  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Sdt);

  std::string copy_path_ = file(kCopy);

  unsigned char found_[5], selected_[9];
  unsigned char identity_[drv::kIdentityBytes + 1], photo_[drv::kPhotoBytes + 1];
  unsigned char address_[drv::kAppendedAddressBytes], info_[drv::kManagementInfoBytes];
};

// ---- The SDT edition's port scan ----------------------------------------------------------------

class PortScan : public LibraryCycle {
 public:
  static constexpr const char* kName = "the SDT port scan";
  PortScan() : LibraryCycle(testbed::kSdtEdition, {}) {
    if (loaded()) open_comm_ = BENCH_EXPORT(OpenComm);
  }

  void set_up() const override {
    testbed::Simulator& sim = simulator();
    sim.reset();
    sim.set_reader_port(drv::kLastUsbPort);
  }
  void cycle() override { open_comm_(kPort); }
  void baseline() override {
    for (int port = drv::kFirstUsbPort; port <= drv::kLastUsbPort; ++port)
      if (d_.OpenPort(port) == drv::kOk && d_.GetSAMStatus(port, kSdtFlag) == drv::kOk) return;
  }

 private:
  decltype(&OpenComm) open_comm_ = nullptr;
  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Sdt);
};

}  // namespace

const Pair kPairs[] = {
    {"cycle", "qdx", "qdx cycle", true, &ready<Qdx>},
    {"cycle", "sdt", "sdt cycle", true, &ready<Sdt>},
    {"cycle", "vantrel", "vantrel cycle", true, &ready<Vantrel>},
    {"port_scan", "sdt", "sdt port scan to 1016", false, &ready<PortScan>},
};

void EditionCycle::set_up() const {
  testbed::Simulator& sim = simulator();
  sim.reset();
  sim.set_reader_port(kPort);
}

}  // namespace ridel_bench
