#include "tests/support/sdt_fixture.h"

#include <cstring>

namespace sdt_test {

using testbed::text;
using rec::Field;

testbed::IdentityRecord test_card() {
  return testbed::IdentityRecord()
      .set(Field::Name, u"王小明")
      .set(Field::Sex, u"2")
      .set(Field::Nation, u"36")
      .set(Field::Birth, u"19900215")
      .set(Field::Address, u"北京市东城区景山前街4号")
      .set(Field::IdNumber, u"11010119900215002X")
      .set(Field::Authority, u"北京市公安局东城分局")
      .set(Field::ValidFrom, u"20100101")
      .set(Field::ValidTo, u"长期");
}

namespace expect {
const std::string kName = text({0xCD, 0xF5, 0xD0, 0xA1, 0xC3, 0xF7});
const std::string kFemale = text({0xC5, 0xAE});
const std::string kMale = text({0xC4, 0xD0});
const std::string kUnknown = text({0xCE, 0xB4, 0xD6, 0xAA});
const std::string kNation = text({0xC3, 0xAB, 0xC4, 0xCF, 0xD7, 0xE5});
const std::string kHanZu = text({0xBA, 0xBA, 0xD7, 0xE5});
const std::string kBirth = "1990-02-15";
const std::string kAddress = text({0xB1, 0xB1, 0xBE, 0xA9, 0xCA, 0xD0, 0xB6, 0xAB, 0xB3, 0xC7, 0xC7,
                                   0xF8, 0xBE, 0xB0, 0xC9, 0xBD, 0xC7, 0xB0, 0xBD, 0xD6, 0x34, 0xBA,
                                   0xC5});
const std::string kIdNumber = "11010119900215002X";
const std::string kAuthority = text({0xB1, 0xB1, 0xBE, 0xA9, 0xCA, 0xD0, 0xB9, 0xAB, 0xB0, 0xB2,
                                     0xBE, 0xD6, 0xB6, 0xAB, 0xB3, 0xC7, 0xB7, 0xD6, 0xBE, 0xD6});
const std::string kValidFrom = "2010-01-01";
const std::string kValidTo = text({0xB3, 0xA4, 0xC6, 0xDA, '-', '-'});
}  // namespace expect

const std::string kAppendedAddressGbk =
    text({0xC9, 0xCF, 0xBA, 0xA3, 0xCA, 0xD0, 0xC6, 0xD6, 0xB6, 0xAB, 0xD0, 0xC2, 0xC7, 0xF8,
          0xCA, 0xC0, 0xBC, 0xCD, 0xB4, 0xF3, 0xB5, 0xC0, 0x31, 0x30, 0x30, 0xBA, 0xC5});

testbed::Bytes appended_message(std::u16string_view address) {
  std::u16string padded(address);
  padded.resize(rec::kAppendedAddress.units(), u' ');
  testbed::Bytes message = testbed::ucs2(padded);
  message.resize(drv::kAppendedAddressBytes, 0);
  return message;
}

testbed::Bytes photo(unsigned seed, std::size_t size) {
  testbed::Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + seed);
  return bytes;
}

std::string lines(std::initializer_list<std::string> values, const char* line_end) {
  std::string out;
  for (const std::string& v : values) out += v + line_end;
  return out;
}

plat::File hold(const std::string& path) {
  plat::File file = plat::open_file(path.c_str(), true, plat::Share::None, true);
  EXPECT_TRUE(file.is_open()) << "cannot hold " << path;
  return file;
}

std::string library_path() { return testbed::library_path(testbed::kSdtEdition); }

SdtTest::SdtTest()
    : EditionTest(library_path(),
                  {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt"}) {}

std::string SdtTest::get(const char* getter) {
  constexpr unsigned char kUntouched = 0x7F;
  char buffer[256];
  std::memset(buffer, kUntouched, sizeof buffer);
  const int n = call_getter(getter, buffer);
  EXPECT_GE(n, 0) << getter;
  EXPECT_LT(n, RIDEL_SDT_VALUE_BUFFER) << getter;
  if (n < 0 || n >= RIDEL_SDT_VALUE_BUFFER) return {};
  EXPECT_EQ(buffer[n], '\0') << getter << " wrote no zero byte after its value";
  for (std::size_t i = static_cast<std::size_t>(n) + 1; i < sizeof buffer; ++i) {
    if (static_cast<unsigned char>(buffer[i]) != kUntouched) {
      ADD_FAILURE() << getter << " wrote byte " << i << " beyond its value of " << n;
      break;
    }
  }
  const std::string value(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(value.find('\0'), std::string::npos) << getter << " counted a zero byte";
  return value;
}

void SdtTest::open_with(const testbed::IdentityRecord& card) {
  sim().set_record(SIM_REC_IDENTITY, card.bytes());
  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
}

void SdtTest::open_and_select(const testbed::IdentityRecord& card) {
  open_with(card);
  ASSERT_EQ(select_card(), RIDEL_SDT_OK);
}

}  // namespace sdt_test
