// The getters: each copies one value of the field store, and a zero byte after it, into the
// caller's buffer and returns the value's length in bytes. They make no driver call.
#include <cstring>
#include <string_view>

#include "sdt/state.h"

namespace {

int hand_out(std::string_view value, char* text) {
  if (!text) return 0;
  std::memcpy(text, value.data(), value.size());
  text[value.size()] = '\0';
  return static_cast<int>(value.size());
}

const sdt::FieldStore& store() { return sdt::state.store; }

}  // namespace

extern "C" RIDEL_EXPORT int WINAPI GetAddr(char* text) {
  return hand_out(store().card.address, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetBegin(char* text) {
  return hand_out(store().card.valid_from, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetName(char* text) { return hand_out(store().card.name, text); }
extern "C" RIDEL_EXPORT int WINAPI GetSex(char* text) { return hand_out(store().card.sex, text); }
extern "C" RIDEL_EXPORT int WINAPI GetFolk(char* text) {
  return hand_out(store().card.nation, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetIDNum(char* text) {
  return hand_out(store().card.id_number, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetDep(char* text) {
  return hand_out(store().card.authority, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetBirth(char* text) {
  return hand_out(store().card.birth, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetEnd(char* text) {
  return hand_out(store().card.valid_to, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetNewAddr(char* text) {
  return hand_out(store().appended_address, text);
}
extern "C" RIDEL_EXPORT int WINAPI GetPicPath(char* text) {
  return hand_out(store().photo_path, text);
}
