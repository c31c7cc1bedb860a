// The nation list (common/nation_names.inc) as the tests read it, row by row: what the editions
// must hand out is worked out from the list the libraries are built from, never from a table of
// one of the libraries.
#pragma once

namespace nation_list {

struct Row {
  int code;
  const char* name;     // UTF-8
  const char* gbk;      // the same name as GBK bytes
  const char* vantrel;  // the vantrel edition's spelling, UTF-8
};

inline constexpr Row kRows[] = {
#define NATION(code, name, gbk, vantrel_name) {code, name, gbk, vantrel_name},
#include "common/nation_names.inc"
#undef NATION
};

// The vantrel edition's spelling of `code` (UTF-8); nullptr for a code without a name.
constexpr const char* vantrel_name(int code) {
  for (const Row& row : kRows)
    if (row.code == code) return row.vantrel;
  return nullptr;
}

}  // namespace nation_list
