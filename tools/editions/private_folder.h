// A folder of this process's own under the system's temporary folder, readable by its user only:
// where the edition runs from and keeps its log.
#pragma once

#include <string>

namespace idcard {

// A new, empty folder "idcard-N" under the temporary folder (TMPDIR, TEMP), ending in a
// separator; empty when none can be made.
std::string make_private_folder();
void remove_folder(const std::string& folder);

}  // namespace idcard
