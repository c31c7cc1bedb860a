// idcard-reader: the reader process. idcard copies it into a private folder and starts it there
// with two pipes; it loads the edition and the reader's driver and reads cards on request, so
// that neither ever runs inside idcard and the edition's result files land in that folder. It
// ends when idcard closes its requests pipe.
#include <cstdio>
#include <string>

#include "platform/host.h"
#include "tools/reader/host.h"

int main(int argc, char** argv) {
  plat::ignore_broken_pipes();
  plat::output_to_errors();
  plat::File requests, answers;
  if (argc != 3 || !plat::child_pipes(argv[1], argv[2], &requests, &answers)) {
    std::fprintf(stderr, "idcard-reader: idcard starts this program itself; it takes no arguments\n");
    return 2;
  }
  idcard::reader::Host host([&answers](const std::string& message) {
    return answers.write(message.data(), message.size()) == message.size();
  });
  std::string bytes;
  char buf[65536];
  for (;;) {
    idcard::reader::Message request;
    const idcard::reader::Parse parsed = idcard::reader::take_message(bytes, &request);
    if (parsed == idcard::reader::Parse::Bad) return 2;
    if (parsed == idcard::reader::Parse::Message) {
      if (!host.handle(request)) return 1;
      continue;
    }
    const std::size_t n = requests.read(buf, sizeof buf);
    if (n == 0) return 0;  // idcard closed the pipe: its end
    bytes.append(buf, n);
  }
}
