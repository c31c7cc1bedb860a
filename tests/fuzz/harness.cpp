#include "tests/fuzz/harness.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "platform/host.h"

namespace fuzz {

void fail(const char* what, long long value) {
  std::fprintf(stderr, "fuzz finding: %s (value %lld)\n", what, value);
  std::fflush(stderr);
  std::abort();
}

void clear_output_folder() {
  namespace fs = std::filesystem;
  static const fs::path executable = fs::path(std::string(plat::executable_path())).filename();
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(testbed::output_folder(), error)) {
    if (entry.path().filename() == executable) continue;
    fs::remove_all(entry.path(), error);
  }
}

void make_folder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
}

void block_some(FuzzedDataProvider& in, std::span<const char* const> result_files) {
  if (in.ConsumeIntegralInRange(0, 3) != 0) return;
  for (const char* name : result_files)
    if (in.ConsumeBool()) make_folder(testbed::output_folder() + name);
}

// ---- Scripting the simulator --------------------------------------------------------------------

namespace {

// The records that the input may replace, with the most bytes worth generating for each.
struct RecordPlan {
  int record;
  int typical;  // the contract's size
};
constexpr RecordPlan kRecords[] = {
    {SIM_REC_PHOTO, 1024},
    {SIM_REC_APPENDED_ADDRESS, 280},
    {SIM_REC_MNG_INFO, 28},
    {SIM_REC_SAM_ID, 16},
};

// SAM ID text: dash-separated groups of digits (the fourth is the SAM number), now and then
// other characters; up to 40 bytes, with or without a terminator.
Bytes fuzzed_sam_id_text(FuzzedDataProvider& in) {
  Bytes text;
  const int groups = in.ConsumeIntegralInRange(0, 7);
  for (int g = 0; g < groups && text.size() < 40; ++g) {
    if (g) text.push_back('-');
    const int digits = in.ConsumeIntegralInRange(0, 12);
    for (int d = 0; d < digits && text.size() < 40; ++d) {
      const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
      text.push_back(pick < 200 ? static_cast<unsigned char>('0' + pick % 10) : pick);
    }
  }
  if (in.ConsumeBool()) {
    text.push_back('\0');
  } else {
    while (text.size() < 40) text.push_back(in.ConsumeBool() ? '9' : '-');
  }
  if (text.size() > 40) text.resize(40);
  return text;
}

// The driver libraries that a scripting call of the input applies to.
std::vector<int> drivers(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return {SIM_LIB_SDTAPI, SIM_LIB_STDAPI};
    case 1:
      return {SIM_LIB_SDTAPI};
    default:
      return {SIM_LIB_STDAPI};
  }
}

}  // namespace

