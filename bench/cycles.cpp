#include "bench/cycles.h"

#include <memory>
#include <string>

#include "bench/setup.h"
// The three headers declare the exports that the editions share in the same way.
#include "include/ridel_qdx.h"
#include "include/ridel_sdt.h"
#include "include/vantrel.h"

namespace ridel_bench {
namespace {

constexpr int kPort = 1001;

// Runs the cycle until its files are steady, takes the text files' bytes, then checks the
// baseline against the cycle.
template <class Cycle>
Cycle* prepared(std::unique_ptr<Cycle>& cycle, const char* name) {
  if (!cycle->loaded()) return nullptr;
  cycle->set_up();
  cycle->cycle();
  cycle->cycle();
  cycle->take_text_files();
  check_baseline(
      name, cycle->files(), [&] { cycle->set_up(); }, [&] { cycle->cycle(); },
      [&] { cycle->baseline(); });
  return cycle.get();
}

// ---- QDX edition --------------------------------------------------------------------------------

// InitComm, Authenticate, Read_Content in modes 4 (text lines, photo, bitmap), 3 (appended
// address) and 5 (management information), CloseComm. After the first open the SAM ID is not
// read again, so a steady cycle opens with two driver calls.
class Qdx : public EditionCycle {
 public:
  Qdx() : lib_(edition(testbed::kQdxEdition)) {
    if (!loaded()) return;
    init_ = lib_->fn<decltype(&InitComm)>("InitComm");
    close_ = lib_->fn<decltype(&CloseComm)>("CloseComm");
    authenticate_ = lib_->fn<decltype(&Authenticate)>("Authenticate");
    read_ = lib_->fn<decltype(&Read_Content)>("Read_Content");
  }
  bool loaded() const { return lib_ != nullptr; }
  std::vector<std::string> files() const {
    return {text_file_, photo_file_, bitmap_file_, address_file_, info_file_};
  }
  void take_text_files() { text_ = testbed::read_file(text_file_); }

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
    write_file(text_file_, text_.data(), text_.size());
    write_file(photo_file_, photo_, photo_length);
    d_.GetBmp(photo_path_.data(), drv::kSelectorSerial);
    unsigned address_length = 0;
    d_.ReadNewAppMsg(kPort, address_, &address_length, 0);
    write_file(address_file_, address_, address_length);
    d_.ReadMngInfo(kPort, info_, 0);
    write_file(info_file_, info_, sizeof info_);
    d_.ClosePort(kPort);
  }

 private:
  const testbed::Library* lib_;
  decltype(&InitComm) init_ = nullptr;
  decltype(&CloseComm) close_ = nullptr;
  decltype(&Authenticate) authenticate_ = nullptr;
  decltype(&Read_Content) read_ = nullptr;

  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Qdx);

  std::string text_file_ = testbed::output_folder() + "wz.txt";
  std::string photo_file_ = testbed::output_folder() + "zp.wlt";
  std::string bitmap_file_ = testbed::output_folder() + "zp.bmp";
  std::string address_file_ = testbed::output_folder() + "NEWADDR.txt";
  std::string info_file_ = testbed::output_folder() + "IINSNDN.bin";
  std::string photo_path_ = photo_file_;
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
class Sdt : public EditionCycle {
 public:
  Sdt() : lib_(edition(testbed::kSdtEdition)) {
    if (!loaded()) return;
    open_comm_ = lib_->fn<decltype(&OpenComm)>("OpenComm");
    close_comm_ = lib_->fn<decltype(&CloseComm)>("CloseComm");
    select_card_ = lib_->fn<decltype(&SelectCard)>("SelectCard");
    read_info_ = lib_->fn<decltype(&ReadBaseInfo)>("ReadBaseInfo");
    for (int i = 0; i < kSdtGetterCount; ++i)
      getters_[i] = lib_->fn<decltype(&GetName)>(kSdtGetters[i]);
  }
  bool loaded() const { return lib_ != nullptr; }
  std::vector<std::string> files() const {
    return {fields_file_, record_file_, photo_file_, copy_file_, bitmap_file_,
            message_file_, address_file_};
  }
  void take_text_files() {
    fields_ = testbed::read_file(fields_file_);
    address_text_ = testbed::read_file(address_file_);
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
    write_file(fields_file_, fields_.data(), fields_.size());
    write_file(record_file_, text_, text_length);
    write_file(photo_file_, photo_, photo_length);
    write_file(copy_file_, photo_, photo_length);
    d_.GetBmp(photo_path_.data(), drv::kSelectorUsb);
    unsigned message_length = 0;
    d_.ReadNewAppMsg(kPort, message_, &message_length, kSdtFlag);
    write_file(address_file_, address_text_.data(), address_text_.size());
    write_file(message_file_, message_, message_length);
    d_.ClosePort(kPort);
  }

