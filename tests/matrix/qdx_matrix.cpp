// The QDX edition's table. Left to its own suite: null destinations and overlong lengths of the
// raw read, the version text, a missing driver or decoder, every result file taken by a folder in
// modes 1 to 5, modes outside 1 to 6, and executable paths longer than 260 characters (POSIX).
#include "tests/matrix/matrix.h"
#include "tests/support/qdx_fixture.h"

namespace {

using matrix::Guarded;
using matrix::Missing;
using matrix::Names;

const std::string kSam = qdx_test::kSampleSam;
const Names kQdxFiles = {"wz.txt",      "xp.wlt",      "zp.wlt",      "zp.bmp",     "NEWADDR.txt",
                      "IINSNDN.bin", kSam + ".txt", kSam + ".wlt", kSam + ".bmp"};

// On Windows the standard library's files give way to another handle's share mode; on POSIX no
// lock binds them, and a held file is written like any other.
#if defined(_WIN32)
constexpr bool kHoldBlocks = true;
#else
constexpr bool kHoldBlocks = false;
#endif

class QdxMatrix : public matrix::Table<QdxMatrix, qdx_test::QdxTest> {
 public:
  // Modes 1, 3, 5 and 6 of a card whose every record differs from the simulator's sample.
  void earlier_read() {
    sim().set_record(SIM_REC_IDENTITY,
                     testbed::IdentityRecord().set(rec::Field::Name, u"Earlier").bytes());
    sim().set_record(SIM_REC_PHOTO, testbed::Bytes(1024, 0x11));
    sim().set_record(SIM_REC_APPENDED_ADDRESS, testbed::Bytes(280, 0x22));
    sim().set_record(SIM_REC_MNG_INFO, testbed::Bytes(28, 0x33));
    open_and_authenticate();
    for (int mode : {1, 3, 5, 6}) ASSERT_EQ(Read_Content(mode), 1) << mode;
  }

  static std::vector<matrix::Row<QdxMatrix>> rows() {
    const auto serial_session = [](QdxMatrix& f, int port, auto script) {
      for (int entry : {SIM_OPEN_PORT, SIM_GET_SAM_STATUS, SIM_GET_SAM_ID_TO_STR})
        script(entry, port);
      EXPECT_EQ(f.InitComm(port), 1);
    };
    return {
        {"AntWithoutTheDriversAnt", Missing::Entries,
         [=](QdxMatrix& f) {
           serial_session(f, 3, [&](int e, int p) { f.faults.script_partial(e, p, 0x90); });
           const int result = f.QDX_Ant(7);
           // Neither closed nor opened again.
           EXPECT_EQ(f.faults.partial_journal().back(), "sdtapi QDX_GetSAMIDToStr(3, 0)");
           return result;
         },
         0, kQdxFiles},
        {"AntOnAPortBelowOne", Missing::Nothing,
         [=](QdxMatrix& f) {
           serial_session(f, -1, [&](int e, int p) { f.sim().set_status(e, 0x90, p); });
           f.sim().clear_journal();
           const int result = f.QDX_Ant(7);
           EXPECT_TRUE(f.sim().journal_lines().empty());
           return result;
         },
         0, kQdxFiles},
        {"AppendedAddressWithoutTheDriversReadNewAppMsg", Missing::Entries,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           return f.Read_Content(3);
         },
         0, kQdxFiles},
        {"OtherModesWithoutTheDriversReadNewAppMsg", Missing::Entries,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           return f.Read_Content(4);
         },
         1, {"xp.wlt", "NEWADDR.txt", "IINSNDN.bin"}, {"wz.txt", "zp.wlt", "zp.bmp"}},
        {"RawReadIntoExactBuffersWithOverlongLengths", Missing::Nothing,
         [](QdxMatrix& f) {
           f.open();
           f.sim().set_reported_length(SIM_REC_IDENTITY, 0xFFFFFFFFu);
           f.sim().set_reported_length(SIM_REC_PHOTO, 1025);
           Guarded text(256), photo(1024);
           const int result = f.QDX_ReadBaseMsg(text.bytes(), photo.bytes());
           EXPECT_TRUE(text.intact());
           EXPECT_TRUE(photo.intact());
           return result;  // and no result file touched
         },
         1, kQdxFiles},
        {"ModeOneWithTheSecondPhotoFileHeld", Missing::Nothing,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           const plat::File held = matrix::hold("xp.wlt");
           return f.Read_Content(1);
         },
         kHoldBlocks ? 0 : 1,
         kHoldBlocks ? Names{"xp.wlt", "zp.wlt", "zp.bmp"} : Names{},
         kHoldBlocks ? Names{"wz.txt"} : Names{"wz.txt", "xp.wlt", "zp.wlt", "zp.bmp"}},
        {"ModeFourWithTheTextFileHeld", Missing::Nothing,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           const plat::File held = matrix::hold("wz.txt");
           return f.Read_Content(4);
         },
         kHoldBlocks ? 0 : 1, kHoldBlocks ? Names{"wz.txt", "zp.wlt", "zp.bmp"} : Names{},
         kHoldBlocks ? Names{} : Names{"wz.txt", "zp.wlt", "zp.bmp"}},
        {"ModeSixWithTheSamTextFileBlocked", Missing::Nothing,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           f.faults.block(kSam + ".txt");
           return f.Read_Content(6);
         },
         0, {kSam + ".wlt", kSam + ".bmp"}},
        {"ModeSixWithTheSamPhotoFileBlocked", Missing::Nothing,
         [](QdxMatrix& f) {
           f.open_and_authenticate();
           f.faults.block(kSam + ".wlt");
           return f.Read_Content(6);
         },
         0, {kSam + ".bmp"}, {kSam + ".txt"}},
    };
  }
};

TEST_P(QdxMatrix, Case) { run(kQdxFiles); }

INSTANTIATE_TEST_SUITE_P(Qdx, QdxMatrix, ::testing::ValuesIn(QdxMatrix::rows()),
                         matrix::row_name<QdxMatrix>);

}  // namespace
