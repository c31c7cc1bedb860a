// The reader of recordings that the simulator plays back, given any text: it is refused naming
// the line at fault, or it gives calls that report no length beyond the record it measures, that
// hand back no byte beyond the buffers the driver contract gives, and that read back the same once
// written again as a line.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/sdtapi.h"
#include "tests/fuzz/harness.h"
#include "recording/recording.h"

namespace {

using recording::Arg;
using recording::Call;
using recording::Kind;

// The contract's size of each buffer a call is given, by entry point and argument name; the
// lengths and the baud rate are unsigned values.
struct ContractBuffer {
  int entry;
  const char* name;
  int size;
  Kind kind;
};
constexpr ContractBuffer kContract[] = {
    {SIM_GET_SAM_ID, "id", 16, Kind::Bytes},
    {SIM_GET_SAM_ID_TO_STR, "text", 40, Kind::Text},
    {SIM_START_FIND_ID_CARD, "buffer", 4, Kind::Bytes},
    {SIM_SELECT_ID_CARD, "buffer", 8, Kind::Bytes},
    {SIM_READ_BASE_MSG, "text", drv::kIdentityBytes, Kind::Bytes},
    {SIM_READ_BASE_MSG, "photo", drv::kPhotoBytes, Kind::Bytes},
    {SIM_READ_MNG_INFO, "info", drv::kManagementInfoBytes, Kind::Bytes},
    {SIM_READ_NEW_APP_MSG, "message", drv::kAppendedAddressBytes, Kind::Bytes},
};
constexpr struct {
  int entry;
  const char* name;
  unsigned most;
} kCounts[] = {
    {SIM_READ_BASE_MSG, "text_length", drv::kIdentityBytes},
    {SIM_READ_BASE_MSG, "photo_length", drv::kPhotoBytes},
    {SIM_READ_NEW_APP_MSG, "length", drv::kAppendedAddressBytes},
    {SIM_GET_COM_BAUD, "baud", ~0u},
};

// Hands the call's answer back through buffers of exactly the contract's sizes (none for a name
// the contract does not know), as the simulator does in replay: AddressSanitizer reports any byte
// written beyond them.
void hand_back_within_the_contract(const Call& call) {
  std::vector<std::unique_ptr<fuzz::Buffer>> buffers;
  std::vector<Arg> args;
  for (const auto& [name, given] : call.pointers) {
    Arg a;
    a.name = name;
    a.kind = Kind::Bytes;
    int size = 0;
    for (const ContractBuffer& b : kContract)
      if (b.entry == call.entry && name == b.name) size = b.size, a.kind = b.kind;
    for (const auto& c : kCounts)
      if (c.entry == call.entry && name == c.name) size = sizeof(unsigned), a.kind = Kind::Count;
    buffers.push_back(std::make_unique<fuzz::Buffer>(size));
    a.pointer = given ? buffers.back()->data() : nullptr;
    args.push_back(a);
  }
  recording::hand_back(call, args);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const std::optional<std::vector<Call>> calls = recording::parse(text, &why);
  if (!calls) {
    FUZZ_CHECK(why.rfind("line ", 0) == 0, static_cast<long long>(why.size()));
    return 0;
  }
  for (const Call& call : *calls) {
    FUZZ_CHECK(call.library >= 0 && call.library < SIM_LIB_COUNT, call.library);
    FUZZ_CHECK(call.entry >= 0 && call.entry < SIM_ENTRY_COUNT, call.entry);
    for (const auto& [name, value] : call.counts) {
      bool known = false;
      for (const auto& c : kCounts) {
        if (c.entry != call.entry || name != c.name) continue;
        known = true;
        FUZZ_CHECK(value <= c.most, value);
      }
      FUZZ_CHECK(known, call.entry);
    }
    hand_back_within_the_contract(call);

    std::string again;
    const std::optional<Call> back = recording::from_line(recording::to_line(call), &again);
    FUZZ_CHECK(back.has_value(), call.entry);
    FUZZ_CHECK(recording::same_call(call, *back), call.entry);
    FUZZ_CHECK(back->status == call.status, call.status);
    FUZZ_CHECK(back->counts == call.counts, call.entry);
    FUZZ_CHECK(back->bytes == call.bytes, call.entry);
    FUZZ_CHECK(back->card_data_kept == call.card_data_kept, call.entry);
  }
  return 0;
}