 private:
  const testbed::Library* lib_;
  decltype(&OpenComm) open_comm_ = nullptr;
  decltype(&CloseComm) close_comm_ = nullptr;
  decltype(&SelectCard) select_card_ = nullptr;
  decltype(&ReadBaseInfo) read_info_ = nullptr;
  decltype(&GetName) getters_[kSdtGetterCount] = {};
  char value_[RIDEL_SDT_VALUE_BUFFER];

  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Sdt);

  std::string fields_file_ = testbed::output_folder() + "wx.txt";
  std::string record_file_ = testbed::output_folder() + "wz.txt";
  std::string photo_file_ = testbed::output_folder() + "zp.wlt";
  std::string copy_file_ = testbed::output_folder() + "pic.wlt";
  std::string bitmap_file_ = testbed::output_folder() + "zp.bmp";
  std::string message_file_ = testbed::output_folder() + "NewAdd.txt";
  std::string address_file_ = testbed::output_folder() + "NewAdd1.txt";
  std::string photo_path_ = photo_file_;
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
class Vantrel : public EditionCycle {
 public:
  Vantrel() : lib_(edition(testbed::kVantrelEdition)) {
    if (!loaded()) return;
    init_ = lib_->fn<decltype(&InitComm)>("InitComm");
    close_ = lib_->fn<decltype(&CloseComm)>("CloseComm");
    authenticate_ = lib_->fn<decltype(&Authenticate)>("Authenticate");
    read_ = lib_->fn<decltype(&Read_Content)>("Read_Content");
    for (int i = 0; i < kVantrelTextGetterCount; ++i)
      text_getters_[i] = lib_->fn<decltype(&GetPeopleName)>(kVantrelTextGetters[i]);
    photo_getter_ = lib_->fn<decltype(&GetPhotoBMP)>("GetPhotoBMP");
    address_getter_ = lib_->fn<decltype(&GetAppAddress)>("GetAppAddress");
  }
  bool loaded() const { return lib_ != nullptr; }
  std::vector<std::string> files() const {
    return {record_file_, photo_file_, copy_file_, bitmap_file_, info_file_};
  }
  void take_text_files() {}  // every file of the cycle holds the driver's bytes

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
    write_file(record_file_, identity_, text_length);
    write_file(photo_file_, photo_, photo_length);
    write_file(copy_file_, photo_, photo_length);
    unsigned address_length = 0;
    d_.ReadNewAppMsg(kPort, address_, &address_length, 0);
    d_.ClosePort(kPort);
    d_.GetBmp(copy_path_.data(), drv::kSelectorUsb);
    d_.OpenPort(kPort);
    d_.ReadMngInfo(kPort, info_, 0);
    write_file(info_file_, info_, sizeof info_);
    d_.ClosePort(kPort);
  }

 private:
  const testbed::Library* lib_;
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

  std::string record_file_ = testbed::output_folder() + "WZ.txt";
  std::string photo_file_ = testbed::output_folder() + "XP.wlt";
  std::string copy_file_ = testbed::output_folder() + "ZP.wlt";
  std::string bitmap_file_ = testbed::output_folder() + "ZP.bmp";
  std::string info_file_ = testbed::output_folder() + "IINSNDN.Bin";
  std::string copy_path_ = copy_file_;

  unsigned char found_[5], selected_[9];
  unsigned char identity_[drv::kIdentityBytes + 1], photo_[drv::kPhotoBytes + 1];
  unsigned char address_[drv::kAppendedAddressBytes], info_[drv::kManagementInfoBytes];
};

// ---- The SDT edition's port scan ----------------------------------------------------------------

class PortScan : public EditionCycle {
 public:
  PortScan() : lib_(edition(testbed::kSdtEdition)) {
    if (loaded()) open_comm_ = lib_->fn<decltype(&OpenComm)>("OpenComm");
  }
  bool loaded() const { return lib_ != nullptr; }
  std::vector<std::string> files() const { return {}; }
  void take_text_files() {}

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
  const testbed::Library* lib_;
  decltype(&OpenComm) open_comm_ = nullptr;
  const drv::EntryPoints d_ = simulated_driver(drv::Prefix::Sdt);
};

}  // namespace

EditionCycle* qdx_cycle() {
  static auto cycle = std::make_unique<Qdx>();
  static Qdx* ready = prepared(cycle, "the QDX cycle");
  return ready;
}

EditionCycle* sdt_cycle() {
  static auto cycle = std::make_unique<Sdt>();
  static Sdt* ready = prepared(cycle, "the SDT cycle");
  return ready;
}

EditionCycle* vantrel_cycle() {
  static auto cycle = std::make_unique<Vantrel>();
  static Vantrel* ready = prepared(cycle, "the vantrel cycle");
  return ready;
}

EditionCycle* sdt_port_scan() {
  static auto scan = std::make_unique<PortScan>();
  static PortScan* ready = prepared(scan, "the SDT port scan");
  return ready;
}

void EditionCycle::set_up() const {
  testbed::Simulator& sim = simulator();
  sim.reset();
  sim.set_reader_port(kPort);
}

}  // namespace ridel_bench
