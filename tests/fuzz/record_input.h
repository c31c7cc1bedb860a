// The input of the record conversion targets: a record of any length, in a heap block of exactly
// that length so that AddressSanitizer sees a conversion reading past its end.
#pragma once

#include <cstring>

#include "common/record.h"
#include "tests/fuzz/harness.h"

namespace fuzz {

class RecordInput {
 public:
  RecordInput(const std::uint8_t* data, std::size_t size)
      : block_(static_cast<int>(size)), size_(size) {
    if (size) std::memcpy(block_.bytes(), data, size);
  }
  rec::Bytes bytes() { return {block_.bytes(), size_}; }

 private:
  Buffer block_;
  std::size_t size_;
};

}  // namespace fuzz