int script_simulator(FuzzedDataProvider& in) {
  testbed::Simulator& sim = testbed::Simulator::instance();
  sim.load_all();
  sim.record(false);  // nothing reads a journal here
  sim.reset();
  int reader_port = 1001;
  if (in.ConsumeBool()) {
    reader_port = fuzzed_port(in, reader_port);
    sim.set_reader_port(reader_port);
  }

  if (in.ConsumeBool()) sim.set_record(SIM_REC_IDENTITY, fuzzed_identity(in));
  for (const RecordPlan& plan : kRecords) {
    if (!in.ConsumeBool()) continue;
    const std::size_t size = in.ConsumeBool()
                                 ? static_cast<std::size_t>(plan.typical)
                                 : in.ConsumeIntegralInRange<std::size_t>(0, 4200);
    Bytes bytes = in.ConsumeBytes<unsigned char>(size);
    if (plan.record == SIM_REC_APPENDED_ADDRESS && bytes.size() >= 70 && in.ConsumeBool())
      put_fuzzed_units(in, bytes, 0, 35);
    sim.set_record(plan.record, bytes);
  }
  if (in.ConsumeBool()) sim.set_record(SIM_REC_SAM_ID_TEXT, fuzzed_sam_id_text(in));
  for (int record : {SIM_REC_IDENTITY, SIM_REC_PHOTO, SIM_REC_APPENDED_ADDRESS})
    if (in.ConsumeBool()) sim.set_reported_length(record, fuzzed_length(in));
  if (in.ConsumeBool()) sim.set_decoder_result(in.ConsumeBool() ? fuzzed_status(in) : 1);

  // Now and then a port that the drivers answer on whatever their family, as a reader that the
  // simulator itself would not serve there (a QDX session on a serial port, say); the cycles
  // then favour that port.
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    reader_port = fuzzed_port(in, reader_port);
    for (int entry : {SIM_OPEN_PORT, SIM_CLOSE_PORT, SIM_GET_SAM_STATUS, SIM_GET_SAM_ID_TO_STR})
      sim.set_status(entry, drv::kOk, reader_port);
  }

  const int scripts = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < scripts && in.remaining_bytes() > 0; ++i) {
    const int entry = in.ConsumeIntegralInRange(0, SIM_ENTRY_COUNT - 1);
    const bool queued = in.ConsumeBool();
    const int status = fuzzed_status(in);
    if (entry == SIM_GET_BMP) {
      const int port = in.ConsumeBool() ? 0 : SIM_ANY_PORT;
      queued ? sim.queue_status(entry, status, port) : sim.set_status(entry, status, port);
      continue;
    }
    const int port = in.ConsumeBool() ? SIM_ANY_PORT : fuzzed_port(in, reader_port);
    const int repeat = queued ? in.ConsumeIntegralInRange(1, 3) : 1;
    for (int lib : drivers(in)) {
      for (int k = 0; k < repeat; ++k)
        queued ? sim.queue_status(entry, status, port, lib)
               : sim.set_status(entry, status, port, lib);
    }
  }
  return reader_port;
}

// ---- Edition ------------------------------------------------------------------------------------

Edition::Edition(const testbed::LibraryFile& library, const char* probe)
    : path_(testbed::library_path(library)), probe_(probe) {}

Edition::~Edition() {
#if defined(RIDEL_LIBFUZZER)
  // libFuzzer may still read the last copy's coverage counters while the process ends: the copy
  // stays loaded, held where the leak checker still finds it.
  [[maybe_unused]] static const testbed::Library* const last = copy_.release();
#endif
}

void Edition::fresh() {
  copy_.reset();  // unloaded, and checked to be gone, before the next copy loads
  copy_ = std::make_unique<testbed::Library>(path_);
  void* probe = copy_->symbol(probe_);
  if (!probe) fail("the edition lacks its probe export");
#if defined(RIDEL_LIBFUZZER)
  // libFuzzer keeps the coverage counters of the first copy; a copy mapped elsewhere would leave
  // them pointing at unmapped memory.
  if (!first_address_) first_address_ = probe;
  if (probe != first_address_) fail("a fresh copy of the edition was mapped at another address");
#endif
}

int start_input(FuzzedDataProvider& in, Edition& edition,
                std::span<const char* const> result_files) {
  clear_output_folder();
  const int reader_port = script_simulator(in);
  block_some(in, result_files);
  edition.fresh();
  return reader_port;
}

// ---- Buffers and values -------------------------------------------------------------------------

Buffer::Buffer(int size) : data_(new char[size > 0 ? static_cast<std::size_t>(size) : 0]),
                           size_(size) {
  if (size > 0) std::memset(data_, kMarker, static_cast<std::size_t>(size));
}

int fuzzed_status(FuzzedDataProvider& in) {
  static constexpr int kInteresting[] = {
      drv::kOk, drv::kCardFound, drv::kNoAppendedAddress, drv::kFindNothing, drv::kStatusOne,
      SIM_STATUS_NULL_POINTER, SIM_STATUS_NO_CARD, SIM_STATUS_SAM_NOT_ANSWERING,
      0x00, 0xA0, 0x9E, 0x92, 2, -1, -2, -3, -4, -5, -6, -7, -11, INT_MIN, INT_MAX};
  if (in.ConsumeIntegralInRange(0, 7) != 0) return in.PickValueInArray(kInteresting);
  return in.ConsumeIntegral<int>();
}

