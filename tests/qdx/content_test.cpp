// The QDX edition's Read_Content: the six modes, their result files byte for byte, the text lines,
// and what stays on disk when a step fails.
#include <filesystem>
#include <functional>

#include "tests/qdx/qdx_test.h"

namespace {

using bench::Bytes;
using bench::IdentityRecord;
using bench::text;
using rec::Field;
using Lines = std::vector<std::string>;

// GBK bytes of the words the text lines hold.
const std::string kWangXiaoMing = text({0xCD, 0xF5, 0xD0, 0xA1, 0xC3, 0xF7});  // 王小明
const std::string kHan = text({0xBA, 0xBA});                                    // 汉
const std::string kMale = text({0xC4, 0xD0});                                   // 男
const std::string kFemale = text({0xC5, 0xAE});                                 // 女
const std::string kUnknown = text({0xCE, 0xB4, 0xD6, 0xAA});                    // 未知
const std::string kYear = text({0xC4, 0xEA});                                   // 年
const std::string kMonth = text({0xD4, 0xC2});                                  // 月
const std::string kDay = text({0xC8, 0xD5});                                    // 日
const std::string kBeijingDongcheng =
    text({0xB1, 0xB1, 0xBE, 0xA9, 0xCA, 0xD0, 0xB6, 0xAB, 0xB3, 0xC7, 0xC7, 0xF8});  // 北京市东城区
const std::string kBeijingPolice =
    text({0xB1, 0xB1, 0xBE, 0xA9, 0xCA, 0xD0, 0xB9, 0xAB, 0xB0, 0xB2, 0xBE, 0xD6});  // 北京市公安局

std::string blanks(std::size_t n) { return std::string(n, ' '); }

IdentityRecord wang_xiaoming() {
  IdentityRecord r;
  r.set(Field::Name, u"王小明")
      .set(Field::Sex, u"1")
      .set(Field::Nation, u"01")
      .set(Field::Birth, u"19900307")
      .set(Field::Address, u"北京市东城区")
      .set(Field::IdNumber, u"11010119900307001X")
      .set(Field::Authority, u"北京市公安局")
      .set(Field::ValidFrom, u"20100101")
      .set(Field::ValidTo, u"20200101");
  return r;
}

// The photo record the cases hand the driver.
Bytes photo_record() {
  Bytes photo(1024);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<unsigned char>(i * 13 + 5);
  return photo;
}

// The lines of a text file, each of which must end in CR LF.
Lines split_lines(const Bytes& file) {
  const std::string all(file.begin(), file.end());
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(all.substr(start, end - start));
  EXPECT_EQ(start, all.size()) << "text after the last CR LF";
  return lines;
}

class QdxContent : public qdx_test::QdxTest {
 protected:
  // Reads a card through mode 4 and gives the lines of wz.txt.
  Lines lines_for(const IdentityRecord& card) {
    sim().set_record(SIM_REC_IDENTITY, card.bytes());
    EXPECT_EQ(Read_Content(4), 1);
    return split_lines(read("wz.txt"));
  }

  // A folder in place of a result file, so that the file cannot be created.
  void block(const std::string& name) {
    std::filesystem::create_directory(out(name));
    blocked_.push_back(name);
  }
  void TearDown() override {
    for (const std::string& name : blocked_) std::filesystem::remove(out(name));
    QdxTest::TearDown();
  }

