// The getters: values of the field store, their bytes and their counts.
#include <cstring>
#include <string>

#include "tests/support/sdt_fixture.h"

namespace sdt_test {
namespace {

class Getters : public SdtTest {};

TEST_F(Getters, EveryValueIsEmptyAfterLoading) {
  for (const char* getter : kGetters) EXPECT_EQ(get(getter), "") << getter;
  // Closing the port clears nothing and fills nothing.
  close_comm();
  for (const char* getter : kGetters) EXPECT_EQ(get(getter), "") << getter;
}

TEST_F(Getters, EachHandsOutItsValue) {
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  const std::string expected[] = {expect::kAddress,   expect::kValidFrom, expect::kName,
                                  expect::kFemale,    expect::kNation,    expect::kIdNumber,
                                  expect::kAuthority, expect::kBirth,     expect::kValidTo,
                                  kAppendedAddressGbk, out("zp.bmp")};
  for (std::size_t i = 0; i < std::size(kGetters); ++i)
    EXPECT_EQ(get(kGetters[i]), expected[i]) << kGetters[i];
  // The result counts bytes, not characters, and a call changes nothing.
  char buffer[RIDEL_SDT_VALUE_BUFFER];
  EXPECT_EQ(call_getter("GetName", buffer), 6);
  EXPECT_EQ(call_getter("GetSex", buffer), 2);
  EXPECT_EQ(call_getter("GetFolk", buffer), 6);
  EXPECT_EQ(call_getter("GetBirth", buffer), 10);
  EXPECT_EQ(call_getter("GetPicPath", buffer), static_cast<int>(out("").size() + 6));
  EXPECT_EQ(get("GetName"), expect::kName);
}

TEST_F(Getters, NullBufferGivesZero) {
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  for (const char* getter : kGetters) EXPECT_EQ(call_getter(getter, nullptr), 0) << getter;
  EXPECT_EQ(get("GetName"), expect::kName);
}

TEST_F(Getters, ValuesOutliveTheSession) {
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  ASSERT_EQ(close_comm(), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetName"), expect::kName);
  EXPECT_EQ(get("GetEnd"), expect::kValidTo);
  sim().clear_journal();
  for (const char* getter : kGetters) get(getter);
  EXPECT_TRUE(sim().journal_lines().empty());  // getters never call the driver
}

}  // namespace
}  // namespace sdt_test