int fuzzed_port(FuzzedDataProvider& in, int reader_port) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
    case 1:
      return reader_port;
    case 2:
      return in.ConsumeIntegralInRange(1001, 1016);
    case 3:
      return in.ConsumeIntegralInRange(1, 16);
    case 4: {
      static constexpr int kEdges[] = {0, -1, 999, 1000, 1017, 1984, INT_MIN, INT_MAX};
      return in.PickValueInArray(kEdges);
    }
    case 5:  // a neighbour of the reader's port, wrapping around at the ends of int
      return static_cast<int>(static_cast<unsigned>(reader_port) +
                              static_cast<unsigned>(in.ConsumeIntegralInRange(-17, 17)));
    default:
      return in.ConsumeIntegral<int>();
  }
}

int fuzzed_size(FuzzedDataProvider& in, int exact, int largest) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
      return exact;
    case 1:
      return exact - 1;
    case 2:
      return exact + 1;
    case 3:
      return largest;
    case 4:
      return in.PickValueInArray({-1, 0, 1, 2, INT_MIN});
    default:
      return in.ConsumeIntegralInRange(-4, largest + 4);
  }
}

unsigned fuzzed_length(FuzzedDataProvider& in) {
  static constexpr unsigned kEdges[] = {0,    1,    27,   28,   29,   255,   256,       257,
                                        279,  280,  281,  1023, 1024, 1025,  2047,      2048,
                                        2049, 4096, 4097, 65536, 102401, 0x7FFFFFFFu, 0xFFFFFFFFu};
  if (in.ConsumeIntegralInRange(0, 3) != 0) return in.PickValueInArray(kEdges);
  return in.ConsumeIntegral<unsigned>();
}

void put_fuzzed_units(FuzzedDataProvider& in, Bytes& record, int offset, int units) {
  static constexpr char16_t kUnits[] = {
      u'0',   u'1',   u'2',   u'5',   u'9',   u' ',   0x0000, u'-',   u'+',   u'\t',
      0x5F20, 0x6C49, 0x65CF, 0x00E9, 0x20AC, 0xD800, 0xDC00, 0xFFFF, 0x3000, 0x00A0,
      u'X',   u'a',   0x4E00, 0x9FA5, 0xE000, 0x0080, u'\r',  u'\n',  0x00FF, 0xFEFF};
  const int filled = in.ConsumeIntegralInRange(0, units);
  const bool nul_padding = in.ConsumeBool();
  for (int i = 0; i < units; ++i) {
    char16_t unit = nul_padding ? 0x0000 : u' ';
    if (i < filled)
      unit = in.ConsumeIntegralInRange(0, 4) != 0 ? in.PickValueInArray(kUnits)
                                                   : in.ConsumeIntegral<char16_t>();
    const std::size_t at = static_cast<std::size_t>(offset + 2 * i);
    if (at + 1 >= record.size()) return;
    record[at] = static_cast<unsigned char>(unit & 0xFF);
    record[at + 1] = static_cast<unsigned char>(unit >> 8);
  }
}

Bytes fuzzed_identity(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 3) == 0)
    return in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 4200));
  // Field by field in the record's layout, each padded to its width.
  Bytes record(drv::kIdentityBytes, 0);
  for (std::size_t i = 0; i < record.size(); i += 2) record[i] = ' ';
  for (const rec::Span& field : rec::kFields)
    put_fuzzed_units(in, record, field.offset, field.units());
  // Now and then a record of another length: cut short, or with bytes after it.
  if (in.ConsumeIntegralInRange(0, 5) == 0)
    record.resize(in.ConsumeIntegralInRange<std::size_t>(0, 300), ' ');
  return record;
}

}  // namespace fuzz