 private:
  std::vector<std::string> blocked_;
};

// ---- Modes and their files ----------------------------------------------------------------------

TEST_F(QdxContent, HostProgramReadsACardInModeFour) {
  ASSERT_EQ(InitComm(1001), 1);
  ASSERT_EQ(Authenticate(), 1);
  ASSERT_EQ(Read_Content(4), 1);
  EXPECT_EQ(split_lines(read("wz.txt")).size(), 8u);
  EXPECT_EQ(read("zp.wlt").size(), 1024u);
  const Bytes bmp = read("zp.bmp");
  ASSERT_EQ(bmp.size(), 38862u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
}

TEST_F(QdxContent, NothingBeforeASessionAndNothingForUnknownModes) {
  for (int mode = 1; mode <= 6; ++mode) EXPECT_EQ(Read_Content(mode), 0) << mode;
  EXPECT_TRUE(sim().journal_lines().empty());
  open_and_authenticate();
  for (int mode : {0, 7, -1, 100}) EXPECT_EQ(Read_Content(mode), 0) << mode;
  EXPECT_TRUE(sim().journal_lines().empty());
  for (const std::string& name : qdx_test::result_files()) EXPECT_FALSE(exists(name)) << name;
}

TEST_F(QdxContent, ModeOneWritesTheRawRecordsAndDecodesZp) {
  const Bytes identity = wang_xiaoming().bytes();
  sim().set_record(SIM_REC_IDENTITY, identity);
  sim().set_record(SIM_REC_PHOTO, photo_record());
  open_and_authenticate();
  EXPECT_EQ(Read_Content(1), 1);
  EXPECT_EQ(read("wz.txt"), identity);  // the UCS-2 record, not text lines
  EXPECT_EQ(read("xp.wlt"), photo_record());
  EXPECT_EQ(read("zp.wlt"), photo_record());
  EXPECT_EQ(read("zp.bmp").size(), 38862u);
  EXPECT_FALSE(exists("xp.bmp"));
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi QDX_ReadBaseMsg(1001, 0)", get_bmp_line("zp.wlt")}));
}

TEST_F(QdxContent, ModeTwoWritesTheRawRecordsWithoutDecoding) {
  sim().set_record(SIM_REC_PHOTO, photo_record());
  open_and_authenticate();
  sim().set_decoder_result(0);
  EXPECT_EQ(Read_Content(2), 1);
  EXPECT_EQ(read("wz.txt").size(), 256u);
  EXPECT_EQ(read("xp.wlt"), photo_record());
  EXPECT_FALSE(exists("zp.wlt"));
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadBaseMsg(1001, 0)"});
}

TEST_F(QdxContent, ModeThreeWritesTheAppendedAddress) {
  Bytes message(280);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<unsigned char>(i);
  sim().set_record(SIM_REC_APPENDED_ADDRESS, message);
  open_and_authenticate();
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_EQ(read("NEWADDR.txt"), message);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadNewAppMsg(1001, 0)"});
}

TEST_F(QdxContent, ModeThreeWithoutAppendedAddressEmptiesTheFile) {
  sim().set_record(SIM_REC_APPENDED_ADDRESS, {});  // the driver answers 0x91
  leave("NEWADDR.txt", Bytes(50, 'x'));
  open_and_authenticate();
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_TRUE(exists("NEWADDR.txt"));
  EXPECT_TRUE(read("NEWADDR.txt").empty());
}

TEST_F(QdxContent, ModeFiveWritesTwentyEightBytes) {
  Bytes info(28);
  for (std::size_t i = 0; i < info.size(); ++i) info[i] = static_cast<unsigned char>(0xF0 - i);
  sim().set_record(SIM_REC_MNG_INFO, info);
  open_and_authenticate();
  EXPECT_EQ(Read_Content(5), 1);
  EXPECT_EQ(read("IINSNDN.bin"), info);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadMngInfo(1001, 0)"});
}

TEST_F(QdxContent, ModeSixWritesTheFilesOfModeFourUnderTheSamNumber) {
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming().bytes());
  sim().set_record(SIM_REC_PHOTO, photo_record());
  open_and_authenticate();
  ASSERT_EQ(Read_Content(4), 1);
  const Bytes lines = read("wz.txt");
  const std::string sam = qdx_test::kSampleSam;
  for (int call = 0; call < 2; ++call) {  // a second call writes the same two files again
    sim().clear_journal();
    EXPECT_EQ(Read_Content(6), 1);
    EXPECT_EQ(read(sam + ".txt"), lines);
    EXPECT_EQ(read(sam + ".wlt"), photo_record());
    EXPECT_EQ(read(sam + ".bmp").size(), 38862u);
    EXPECT_EQ(sim().journal_lines(),
              (Lines{"sdtapi QDX_ReadBaseMsg(1001, 0)", get_bmp_line(sam + ".wlt")}));
  }
}

TEST_F(QdxContent, AliasesReadAsReadContentDoes) {
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming().bytes());
  open_and_authenticate();
  ASSERT_EQ(Read_Content(4), 1);
  const Bytes expected = read("wz.txt");
  const std::function<int(int)> aliases[] = {
      [&](int mode) { return Read_Content(mode, "QDX_Read_Content"); },
      [&](int mode) { return Read_Content(mode, "TC_Read_Content"); },
      [&](int mode) { return TC_Read_Content_Path(mode, 0); },
      [&](int mode) { return TC_Read_Content_Path(mode, 0x12345678); },
  };
  for (const auto& alias : aliases) {
    remove_result_files();
    EXPECT_EQ(alias(4), 1);
    EXPECT_EQ(read("wz.txt"), expected);
    EXPECT_TRUE(exists("zp.bmp"));
    EXPECT_EQ(alias(7), 0);
  }
}

