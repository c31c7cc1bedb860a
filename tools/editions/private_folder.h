// A folder of this process's own under the system's temporary folder, readable by its user only:
// where the edition runs from and keeps its log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace idcard {

// A new, empty folder "idcard-N" under the temporary folder (TMPDIR, TEMP), ending in a
// separator; empty when none can be made.
std::string make_private_folder();
void remove_folder(const std::string& folder);

// The log at `path` cut back to its newest lines once it outgrows `limit` bytes: at most half the
// limit is kept, from the start of a line. False when the log could not be cut.
bool bound_log(const std::string& path, std::size_t limit);

// The lines of a text file, without their line ends; at most the last `count`.
std::vector<std::string> last_lines(const std::string& path, std::size_t count);

}  // namespace idcard
