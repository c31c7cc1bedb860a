// The service's reader: for now the edition inside this process.
#include "tools/service/library_calls.h"

namespace idcard {

std::unique_ptr<ReaderCalls> reader_process_calls(const ReaderOptions& options) {
  return std::make_unique<LibraryCalls>(options);
}

}  // namespace idcard
