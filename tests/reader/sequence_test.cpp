// The read path inside the reader process, run in this process against the simulated reader:
// what the SDT edition's appended-address read leaves when it fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "driver/sdtapi.h"
#include "tests/support/testbed.h"
#include "tools/editions/library.h"
#include "tools/editions/sequence.h"

namespace {

using testbed::Simulator;

TEST(ReadSequence, AFailedAppendedAddressReadNeverHandsOutTheLastCardsAddress) {
  Simulator& sim = Simulator::instance();
  sim.load_all();
  idcard::ReaderOptions o;
  ASSERT_TRUE(idcard::set_edition(o, "sdt"));
  o.root = testbed::build_folder();
  idcard::Library library;
  std::string error;
  ASSERT_TRUE(idcard::load(o, &library, &error)) << error;
  struct Case {
    const char* name;
    std::function<void()> script;
  };
  const Case cases[] = {
      {"the card has none", [&] { sim.set_record(SIM_REC_APPENDED_ADDRESS, {}); }},
      {"the driver refuses the read", [&] { sim.set_status(SIM_READ_NEW_APP_MSG, drv::kStatusOne); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim.reset();
    const idcard::ReadResult first = idcard::read_card(library, o);
    ASSERT_TRUE(first.ok) << first.error.line();
    ASSERT_NE(first.card.find("appended_address"), nullptr);
    ASSERT_FALSE(first.card.find("appended_address")->empty());
    c.script();
    std::vector<std::string> calls;
    const idcard::ReadResult second =
        idcard::read_card(library, o, [&](const char*, const std::string& call) { calls.push_back(call); });
    ASSERT_TRUE(second.ok) << second.error.line();
    ASSERT_NE(second.card.find("appended_address"), nullptr);
    EXPECT_EQ(*second.card.find("appended_address"), "");
    EXPECT_EQ(*second.card.find("id_number"), *first.card.find("id_number"));
    // Every call of the edition was announced, the extra read among them; GetNewAddr was not made.
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ReadBaseInfo(3)"), calls.end());
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "GetNewAddr()"), calls.end());
    EXPECT_EQ(calls.front(), "OpenComm(1001)");
    EXPECT_EQ(calls.back(), "CloseComm()");
  }
  idcard::unload(&library);
  for (const char* name : o.info().result_files) plat::delete_file((testbed::output_folder() + name).c_str());
}

}  // namespace
