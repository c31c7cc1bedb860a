// Card selection and reading. A base-message read converts the card's fields for display into
// the field store before it writes any file, so that the getters see the new card even when a
// file then fails.
#include <algorithm>
#include <cstring>

#include "common/record.h"
#include "common/sex.h"
#include "driver/sdt_imports.h"
#include "sdt/result_files.h"
#include "sdt/state.h"

namespace sdt {
namespace {

using drv::bounded;

// What a base-message read writes beyond wx.txt and wz.txt.
enum class Photo { None, Raw, Decoded };

// A date with a dash put at byte 4 and then at byte 7, so that YYYYMMDD becomes YYYY-MM-DD; a
// position beyond the end puts its dash at the end. (A date field is 16 bytes at most, so the
// two dashes always fit.)
Value dashed(std::string_view date) {
  const std::size_t first = std::min<std::size_t>(4, date.size());
  Value out(std::string_view(date.data(), first));
  out.append('-');
  date.remove_prefix(first);
  const std::size_t second = std::min<std::size_t>(2, date.size());
  out.append(std::string_view(date.data(), second)).append('-');
  date.remove_prefix(second);
  return out.append(date);
}

// The nation name of the text's leading decimal number; the empty text for entry 0, for a code
// that the table does not hold and before OpenComm has filled the table.
Value nation_name(const State& s, std::string_view code_text) {
  const int code = nation::leading_decimal(code_text);
  if (code < 0 || code >= nation::kSdtEntries || !s.nations[code]) return {};
  return Value(s.nations[code]);
}

Card convert(const State& s, rec::Bytes record) {
  auto field = [&](rec::Field f) { return rec::sdt_text(record, rec::span(f)); };
  Card card;
  card.name = field(rec::Field::Name);
  card.sex = Value(sex::word(field(rec::Field::Sex)));
  card.nation = nation_name(s, field(rec::Field::Nation));
  card.birth = dashed(field(rec::Field::Birth));
  card.address = field(rec::Field::Address);
  card.id_number = field(rec::Field::IdNumber);
  card.authority = field(rec::Field::Authority);
  card.valid_from = dashed(field(rec::Field::ValidFrom));
  card.valid_to = dashed(field(rec::Field::ValidTo));
  return card;
}

// The ten lines of wx.txt: ten values, each at most a FieldText long, with their line ends.
using FieldsText = plat::FixedText<10 * (Value::kCapacity + 2) + 1>;

// The ten lines of wx.txt, each ended by `line_end`.
FieldsText fields_text(const FieldStore& store, std::string_view line_end) {
  const Card& c = store.card;
  FieldsText text;
  for (const Value* value :
       {&c.name, &c.sex, &c.nation, &c.birth, &c.address, &c.id_number, &c.authority,
        &c.valid_from, &c.valid_to, &store.appended_address})
    text.append(*value).append(line_end);
  return text;
}

// The decoder's result as this edition reports it: its own failure codes -1 to -6 pass, every
// other failure is -11.
int decoder_result(int decoded) {
  if (decoded == drv::kDecodeOk) return RIDEL_SDT_OK;
  if (decoded >= RIDEL_SDT_DECODER_FIRST_CODE && decoded <= RIDEL_SDT_DECODER_LAST_CODE)
    return decoded;
  return RIDEL_SDT_DECODE_FAILED;
}

// Read types 1, 2 and 5. wx.txt and pic.wlt are skipped when they cannot be written; wz.txt and
// zp.wlt are required.
int read_base_message(Photo photo) {
  State& s = state;
  unsigned char text[kTextBufferBytes] = {};
  unsigned char photo_bytes[kPhotoBufferBytes] = {};
  unsigned int text_length = 0;
  unsigned int photo_length = 0;
  const int status =
      SDT_ReadBaseMsg(s.port, text, &text_length, photo_bytes, &photo_length, kDriverFlag);
  if (status != drv::kOk) return failure_of(status);

  s.store.card = convert(s, {text, sizeof text});

  const ResultPath folder = output_folder();
  if (folder.empty()) return RIDEL_SDT_FILE_FAILED;
  // Read type 2 ends its lines with a line feed alone, the others with CR LF.
  write_result_file(result_path(folder, kFieldsFile),
                    fields_text(s.store, photo == Photo::None ? "\n" : "\r\n"));
  if (!write_result_file(result_path(folder, kRecordFile), text,
                         bounded(text_length, sizeof text)))
    return RIDEL_SDT_FILE_FAILED;
  if (photo == Photo::None) return RIDEL_SDT_OK;

  const std::size_t photo_size = bounded(photo_length, sizeof photo_bytes);
  ResultPath photo_path = result_path(folder, kPhotoFile);
  if (!write_result_file(photo_path, photo_bytes, photo_size)) return RIDEL_SDT_FILE_FAILED;
  write_result_file(result_path(folder, kPhotoCopyFile), photo_bytes, photo_size);
  if (photo == Photo::Raw) return RIDEL_SDT_OK;

  const int decoded = GetBmp(photo_path.data(), drv::decoder_selector(s.port));
  s.store.photo_path = decoded == drv::kDecodeOk ? result_path(folder, kBitmapFile) : ResultPath();
  return decoder_result(decoded);
}

// Read type 3. NewAdd1.txt is skipped when it cannot be written; NewAdd.txt is required.
int read_appended_address() {
  State& s = state;
  // Cleared first, so that a short message never carries bytes of an earlier call into the
  // address.
  std::memset(s.message, 0, sizeof s.message);
  unsigned int length = 0;
  const int status = SDT_ReadNewAppMsg(s.port, s.message, &length, kDriverFlag);
  if (status != drv::kOk) return failure_of(status);

  s.store.appended_address = rec::sdt_text({s.message, sizeof s.message}, rec::kAppendedAddress);

  const ResultPath folder = output_folder();
  if (folder.empty()) return RIDEL_SDT_FILE_FAILED;
  write_result_file(result_path(folder, kAppendedAddressFile), s.store.appended_address);
  if (!write_result_file(result_path(folder, kMessageFile), s.message,
                         bounded(length, sizeof s.message)))
    return RIDEL_SDT_FILE_FAILED;
  return RIDEL_SDT_OK;
}

// Read type 4: only the driver's result; the information stays in the message buffer.
int read_management_info() {
  State& s = state;
  return result_of(SDT_ReadMngInfo(s.port, s.message, kDriverFlag));
}

int read(int read_type) {
  switch (read_type) {
    case RIDEL_SDT_READ_WITH_BITMAP:
      return read_base_message(Photo::Decoded);
    case RIDEL_SDT_READ_TEXT:
      return read_base_message(Photo::None);
    case RIDEL_SDT_READ_APPENDED_ADDRESS:
      return read_appended_address();
    case RIDEL_SDT_READ_MANAGEMENT_INFO:
      return read_management_info();
    case RIDEL_SDT_READ_WITH_PHOTO:
      return read_base_message(Photo::Raw);
    default:
      return RIDEL_SDT_NONE;
  }
}

// Finds a card and, once one is found, selects it.
int select_card() {
  State& s = state;
  const int found = SDT_StartFindIDCard(s.port, s.message, kDriverFlag);
  if (found == drv::kFindNothing) return RIDEL_SDT_NONE;
  if (found != drv::kCardFound) return failure_of(found);
  return result_of(SDT_SelectIDCard(s.port, s.message, kDriverFlag));
}

}  // namespace
}  // namespace sdt

extern "C" {

int WINAPI SelectCard() { return sdt::select_card(); }
int WINAPI ReadBaseInfo(int read_type) { return sdt::read(read_type); }

}  // extern "C"
