#include "tests/vantrel/fixture.h"

#include <map>
#include <regex>
#include <tuple>

namespace vantrel_test {

std::string library_path() {
#if defined(_WIN32)
  static const std::string path = [] {
    const std::string copy = bench::exe_dir() + "ridel.dll";
    EXPECT_TRUE(plat::copy_file(bench::build_path("vantrel/vantrel.dll").c_str(), copy.c_str()));
    return copy;
  }();
  return path;
#else
  return bench::build_path("vantrel/libvantrel.so");
#endif
}

std::string log_path() { return std::string(plat::folder_of(library_path())) + "idcrerror.log"; }

const std::string& message(int id) {
  static const std::map<int, std::string> texts = {
      {1001, "---Error:Can not close the port that have been opened before.(CloseComm)   "},
      {1002, "---Error:Can not open the port.(OpenComm)   "},
      {1003, "---Error:Can not read the status of  the SAM module.(GetSAMStatus)   "},
      {1004, "---Error:Can not find a ID card.(StartFindIDCard)   "},
      {1005, "---Error:Can not  Select the ID card.(SelectIDCard)   "},
      {1006, "--- Error:It is failed to read people information in the ID card.(ReadBaseMsg)    "},
      {1007, "---Error:It is failed to get Photo from the SAM Module.(GetBmp)   "},
      {1008,
       "---Error:It is failed to read \"app\" information from the SAM Module.(ReadNewAppMsg)   "},
      {1009, "---Error:The invoke of the ReadMngInfo function  is failed.(ReadMngInfo)   "},
      {1010, "---Error:It is failed to create file.(CreateFile)   "},
      {1011, "---Error:It is failed to open file.(SetBaseData)   "},
      {1012, "---Error:It is failed to load SdtApi.dll"},
      {1013, "---Error:It is failed to load WltRS.dll"},
      {101, "---Error:Can not create or open idcrerror.log File.   "},
      {102, "---Error:Can not Write error information  to  the login file.   "},
      {1014, "---Error:Can not exchange function pionter between UART and USB"},
  };
  return texts.at(id);
}

std::string entry(int message_id, long long code, const std::string& context) {
  return std::to_string(code) + "<" + context + ">" + message(message_id);
}

bench::IdentityRecord test_card() {
  using rec::Field;
  bench::IdentityRecord card;
  card.set(Field::Name, u"张三")
      .set(Field::Sex, u"1")
      .set(Field::Nation, u"01")
      .set(Field::Birth, u"19800102")
      .set(Field::Address, u"北京市")
      .set(Field::IdNumber, u"11010119800102123X")
      .set(Field::Authority, u"公安局")
      .set(Field::ValidFrom, u"20150101")
      .set(Field::ValidTo, u"20350101");
  return card;
}

// Padding blanks stay in the texts.
const std::string kName = text({0xD5, 0xC5, 0xC8, 0xFD}) + std::string(13, ' ');
const std::string kBirth = "19800102";
const std::string kAddress = text({0xB1, 0xB1, 0xBE, 0xA9, 0xCA, 0xD0}) + std::string(32, ' ');
const std::string kIdNumber = "11010119800102123X";
const std::string kAuthority = text({0xB9, 0xAB, 0xB0, 0xB2, 0xBE, 0xD6}) + std::string(12, ' ');
const std::string kValidFrom = "20150101";
const std::string kValidTo = "20350101";
const std::string kReserved(18, ' ');
const std::string kAppendedAddressText = text({0xC9, 0xCF, 0xBA, 0xA3, 0xCA, 0xD0});

Bytes test_appended_address() {
  Bytes message = bench::ucs2(u"上海市");
  message.resize(drv::kAppendedAddressBytes, 0);
  return message;
}

VantrelTest::VantrelTest()
    : EditionTest(library_path(),
                  {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"}) {}

void VantrelTest::SetUp() {
  EditionTest::SetUp();
  plat::delete_file(log_path().c_str());
  started_ = plat::local_time();
}

void VantrelTest::TearDown() {
  EditionTest::TearDown();
  plat::delete_file(log_path().c_str());
}

Got VantrelTest::get(const char* getter, int size, int index) {
  constexpr int kGuard = 16;
  std::string buffer(static_cast<std::size_t>(size > 0 ? size : 0) + kGuard, '\xCC');
  int result;
  if (std::string_view(getter) == "GetAppAddress")
    result = fn<decltype(&::GetAppAddress)>(getter)(index, buffer.data(), size);
  else
    result = fn<int(WINAPI*)(char*, int)>(getter)(buffer.data(), size);
  const std::size_t used = buffer.size() - kGuard;
  EXPECT_EQ(buffer.substr(used), std::string(kGuard, '\xCC'))
      << getter << " wrote past its buffer of " << size;
  return {result, buffer.substr(0, used)};
}

void VantrelTest::read_test_card() {
  sim().set_record(SIM_REC_IDENTITY, test_card().bytes());
  sim().set_record(SIM_REC_APPENDED_ADDRESS, test_appended_address());
  ASSERT_EQ(InitComm(1001), 1);
  ASSERT_EQ(Authenticate(), 1);
  ASSERT_EQ(Read_Content(1), 1);
}

int VantrelTest::set_base_data(const Bytes& record) {
  const std::string path = out("record.bin");
  EXPECT_TRUE(bench::write_file(path, record));
  const int result = SetBaseData(path.c_str());
  plat::delete_file(path.c_str());
  return result;
}

std::vector<std::string> VantrelTest::log_lines() {
  const plat::LocalTime now = plat::local_time();
  auto as_tuple = [](const plat::LocalTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second);
  };
  // The date and time without leading zeros, two blanks between them.
  static const std::regex line_format(
      "(.*)([1-9][0-9]{3})/([1-9][0-9]?)/([1-9][0-9]?)  "
      "(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)");
  const Bytes bytes = bench::read_file(log_path());
  const std::string content(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << content.substr(start);
      break;
    }
    const std::string line = content.substr(start, end - start);
    start = end + 2;
    std::smatch m;
    if (!std::regex_match(line, m, line_format)) {
      ADD_FAILURE() << "log line without a time stamp: " << line;
      continue;
    }
    auto part = [&](int i) { return static_cast<unsigned>(std::stoul(m[i].str())); };
    const plat::LocalTime stamp{part(2), part(3), part(4), part(5), part(6), part(7)};
    EXPECT_LE(as_tuple(started_), as_tuple(stamp)) << line;
    EXPECT_LE(as_tuple(stamp), as_tuple(now)) << line;
    lines.push_back(m[1].str());
  }
  return lines;
}

}  // namespace vantrel_test