// ---- The text lines -----------------------------------------------------------------------------

TEST_F(QdxContent, TextLinesAreByteExact) {
  open_and_authenticate();
  const Bytes file = bench::bytes(
      kWangXiaoMing + blanks(12) + "\r\n" + kMale + "\r\n" + kHan + "\r\n" +  //
      "1990" + kYear + "03" + kMonth + "07" + kDay + "\r\n" +                   //
      kBeijingDongcheng + blanks(29) + "\r\n" +                                 //
      "11010119900307001X\r\n" +                                                //
      kBeijingPolice + blanks(9) + "\r\n" +                                     //
      "2010.01.01-2020.01.01\r\n");
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming().bytes());
  EXPECT_EQ(Read_Content(4), 1);
  EXPECT_EQ(read("wz.txt"), file);
}

// The text file is a text-mode file: every line feed on disk is CR LF, also one inside a field's
// text; a CR of a field stays as it is, so CR LF in a field becomes CR CR LF.
TEST_F(QdxContent, LineFeedsInsideFieldsBecomeCrLf) {
  open_and_authenticate();
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming()
                                         .set_raw(Field::Name, std::u16string(u"A\nB\0", 4))
                                         .set_raw(Field::Address, std::u16string(u"\n\r\nC\n\0", 6))
                                         .bytes());
  ASSERT_EQ(Read_Content(4), 1);
  const Bytes raw = read("wz.txt");
  const std::string file(raw.begin(), raw.end());
  EXPECT_EQ(file.substr(0, 6), text({0x41, 0x0D, 0x0A, 0x42, 0x0D, 0x0A}));
  const std::size_t address = file.find("\r\r\n");
  ASSERT_NE(address, std::string::npos);
  EXPECT_EQ(file.substr(address - 2, 9), text({0x0D, 0x0A, 0x0D, 0x0D, 0x0A, 0x43, 0x0D, 0x0A, 0x0D}));
  // No line feed anywhere without its CR.
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '\n') {
      EXPECT_TRUE(i > 0 && file[i - 1] == '\r') << i;
    }
  }
}

TEST_F(QdxContent, NameLineKeepsPaddingOrFillsTheField) {
  open_and_authenticate();
  const std::u16string fifteen = u"一二三四五六七八九十一二三四五";
  const std::string fifteen_gbk =
      text({0xD2, 0xBB, 0xB6, 0xFE, 0xC8, 0xFD, 0xCB, 0xC4, 0xCE, 0xE5, 0xC1, 0xF9, 0xC6, 0xDF, 0xB0,
            0xCB, 0xBE, 0xC5, 0xCA, 0xAE, 0xD2, 0xBB, 0xB6, 0xFE, 0xC8, 0xFD, 0xCB, 0xC4, 0xCE, 0xE5});
  EXPECT_EQ(lines_for(wang_xiaoming().set(Field::Name, fifteen))[0], fifteen_gbk);
  EXPECT_EQ(lines_for(wang_xiaoming().set(Field::Name, u"Li"))[0], "Li" + blanks(13));
  // A NUL character ends the field's text.
  EXPECT_EQ(lines_for(wang_xiaoming().set_raw(Field::Name, std::u16string(u"AB\0CD", 5)))[0], "AB");
}

