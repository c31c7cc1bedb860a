// What `idcard serve` takes beside the reader's options.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace idcard {

struct ServeOptions {
  std::string listen = "127.0.0.1:8089";  // HOST:PORT; port 0 picks a free one
  bool allow_non_loopback = false;        // needed to listen on any other address
  std::vector<std::string> allowed_origins;
  std::vector<std::string> allowed_hosts;  // Host names answered beside the loopback ones
  std::chrono::milliseconds poll_interval{500};  // of the event stream while anyone listens
  std::chrono::milliseconds reader_timeout{5000};  // for each call of the reader process
  bool quiet = false;                            // no request log
  std::string log_file;  // where the service's output goes (appended), or empty: stdout, stderr
};

}  // namespace idcard
