// Read_Content: the six content modes and the result files they write in the output folder.
//
//   mode 1  wz.txt (raw text record), xp.wlt, zp.wlt (raw photo), then zp.wlt decoded
//   mode 2  wz.txt (raw text record), xp.wlt (raw photo)
//   mode 3  NEWADDR.txt (raw appended address; empty when the card has none)
//   mode 4  wz.txt (eight text lines), zp.wlt (raw photo), then zp.wlt decoded
//   mode 5  IINSNDN.bin (28 bytes of management information)
//   mode 6  <SAM number>.txt and <SAM number>.wlt as in mode 4, then the .wlt decoded
//
// Files are written in the order shown; the first one that fails ends the call with 0 and leaves
// the later ones as they were. A file counts as written only when all its bytes reached it: one
// that could not be completed (a full disk) is removed again.
#include <initializer_list>
#include <optional>
#include <string_view>

#include "common/nation.h"
#include "common/record.h"
#include "common/sex.h"
#include "platform/fixed_text.h"
#include "qdx/result_files.h"
#include "qdx/state.h"

namespace qdx {
namespace {

// Has the decoder turn a photo file into a bitmap beside it. The interface selector is 1 for
// every port.
bool decode(ResultPath photo_path) {
  return call(setup.entry.GetBmp, photo_path.data(), drv::kSelectorSerial) == drv::kDecodeOk;
}

// ---- The text lines of modes 4 and 6 ------------------------------------------------------------

// The eight lines: every field at most as many bytes as it is wide in the record, a line feed
// inside one at most doubling it, so together they stay far below this.
using TextLines = plat::FixedText<1024>;
static_assert(2 * drv::kIdentityBytes + 8 * 16 < TextLines::kCapacity);

constexpr std::string_view kYear = "\xC4\xEA";   // 年
constexpr std::string_view kMonth = "\xD4\xC2";  // 月
constexpr std::string_view kDay = "\xC8\xD5";    // 日

// The text file is a text-mode file: on disk every line feed is CR LF, the line ends as well as a
// line feed inside a field's text, on every platform alike.
void append_text_mode(TextLines& out, std::string_view text) {
  for (const char c : text) {
    if (c == '\n') out.append('\r');
    out.append(c);
  }
}

// The card holder's fields as eight lines: each field's characters converted as they stand,
// padding kept; sex and nation as words; the birth date as year年month月day日; the validity as
// year.month.day-year.month.day.
TextLines text_lines(rec::Bytes record) {
  const auto field = [&](rec::Field f) { return rec::qdx_text(record, rec::span(f)); };
  const auto part = [&](rec::Span s) { return rec::qdx_text(record, s); };
  const std::optional<int> nation_code = nation::whole_decimal(field(rec::Field::Nation));
  const rec::DateParts birth = rec::date_parts(rec::Field::Birth);
  const rec::DateParts from = rec::date_parts(rec::Field::ValidFrom);
  const rec::DateParts to = rec::date_parts(rec::Field::ValidTo);

  TextLines out;
  const auto line = [&](std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) append_text_mode(out, piece);
    append_text_mode(out, "\n");
  };
  line({field(rec::Field::Name)});
  line({sex::word(field(rec::Field::Sex))});
  line({nation_code ? nation::qdx_name(*nation_code) : ""});
  line({part(birth.year), kYear, part(birth.month), kMonth, part(birth.day), kDay});
  line({field(rec::Field::Address)});
  line({field(rec::Field::IdNumber)});
  line({field(rec::Field::Authority)});
  line({part(from.year), ".", part(from.month), ".", part(from.day), "-", part(to.year), ".",
        part(to.month), ".", part(to.day)});
  return out;
}

// Modes 4 and 6: the text lines, then the raw photo, then the photo decoded.
bool write_text_and_photo(const ResultPath& text_path, const ResultPath& photo_path,
                          std::size_t identity_size, std::size_t photo_size) {
  const TextLines lines = text_lines({records.identity, identity_size});
  return write_result_file(text_path, lines.c_str(), lines.size()) &&
         write_result_file(photo_path, records.photo, photo_size) && decode(photo_path);
}

// ---- The modes ----------------------------------------------------------------------------------

// Modes 1, 2, 4 and 6. A driver refusal touches no file.
int base_message_files(int mode) {
  if (!read_base_message()) return 0;
  const std::size_t identity = bounded(records.identity_length, sizeof records.identity);
  const std::size_t photo = bounded(records.photo_length, sizeof records.photo);
  switch (mode) {
    case RIDEL_QDX_CONTENT_RAW_WITH_BITMAP: {
      const ResultPath photo_path = result_path(kPhotoFile);
      return write_result_file(result_path(kTextFile), records.identity, identity) &&
             write_result_file(result_path(kSecondPhotoFile), records.photo, photo) &&
             write_result_file(photo_path, records.photo, photo) && decode(photo_path);
    }
    case RIDEL_QDX_CONTENT_RAW:
      return write_result_file(result_path(kTextFile), records.identity, identity) &&
             write_result_file(result_path(kSecondPhotoFile), records.photo, photo);
    case RIDEL_QDX_CONTENT_TEXT:
      return write_text_and_photo(result_path(kTextFile), result_path(kPhotoFile), identity,
                                  photo);
    case RIDEL_QDX_CONTENT_SAM_FILES: {
      // The files are named after the SAM number that the first open read.
      const plat::FixedText<16> sam = plat::FixedText<16>().append_decimal(session.sam_number);
      return write_text_and_photo(result_path(sam, kSamTextSuffix),
                                  result_path(sam, kSamPhotoSuffix), identity, photo);
    }
    default:
      return 0;
  }
}

// Mode 3. A card without an appended address leaves the file empty.
int appended_address_file() {
  const int status = call(setup.entry.ReadNewAppMsg, session.port, records.appended_address,
                          &records.appended_address_length, kFlag);
  if (status != drv::kOk && status != drv::kNoAppendedAddress) return 0;
  const std::size_t size =
      status == drv::kNoAppendedAddress
          ? 0
          : bounded(records.appended_address_length, sizeof records.appended_address);
  return write_result_file(result_path(kAppendedAddressFile), records.appended_address, size);
}

// Mode 5.
int management_info_file() {
  if (call(setup.entry.ReadMngInfo, session.port, records.management_info, kFlag) != drv::kOk)
    return 0;
  return write_result_file(result_path(kManagementInfoFile), records.management_info,
                           sizeof records.management_info);
}

int read_content(int mode) {
  if (!session.open) return 0;
  switch (mode) {
    case RIDEL_QDX_CONTENT_RAW_WITH_BITMAP:
    case RIDEL_QDX_CONTENT_RAW:
    case RIDEL_QDX_CONTENT_TEXT:
    case RIDEL_QDX_CONTENT_SAM_FILES:
      return base_message_files(mode);
    case RIDEL_QDX_CONTENT_APPENDED_ADDRESS:
      return appended_address_file();
    case RIDEL_QDX_CONTENT_MANAGEMENT_INFO:
      return management_info_file();
    default:
      return 0;
  }
}

}  // namespace
}  // namespace qdx

extern "C" {

int WINAPI Read_Content(int mode) { return qdx::read_content(mode); }
int WINAPI QDX_Read_Content(int mode) { return Read_Content(mode); }
int WINAPI TC_Read_Content(int mode) { return Read_Content(mode); }
// The second argument is not used: the files go to the same folder.
int WINAPI TC_Read_Content_Path(int mode, int) { return Read_Content(mode); }

}  // extern "C"