TEST_F(QdxContent, SexLineNamesTheCode) {
  open_and_authenticate();
  const struct {
    std::u16string code;
    std::string word;
  } cases[] = {{u"1", kMale}, {u"2", kFemale}, {u"0", kUnknown},
               {u"9", kUnknown}, {u"5", kUnknown}, {u"x", kUnknown}};
  for (const auto& c : cases)
    EXPECT_EQ(lines_for(wang_xiaoming().set(Field::Sex, c.code))[1], c.word);
}

TEST_F(QdxContent, NationLineNamesTheCodeOrStaysEmpty) {
  open_and_authenticate();
  const struct {
    std::u16string code;
    std::string name;
  } cases[] = {
      {u"01", kHan},
      {u"36", text({0xC3, 0xAB, 0xC4, 0xCF})},  // 毛南
      {u"98", text({0xCD, 0xE2, 0xB9, 0xFA, 0xD1, 0xAA, 0xCD, 0xB3, 0xD6, 0xD0, 0xB9, 0xFA, 0xBC,
                    0xAE, 0xC8, 0xCB, 0xCA, 0xBF})},  // 外国血统中国籍人士
      {u"00", ""}, {u"60", ""}, {u"99", ""},
      // Not a decimal number: the empty line as well.
      {u"AB", ""}, {u"  ", ""}, {u"1 ", ""}, {u"-1", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lines_for(wang_xiaoming().set(Field::Nation, c.code))[2], c.name);
}

TEST_F(QdxContent, DateLinesSplitEachDateFourTwoTwo) {
  open_and_authenticate();
  const Lines lines = lines_for(wang_xiaoming()
                                    .set(Field::Birth, u"20000102")
                                    .set(Field::ValidFrom, u"20190930")
                                    .set(Field::ValidTo, u"长期"));
  EXPECT_EQ(lines[3], "2000" + kYear + "01" + kMonth + "02" + kDay);
  // A validity end held as text is split like a date.
  EXPECT_EQ(lines[7], "2019.09.30-" + text({0xB3, 0xA4, 0xC6, 0xDA}) + "  .  .  ");
}

// ---- Failures -----------------------------------------------------------------------------------

TEST_F(QdxContent, DriverRefusalTouchesNoFile) {
  open_and_authenticate();
  const Bytes old(10, 'o');
  for (const char* name : {"wz.txt", "xp.wlt", "zp.wlt", "NEWADDR.txt", "IINSNDN.bin"})
    leave(name, old);
  sim().set_status(SIM_READ_BASE_MSG, SIM_STATUS_NO_CARD);
  sim().set_status(SIM_READ_NEW_APP_MSG, 0x90 + 2);
  sim().set_status(SIM_READ_MNG_INFO, 0x91);  // accepted for the appended address only
  for (int mode = 1; mode <= 6; ++mode) EXPECT_EQ(Read_Content(mode), 0) << mode;
  for (const char* name : {"wz.txt", "xp.wlt", "zp.wlt", "NEWADDR.txt", "IINSNDN.bin"})
    EXPECT_EQ(read(name), old) << name;
  EXPECT_EQ(sim().count(SIM_GET_BMP), 0);
}

TEST_F(QdxContent, DecoderFailureFailsTheModeButKeepsTheFiles) {
  open_and_authenticate();
  const std::string sam = qdx_test::kSampleSam;
  const struct {
    int mode;
    std::string text, photo;
  } modes[] = {{1, "wz.txt", "zp.wlt"}, {4, "wz.txt", "zp.wlt"}, {6, sam + ".txt", sam + ".wlt"}};
  for (int result : {0, 2, -1}) {
    sim().set_decoder_result(result);
    for (const auto& m : modes) {
      SCOPED_TRACE(testing::Message() << "decoder " << result << ", mode " << m.mode);
      remove_result_files();
      EXPECT_EQ(Read_Content(m.mode), 0);
      EXPECT_EQ(read(m.photo).size(), 1024u);
      if (m.mode == 1)
        EXPECT_EQ(read(m.text).size(), 256u);
      else
        EXPECT_EQ(split_lines(read(m.text)).size(), 8u);
    }
  }
}

TEST_F(QdxContent, AFileThatCannotBeCreatedLeavesTheLaterOnesAlone) {
  open_and_authenticate();
  const Bytes old(10, 'o');
  struct Case {
    int mode;
    const char* blocked;
    std::vector<const char*> written, untouched;
  } cases[] = {
      {1, "wz.txt", {}, {"xp.wlt", "zp.wlt"}},
      {1, "xp.wlt", {"wz.txt"}, {"zp.wlt"}},
      {1, "zp.wlt", {"wz.txt", "xp.wlt"}, {}},
      {2, "wz.txt", {}, {"xp.wlt"}},
      {4, "wz.txt", {}, {"zp.wlt"}},
      {4, "zp.wlt", {"wz.txt"}, {}},
      {3, "NEWADDR.txt", {}, {}},
      {5, "IINSNDN.bin", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.blocked);
    remove_result_files();
    for (const char* name : c.untouched) leave(name, old);
    block(c.blocked);
    sim().clear_journal();
    EXPECT_EQ(Read_Content(c.mode), 0);
    for (const char* name : c.written) EXPECT_NE(read(name), old) << name;
    for (const char* name : c.written) EXPECT_FALSE(read(name).empty()) << name;
    for (const char* name : c.untouched) EXPECT_EQ(read(name), old) << name;
    EXPECT_EQ(sim().count(SIM_GET_BMP), 0);
    std::filesystem::remove(out(c.blocked));
  }
}

TEST_F(QdxContent, ReportedLengthsAreBoundedByTheBuffers) {
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming().bytes());
  sim().set_record(SIM_REC_PHOTO, photo_record());
  open_and_authenticate();
  sim().set_reported_length(SIM_REC_IDENTITY, 5000);
  sim().set_reported_length(SIM_REC_PHOTO, 0xFFFFFFFFu);
  sim().set_reported_length(SIM_REC_APPENDED_ADDRESS, 100000);
  EXPECT_EQ(Read_Content(1), 1);
  EXPECT_EQ(read("wz.txt"), wang_xiaoming().bytes());
  EXPECT_EQ(read("xp.wlt"), photo_record());
  EXPECT_EQ(read("zp.wlt"), photo_record());
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_EQ(read("NEWADDR.txt").size(), 280u);
  EXPECT_EQ(Read_Content(4), 1);
  EXPECT_EQ(split_lines(read("wz.txt"))[0], kWangXiaoMing + blanks(12));
}

