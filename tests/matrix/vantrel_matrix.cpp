// The vantrel edition's table. Left to its own suite: getter buffers that are null, of size 0 or
// negative, one byte short or longer; setters given null, short or negative lengths; overlong
// reported lengths; a missing driver or decoder at set-up; WZ.txt and ZP.wlt taken by folders; a
// bitmap path over 511 characters; and an error log that cannot be opened.
#include <climits>
#include <cstdlib>

#include "tests/matrix/matrix.h"
#include "tests/support/vantrel_fixture.h"

namespace {

using matrix::Guarded;
using matrix::Missing;
using matrix::Names;
using vantrel_test::entry;
using Lines = std::vector<std::string>;

const Names kVantrelFiles = {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"};

class VantrelMatrix : public matrix::Table<VantrelMatrix, vantrel_test::VantrelTest> {
 public:
  // Modes 1, 3 and 5 of a card whose every record differs from the simulator's sample.
  void earlier_read() {
    sim().set_record(SIM_REC_PHOTO, testbed::Bytes(1024, 0x11));
    sim().set_record(SIM_REC_MNG_INFO, testbed::Bytes(28, 0x33));
    read_test_card();
    for (int mode : {3, 5}) ASSERT_EQ(Read_Content(mode), 1) << mode;
  }

  // The one log entry of a result file that could not be made, with the system's reason.
  bool logged_file_failure(const std::string& name) {
    const Lines log = log_lines();
    const std::string tail = "<" + out(name) + ">" + vantrel_test::message(1010);
    if (log.size() != 1 || log[0].size() <= tail.size()) return false;
    const std::size_t code = log[0].size() - tail.size();
    return log[0].substr(code) == tail && log[0].substr(0, code) != "0";
  }

  static std::vector<matrix::Row<VantrelMatrix>> rows() {
    const auto open = [](VantrelMatrix& f) { EXPECT_EQ(f.InitComm(1001), 1); };
    return {
        {"FullReadWithoutTheDriversReadNewAppMsg", Missing::Entries,
         [=](VantrelMatrix& f) {
           open(f);
           const int result = f.Read_Content(1);
           EXPECT_EQ(f.log_lines(), Lines{entry(1008, 0, "ReadContent1")});
           return result;
         },
         0, {"ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"}, {"WZ.txt", "XP.wlt", "ZP.wlt"}},
        {"AppendedAddressWithoutTheDriversReadNewAppMsg", Missing::Entries,
         [=](VantrelMatrix& f) {
           open(f);
           return f.Read_Content(3);
         },
         0, kVantrelFiles},
        {"SamIdPassThroughWithoutADriver", Missing::Driver,
         [](VantrelMatrix& f) {
           Guarded text(40);
           const auto pass_through = f.fn<decltype(&::GetSAMIDToStr)>("GetSAMIDToStr");
           const int result = pass_through(1001, text.text(), 0);
           EXPECT_EQ(text.content(), testbed::Bytes(40, Guarded::kFill));
           EXPECT_TRUE(text.intact());
           return result;
         },
         0, kVantrelFiles},
        {"ManagementInfoPassThroughWithoutADriver", Missing::Driver,
         [](VantrelMatrix& f) {
           Guarded info(28);
           const auto pass_through = f.fn<decltype(&::ReadMngInfo)>("ReadMngInfo");
           const int result = pass_through(1001, info.bytes(), 0);
           EXPECT_EQ(info.content(), testbed::Bytes(28, Guarded::kFill));
           return result;
         },
         0, kVantrelFiles},
        {"SetPhotoDataWithoutTheDecoder", Missing::Decoder,
         [](VantrelMatrix& f) {
           const int result = f.SetPhotoData(f.out("XP.wlt").c_str());
           EXPECT_EQ(f.log_lines().back(), entry(1007, 0, ""));
           return result;
         },
         0, kVantrelFiles},
        {"FullReadWithThePhotoCopyHeld", Missing::Nothing,
         [=](VantrelMatrix& f) {
           open(f);
           int result;
           {
             const plat::File held = matrix::hold("ZP.wlt");
             result = f.Read_Content(1);
           }
           EXPECT_TRUE(f.logged_file_failure("ZP.wlt"));
           EXPECT_EQ(f.get("GetPeopleName", 30).result, 0);  // the store is cleared
           return result;
         },
         0, {"ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"}, {"WZ.txt", "XP.wlt"}},
        {"RawReadWithThePhotoFileHeld", Missing::Nothing,
         [=](VantrelMatrix& f) {
           open(f);
           int result;
           {
             const plat::File held = matrix::hold("XP.wlt");
             result = f.Read_Content(2);
           }
           EXPECT_TRUE(f.logged_file_failure("XP.wlt"));
           return result;
         },
         0, {"XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"}, {"WZ.txt"}},
        {"ManagementInfoWithItsFileBlocked", Missing::Nothing,
         [=](VantrelMatrix& f) {
           open(f);
           f.faults.block("IINSNDN.Bin");
           const int result = f.Read_Content(5);
           EXPECT_TRUE(f.logged_file_failure("IINSNDN.Bin"));
           return result;
         },
         0, {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt"}},
        {"SetBaseDataOnAFolder", Missing::Nothing,
         [](VantrelMatrix& f) {
           EXPECT_EQ(f.set_base_data(vantrel_test::test_card().bytes()), 1);
           const int result = f.SetBaseData(testbed::output_folder().c_str());
           EXPECT_EQ(f.get("GetPeopleName", 30).bytes, vantrel_test::kName + std::string(13, '\0'));
           return result;
         },
         0, kVantrelFiles},
        // Only the message's first 70 bytes are converted, whatever length the caller claims.
        {"SetAppAddressWithALengthBeyondTheMessage", Missing::Nothing,
         [](VantrelMatrix& f) {
           testbed::Bytes message = vantrel_test::test_appended_address();
           message.resize(rec::kAppendedAddress.bytes);
           const int result = f.SetAppAddress(message.data(), INT_MAX);
           EXPECT_EQ(f.get("GetAppAddress", 7).bytes, vantrel_test::kAppendedAddressText + '\0');
           return result;
         },
         1, kVantrelFiles},
        // The driver switch compares port numbers without overflowing.
        {"InitCommAtTheEndsOfTheIntRange", Missing::Nothing,
         [](VantrelMatrix& f) {
           EXPECT_EQ(f.InitComm(INT_MIN), 0);
           EXPECT_EQ(f.InitComm(INT_MAX), 0);
           return f.InitComm(1001);
         },
         1, kVantrelFiles},
#if !defined(_WIN32)
        // Result paths of 511 characters are made, longer ones refused (VantrelFolder.Child).
        {"ResultPathsOf511Characters", Missing::Nothing, [](VantrelMatrix&) { return folder(505); },
         0, kVantrelFiles},
        {"ResultPathsOf512Characters", Missing::Nothing, [](VantrelMatrix&) { return folder(506); },
         0, kVantrelFiles},
#endif
    };
  }

  static constexpr char kFolderVariable[] = "MATRIX_CHILD_FOLDER";

#if !defined(_WIN32)
  // Runs VantrelFolder.Child in a copy of this program in a folder of `length` characters.
  static int folder(std::size_t length) {
    const matrix::ProgramCopy copy(length, {"simulator", "vantrel"});
    return matrix::run_child(copy.path(), "VantrelFolder.Child", kFolderVariable,
                             std::to_string(length));
  }
#endif
};

TEST_P(VantrelMatrix, Case) { run(kVantrelFiles); }

INSTANTIATE_TEST_SUITE_P(Vantrel, VantrelMatrix, ::testing::ValuesIn(VantrelMatrix::rows()),
                         matrix::row_name<VantrelMatrix>);

class VantrelFolder : public vantrel_test::VantrelTest {};

// The output folder followed by a file name must stay below 512 characters: WZ.txt, XP.wlt,
// ZP.wlt and ZP.bmp have 6, NEWADD.txt 10 and IINSNDN.Bin 11.
TEST_F(VantrelFolder, Child) {
  const char* length = std::getenv(VantrelMatrix::kFolderVariable);
  if (!length) GTEST_SKIP() << "run by the rows ResultPathsOf511Characters and ...512...";
  ASSERT_EQ(std::to_string(testbed::output_folder().size()), length);
  const bool fits = testbed::output_folder().size() + 6 < 512;
  ASSERT_EQ(InitComm(1001), 1);
  EXPECT_EQ(Read_Content(2), fits ? 1 : 0);
  EXPECT_EQ(Read_Content(1), fits ? 1 : 0);
  EXPECT_EQ(get("GetPhotoBMP", 102400).result, fits ? 38862 : 0);
  EXPECT_EQ(Read_Content(3), 0);
  EXPECT_EQ(Read_Content(5), 0);
  for (const char* name : {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp"}) EXPECT_EQ(exists(name), fits);
  EXPECT_FALSE(exists("NEWADD.txt"));
  // Refused before the system is asked: code 0.
  EXPECT_EQ(log_lines().back(), entry(1010, 0, out("IINSNDN.Bin")));
}

}  // namespace
