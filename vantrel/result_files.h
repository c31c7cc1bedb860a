// The result files: their paths in the output folder (result_path) and how each is written
// (write_result_file), read back (read_result_file) and removed (delete_result_file). This
// edition names its own files by string-table texts, and logs every file that fails (entry
// 1010).
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/fixed_text.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {

// A result file's path, with room for the output folder and a file name from the string table,
// or the base name of a photo file. Paths of 512 characters or more are refused before use.
using ResultPath = plat::FixedText<kOutputFolderRoom + kFileNameRoom>;

// The path of result file `name` (a string id): the output folder followed by that file name.
ResultPath result_path(unsigned name);
// The path of a file named by another step (the decoder names its bitmap after the photo file):
// the output folder, `stem`, then `suffix`.
ResultPath result_path(std::string_view stem, std::string_view suffix);

// Creates or replaces the file with exactly these bytes: true, or false with log entry 1010
// when it cannot be created or not all bytes reached it (no partial file then stays). A link
// under that name is replaced, never written through; a folder, pipe or device fails. A path
// that does not fit in 512 characters is refused the same way.
bool write_result_file(const ResultPath& path, const void* bytes, std::size_t count);
// Reads up to `size` bytes of an existing file: the number of bytes read, or 0 with log entry
// 1010.
std::size_t read_result_file(const ResultPath& path, void* buffer, std::size_t size);
// Removes the file; a path that names no result file (too long, or no output folder) is left
// alone.
void delete_result_file(const ResultPath& path);

// Logs log entry 1010 for a path refused before anything was touched, as the operations above do.
void log_refused_path(std::string_view path);

}  // namespace vantrel
