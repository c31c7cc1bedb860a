// The vantrel edition's fixture, shared by its suite and the matrix: the edition loaded as
// ridel.dll, its exports, its error log and a card whose every field is known.
#pragma once

#include <string>
#include <vector>

#include "driver/sdtapi.h"
#include "include/vantrel.h"
#include "tests/support/testbed_gtest.h"

namespace vantrel_test {

using testbed::Bytes;
using testbed::text;

// Windows: a copy of the build's vantrel.dll named ridel.dll beside the test program, since the
// library finds its strings and its log folder under that name. Elsewhere the build's own.
std::string library_path();
// idcrerror.log beside the library.
std::string log_path();

// The messages of the string table, as the log must carry them.
const std::string& message(int id);
// A log line without its time stamp: code, context in angle brackets, message text.
std::string entry(int message_id, long long code, const std::string& context);

// The test card and the ANSI texts its slots must hold.
testbed::IdentityRecord test_card();
Bytes test_appended_address();  // 280 bytes, the address "上海市"
extern const std::string kName, kBirth, kAddress, kIdNumber, kAuthority, kValidFrom, kValidTo,
    kReserved, kAppendedAddressText;

// A getter's result and the first `size` bytes of its buffer.
struct Got {
  int result;
  std::string bytes;
};

class VantrelTest : public testbed::EditionTest {
 protected:
  VantrelTest();
  void SetUp() override;
  void TearDown() override;

  template <class Fn>
  Fn fn(const char* name) {
    return edition().fn<Fn>(name);
  }
  int InitComm(int port) { return fn<decltype(&::InitComm)>("InitComm")(port); }
  int CloseComm() { return fn<decltype(&::CloseComm)>("CloseComm")(); }
  int Authenticate() { return fn<decltype(&::Authenticate)>("Authenticate")(); }
  int Read_Content(int mode) { return fn<decltype(&::Read_Content)>("Read_Content")(mode); }
  int SetBaseData(const char* path) { return fn<decltype(&::SetBaseData)>("SetBaseData")(path); }
  int SetPhotoData(const char* path) { return fn<decltype(&::SetPhotoData)>("SetPhotoData")(path); }
  int SetAppAddress(const unsigned char* data, int length) {
    return fn<decltype(&::SetAppAddress)>("SetAppAddress")(data, length);
  }
  // Calls a getter (GetAppAddress with `index`) with a buffer of `size` bytes, prefilled with
  // 0xCC, inside a larger one whose bytes past `size` must stay untouched.
  Got get(const char* getter, int size, int index = 1);

  // The card on the reader, a port open and the card read in full.
  void read_test_card();
  // Fills the store from a record file, without the driver.
  int set_base_data(const Bytes& record);

  // The log's lines without their time stamps, each checked to end in a well-formed local time
  // taken during the case and in CR LF.
  std::vector<std::string> log_lines();

 private:
  plat::LocalTime started_{};
};

}  // namespace vantrel_test
