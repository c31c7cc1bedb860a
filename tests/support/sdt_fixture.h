// The SDT edition's fixture, shared by its suite and the matrix: its exports, its result files
// and a test card.
#pragma once

#include <initializer_list>
#include <string>

#include "driver/sdtapi.h"
#include "include/ridel_sdt.h"
#include "tests/support/testbed_gtest.h"

namespace sdt_test {

inline constexpr int kReaderPort = 1001;  // where the simulated reader answers out of the box

// The card that the cases read, and what the edition makes of it (GBK).
testbed::IdentityRecord test_card();
namespace expect {
extern const std::string kName;        // 王小明
extern const std::string kFemale;      // 女
extern const std::string kMale;        // 男
extern const std::string kUnknown;     // 未知
extern const std::string kNation;      // 毛南族 (code 36)
extern const std::string kHanZu;       // 汉族
extern const std::string kBirth;       // 1990-02-15
extern const std::string kAddress;     // 北京市东城区景山前街4号
extern const std::string kIdNumber;    // 11010119900215002X
extern const std::string kAuthority;   // 北京市公安局东城分局
extern const std::string kValidFrom;   // 2010-01-01
extern const std::string kValidTo;     // 长期-- (no end date: the card's text, dashed)
}  // namespace expect

// An appended-address message of 280 bytes: the text padded with blanks to 35 characters.
testbed::Bytes appended_message(std::u16string_view address);
// 上海市浦东新区世纪大道100号, as UCS-2 for the card and as the GBK text expected from it.
inline constexpr std::u16string_view kAppendedAddress = u"上海市浦东新区世纪大道100号";
extern const std::string kAppendedAddressGbk;

// A photo record whose bytes differ from the simulator's sample, `seed` making them differ again.
testbed::Bytes photo(unsigned seed, std::size_t size = 1024);

// wx.txt as it must be: the values, each followed by `line_end`.
std::string lines(std::initializer_list<std::string> values, const char* line_end);

// Opens `path` exclusively, creating it, so that nobody else can create it while it is held.
plat::File hold(const std::string& path);

class SdtTest : public testbed::EditionTest {
 protected:
  SdtTest();

  int open_comm(int port) { return fn<decltype(&::OpenComm)>("OpenComm")(port); }
  int close_comm() { return fn<decltype(&::CloseComm)>("CloseComm")(); }
  int select_card() { return fn<decltype(&::SelectCard)>("SelectCard")(); }
  int read_info(int read_type) { return fn<decltype(&::ReadBaseInfo)>("ReadBaseInfo")(read_type); }
  int get_sam_id(unsigned char* id) { return fn<decltype(&::GetSamID)>("GetSamID")(id); }
  int call_getter(const char* getter, char* text) {
    return fn<decltype(&::GetName)>(getter)(text);
  }

  // What a getter hands out. Checks that it wrote the value, one zero byte after it and nothing
  // more, and that its result is the value's length.
  std::string get(const char* getter);

  // Puts `card` into the simulator and opens the reader, which answers on its first USB port.
  void open_with(const testbed::IdentityRecord& card);
  // open_with(card) and a card selection, as an application does before reading.
  void open_and_select(const testbed::IdentityRecord& card);

 private:
  template <class Fn>
  Fn fn(const char* name) {
    return edition().fn<Fn>(name);
  }
};

// Where the edition library is built.
std::string library_path();

// The eleven getters, in ordinal order.
inline constexpr const char* kGetters[] = {"GetAddr",  "GetBegin", "GetName",   "GetSex",
                                           "GetFolk",  "GetIDNum", "GetDep",    "GetBirth",
                                           "GetEnd",   "GetNewAddr", "GetPicPath"};

}  // namespace sdt_test
