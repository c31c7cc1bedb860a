// The error log: one line per failure in the hidden file idcrerror.log beside the library.
#pragma once

#include <string_view>

namespace vantrel {

// Appends "<code><<context>><message text><local time>" and CR LF. When the log cannot be
// opened, emptied or written, tells the user in a message box; the entry is then lost.
void log_error(unsigned message, int code, std::string_view context);

}  // namespace vantrel
