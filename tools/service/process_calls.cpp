// The service's reader: one reader process, kept between calls.
#include "tools/reader/reader_process.h"
#include "tools/service/reads.h"

namespace idcard {

namespace {

class ProcessCalls : public ReaderCalls {
 public:
  explicit ProcessCalls(const ReaderOptions& options) : process_(options) {}
  ReaderAnswer start(std::chrono::milliseconds deadline) override { return process_.start(deadline); }
  ReaderAnswer read(std::chrono::milliseconds deadline) override { return process_.read(deadline); }
  ReaderAnswer check(std::chrono::milliseconds deadline) override { return process_.check(deadline); }
  void stop() override { process_.stop(); }

 private:
  ReaderProcess process_;
};

}  // namespace

std::unique_ptr<ReaderCalls> reader_process_calls(const ReaderOptions& options) {
  return std::make_unique<ProcessCalls>(options);
}

}  // namespace idcard
