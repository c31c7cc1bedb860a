// The SDT edition's table. Left to its own suite: null getter buffers and a null SAM ID buffer,
// overlong reported lengths, held result files of every read type, read types outside 1 to 5,
// and output folders of 127 and 128 bytes.
#include <cstdlib>

#include "tests/matrix/matrix.h"
#include "tests/support/sdt_fixture.h"

namespace {

using matrix::Guarded;
using matrix::Missing;
using matrix::Names;
using rec::Field;

const Names kSdtFiles = {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt",
                      "NewAdd1.txt"};

// A card whose every value has its largest length: each field filled with two-byte characters,
// and the nation with the longest name.
testbed::IdentityRecord largest_card() {
  testbed::IdentityRecord card;
  for (Field field : {Field::Name, Field::Birth, Field::Address, Field::IdNumber, Field::Authority,
                      Field::ValidFrom, Field::ValidTo})
    card.set(field, std::u16string(static_cast<std::size_t>(rec::span(field).units()), u'中'));
  return card.set(Field::Sex, u"9").set(Field::Nation, u"29");  // 未知, 柯尔克孜族
}

class SdtMatrix : public matrix::Table<SdtMatrix, sdt_test::SdtTest> {
 public:
  // Read types 1 and 3 of a card whose records differ from the simulator's sample.
  void earlier_read() {
    sim().set_record(SIM_REC_PHOTO, testbed::Bytes(1024, 0x11));
    sim().set_record(SIM_REC_APPENDED_ADDRESS, sdt_test::appended_message(u"Earlier"));
    open_and_select(testbed::IdentityRecord().set(Field::Name, u"Earlier"));
    ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
    ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  }

  // Whether the system loads the edition at all.
  static int loads() {
    const plat::Module edition = plat::load_library(sdt_test::library_path().c_str());
    plat::free_library(edition);
    return edition != nullptr;
  }

  // Runs SdtChild.LoadWithout in a process of its own, with the driver ("1") or the decoder
  // ("2") missing: under Wine a load that fails keeps a reference to every library it did find,
  // which would stay loaded for all later cases of this process.
  static int load_in_child(const char* missing) {
    return matrix::run_child(std::string(plat::executable_path()), "SdtChild.LoadWithout", kChildVariable,
                             missing);
  }
  static constexpr char kChildVariable[] = "MATRIX_CHILD_MISSING";

  // A getter's result for the largest value, into the buffer its header promises to suffice.
  int largest(const char* getter, std::size_t buffer) {
    sim().set_record(SIM_REC_APPENDED_ADDRESS,
                     sdt_test::appended_message(std::u16string(35, u'中')));
    open_with(largest_card());
    EXPECT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
    EXPECT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
    Guarded text(buffer);
    const int n = call_getter(getter, text.text());
    EXPECT_TRUE(text.intact());
    if (n >= 0 && static_cast<std::size_t>(n) < buffer) {
      EXPECT_EQ(text.content()[n], 0);
    }
    return n;
  }

  static std::vector<matrix::Row<SdtMatrix>> rows() {
    std::vector<matrix::Row<SdtMatrix>> rows = {
        // The edition is linked against the driver and the decoder: the system refuses to load
        // it without one of them, or with a driver that lacks an entry point. Only Windows shows
        // the first (the POSIX build's run path names the simulator's folder, where the loader
        // always finds them), only POSIX the second (Wine's loader binds a missing import to a
        // stub).
#if defined(_WIN32)
        {"LoadWithoutTheDriver", Missing::Nothing, [](SdtMatrix&) { return load_in_child("1"); },
         0, kSdtFiles},
        {"LoadWithoutTheDecoder", Missing::Nothing, [](SdtMatrix&) { return load_in_child("2"); },
         0, kSdtFiles},
#else
        {"LoadWithADriverLackingAnEntry", Missing::Entries, [](SdtMatrix&) { return loads(); },
         0, kSdtFiles},
#endif
        {"BitmapReadWithTheRecordFileBlocked", Missing::Nothing,
         [](SdtMatrix& f) {
           f.open_with(testbed::IdentityRecord());
           f.faults.block("wz.txt");
           return f.read_info(RIDEL_SDT_READ_WITH_BITMAP);
         },
         RIDEL_SDT_FILE_FAILED, {"zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt"},
         {"wx.txt"}},
        {"AppendedAddressWithTheMessageFileBlocked", Missing::Nothing,
         [](SdtMatrix& f) {
           f.open_with(testbed::IdentityRecord());
           f.faults.block("NewAdd.txt");
           return f.read_info(RIDEL_SDT_READ_APPENDED_ADDRESS);
         },
         RIDEL_SDT_FILE_FAILED, {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp"},
         {"NewAdd1.txt"}},
    };
    // Each getter's largest value, its zero byte included, in as many bytes as documented.
    const struct {
      const char* getter;
      int largest;
    } getters[] = {{"GetAddr", 70}, {"GetBegin", 18}, {"GetName", 30},    {"GetSex", 4},
                   {"GetFolk", 10}, {"GetIDNum", 36}, {"GetDep", 30},     {"GetBirth", 18},
                   {"GetEnd", 18},  {"GetNewAddr", 70}};
    for (const auto& g : getters) {
      rows.push_back({std::string(g.getter) + "OfTheLargestValue", Missing::Nothing,
                      [g](SdtMatrix& f) { return f.largest(g.getter, g.largest + 1u); },
                      g.largest});
    }
    return rows;
  }
};

TEST_P(SdtMatrix, Case) { run(kSdtFiles); }

TEST(SdtChild, LoadWithout) {
  const char* missing = std::getenv(SdtMatrix::kChildVariable);
  if (!missing) GTEST_SKIP() << "run by the rows LoadWithoutTheDriver and LoadWithoutTheDecoder";
  testbed::Simulator::instance().load_all();
  matrix::Faults faults;
  faults.apply(std::string(missing) == "1" ? Missing::Driver : Missing::Decoder);
  EXPECT_EQ(SdtMatrix::loads(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sdt, SdtMatrix, ::testing::ValuesIn(SdtMatrix::rows()),
                         matrix::row_name<SdtMatrix>);

}  // namespace
