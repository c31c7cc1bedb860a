// The getters: each copies one value of the field store, and a zero byte after it, into the
// caller's buffer and returns the value's length in bytes. They make no driver call.
#include <cstring>
#include <string_view>

#include "sdt/state.h"

namespace sdt {
namespace {

int hand_out(std::string_view value, char* text) {
  if (!text) return 0;
  std::memcpy(text, value.data(), value.size());
  text[value.size()] = '\0';
  return static_cast<int>(value.size());
}

const Card& card() { return state.store.card; }

}  // namespace
}  // namespace sdt

extern "C" {

int WINAPI GetAddr(char* text) { return sdt::hand_out(sdt::card().address, text); }
int WINAPI GetBegin(char* text) { return sdt::hand_out(sdt::card().valid_from, text); }
int WINAPI GetName(char* text) { return sdt::hand_out(sdt::card().name, text); }
int WINAPI GetSex(char* text) { return sdt::hand_out(sdt::card().sex, text); }
int WINAPI GetFolk(char* text) { return sdt::hand_out(sdt::card().nation, text); }
int WINAPI GetIDNum(char* text) { return sdt::hand_out(sdt::card().id_number, text); }
int WINAPI GetDep(char* text) { return sdt::hand_out(sdt::card().authority, text); }
int WINAPI GetBirth(char* text) { return sdt::hand_out(sdt::card().birth, text); }
int WINAPI GetEnd(char* text) { return sdt::hand_out(sdt::card().valid_to, text); }
int WINAPI GetNewAddr(char* text) {
  return sdt::hand_out(sdt::state.store.appended_address, text);
}
int WINAPI GetPicPath(char* text) { return sdt::hand_out(sdt::state.store.photo_path, text); }

}  // extern "C"