TEST_F(QdxContent, ShortReportedLengthsWriteThatMuch) {
  sim().set_record(SIM_REC_IDENTITY, wang_xiaoming().bytes());
  sim().set_record(SIM_REC_PHOTO, photo_record());
  open_and_authenticate();
  sim().set_reported_length(SIM_REC_IDENTITY, 30);
  sim().set_reported_length(SIM_REC_PHOTO, 0);
  sim().set_reported_length(SIM_REC_APPENDED_ADDRESS, 0);
  leave("xp.wlt", Bytes(10, 'o'));
  EXPECT_EQ(Read_Content(2), 1);
  const Bytes identity = wang_xiaoming().bytes();
  EXPECT_EQ(read("wz.txt"), Bytes(identity.begin(), identity.begin() + 30));
  EXPECT_TRUE(exists("xp.wlt"));
  EXPECT_TRUE(read("xp.wlt").empty());  // a length of 0 writes an empty file
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_TRUE(read("NEWADDR.txt").empty());
  // Past the reported length the record has no text: only the name reached the lines.
  const Lines lines = lines_for(wang_xiaoming());
  EXPECT_EQ(lines[0], kWangXiaoMing + blanks(12));
  EXPECT_EQ(lines[1], kUnknown);
  EXPECT_EQ(lines[3], kYear + kMonth + kDay);
}

}  // namespace
