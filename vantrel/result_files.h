// The result files in the output folder and the photo decoding step, shared by Read_Content and
// the setters.
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

// The path of the bitmap that the decoder makes of a photo file: the output folder, the photo
// file's name without its folder and extension, and ".bmp".
ResultPath bitmap_path(std::string_view photo);

// Creates or replaces the file with exactly these bytes: 1, or 0 with log entry 1010 when it
// cannot be created or not all bytes reached it (no partial file then stays). A link under that
// name is replaced, never written through; a folder, pipe or device fails. A path that does not
// fit in 512 characters is refused the same way.
int write_file(const ResultPath& path, const void* bytes, std::size_t count);
// Reads up to `size` bytes of an existing file: the number of bytes read, or 0 with log entry
// 1010.
std::size_t read_file(const ResultPath& path, void* buffer, std::size_t size);

// Has the decoder turn the photo file into a bitmap, closing an open port around the call. With
// a buffer, then reads the bitmap that the decoder wrote (the output folder, the photo file's
// base name, ".bmp") into it, sets *count and, when asked, deletes the bitmap. 1 on success, else
// the decoder's result, logged. A photo path too long for any file system is refused with log
// entry 1010 and 0, before the port is touched.
int decode_photo(std::string_view photo, unsigned char* buffer, std::size_t size,
                 std::size_t* count, bool delete_bitmap);

}  // namespace vantrel
