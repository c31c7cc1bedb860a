// The log an edition keeps beside itself (the vantrel edition's idcrerror.log): kept bounded under
// a service's polling, and read back to show what the edition said about a failure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace idcard {

// The log at `path` cut back to its newest lines once it outgrows `limit` bytes: at most half the
// limit is kept, from the start of a line. False when the log could not be cut.
bool bound_log(const std::string& path, std::size_t limit);

// The lines of a text file, without their line ends; at most the last `count`.
std::vector<std::string> last_lines(const std::string& path, std::size_t count);

}  // namespace idcard
