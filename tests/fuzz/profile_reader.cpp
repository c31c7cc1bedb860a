// The reader of card profiles, given any text: it is refused with a message for people (never the
// JSON parser's own tag), or it gives a reader whose records have exactly the sizes the driver
// writes and whose faults name real entry points.
#include <nlohmann/json.hpp>

#include <string>

#include "driver/sdtapi.h"
#include "simulator/state.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A recording is read from a file the profile names: the recording reader has a target of its
  // own, and any path that a fuzzer makes up is none of this one's business.
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_object() && doc.contains("replay")) return 0;

  sim::Reader reader;
  std::string error;
  if (!sim::parse_profile(text, reader, error)) {
    FUZZ_CHECK(!error.empty(), 0);
    // The parser's own message comes after one of these; the input's own text may hold anything.
    for (const std::string prefix : {"profile: not valid JSON: ", "profile: "}) {
      if (error.rfind(prefix, 0) == 0)
        FUZZ_CHECK(error.compare(prefix.size(), 15, "[json.exception") != 0,
                   static_cast<long long>(error.size()));
    }
    return 0;
  }
  const auto size_of = [&](int record) {
    return static_cast<long long>(reader.records[record].size());
  };
  FUZZ_CHECK(size_of(SIM_REC_IDENTITY) == drv::kIdentityBytes, size_of(SIM_REC_IDENTITY));
  FUZZ_CHECK(size_of(SIM_REC_PHOTO) == drv::kPhotoBytes, size_of(SIM_REC_PHOTO));
  FUZZ_CHECK(size_of(SIM_REC_APPENDED_ADDRESS) == 0 ||
                 size_of(SIM_REC_APPENDED_ADDRESS) == drv::kAppendedAddressBytes,
             size_of(SIM_REC_APPENDED_ADDRESS));
  const sim::Bytes& sam = reader.records[SIM_REC_SAM_ID_TEXT];
  FUZZ_CHECK(!sam.empty() && sam.size() <= 40 && sam.back() == 0, static_cast<long long>(sam.size()));
  for (const auto& [entry, milliseconds] : reader.faults.hang)
    FUZZ_CHECK(entry >= 0 && entry < SIM_ENTRY_COUNT && milliseconds <= 0x7FFFFFFFu, entry);
  for (int entry : reader.faults.crash) FUZZ_CHECK(entry >= 0 && entry < SIM_ENTRY_COUNT, entry);
  FUZZ_CHECK(!reader.faults.strikes || *reader.faults.strikes >= 1, 0);
  FUZZ_CHECK(!reader.replay, 0);
  return 0;
}
