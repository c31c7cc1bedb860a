// The reader inside this process: the edition loaded beside the service and called on the worker
// thread, without deadlines (a call that hangs holds the worker). For tests that script the
// simulated reader loaded in their own process.
#pragma once

#include "tools/editions/library.h"
#include "tools/service/reads.h"

namespace idcard {

class LibraryCalls : public ReaderCalls {
 public:
  explicit LibraryCalls(ReaderOptions options);
  ~LibraryCalls() override;

  ReaderAnswer start(std::chrono::milliseconds deadline) override;
  ReaderAnswer read(std::chrono::milliseconds deadline) override;
  ReaderAnswer check(std::chrono::milliseconds deadline) override;
  void stop() override;

 private:
  ReaderAnswer call(bool card);
  void remove_result_files() const;

  ReaderOptions options_;
  Library library_;
  bool loaded_ = false;
};

}  // namespace idcard
