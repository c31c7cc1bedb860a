#include "tools/card/card.h"

namespace idcard {

const std::string* Card::find(const char* key) const {
  for (const Field& f : fields) {
    if (std::string(f.key) == key) return &f.value;
  }
  return nullptr;
}

std::string ReadError::line() const {
  return step + ": " + call + " returned " + std::to_string(code) +
         (message.empty() ? std::string() : ": " + message);
}

}  // namespace idcard
