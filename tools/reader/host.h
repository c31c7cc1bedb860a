// The reader process's side: it loads the edition into its own folder (where its executable
// lies, so that the edition's result files land there), runs the edition's call sequence on
// request, and answers with the card; the result files go before it answers.
#pragma once

#include <functional>
#include <string>

#include "tools/editions/library.h"
#include "tools/reader/messages.h"

namespace idcard::reader {

class Host {
 public:
  // `send` writes one whole message to the parent.
  explicit Host(std::function<bool(const std::string&)> send);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Answers one request; false when the parent cannot be written to any more.
  bool handle(const Message& request);

 private:
  bool load(const Json& body);
  bool read(const Json& body);
  bool check(const Json& body);
  bool doctor(const Json& body);
  bool answer(const ReadAnswer& a, const std::string& photo);
  // Every file of the folder but this program, the edition, its log and the parent's lock.
  std::vector<FoundFile> left_files() const;
  void remove_left_files() const;
  // Hands the card profile to the simulated reader again when its file changed since it was
  // last handed: a profile replaced between reads applies to the next one.
  std::string profile_changed();

  std::function<bool(const std::string&)> send_;
  ReaderOptions options_;
  Library library_;
  bool sending_ = true;
  std::string profile_;  // the card profile's bytes as last handed
};

}  // namespace idcard::reader
