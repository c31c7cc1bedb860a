// The photo decoding step, shared by Read_Content and SetPhotoData: the decoder turns a photo
// file into a bitmap in the output folder, which can then be read into the field store.
#pragma once

#include <cstddef>
#include <string_view>

#include "vantrel/result_files.h"

namespace vantrel {

// The path of the bitmap that the decoder makes of a photo file: the output folder, the photo
// file's name without its folder and extension, and ".bmp".
ResultPath bitmap_path(std::string_view photo);

// Has the decoder turn the photo file into a bitmap, closing an open port around the call. With
// a buffer, then reads the bitmap that the decoder wrote (bitmap_path) into it, sets *count and,
// when asked, deletes the bitmap. 1 on success, else the decoder's result, logged. A photo path
// too long for any file system is refused with log entry 1010 and 0, before the port is touched.
int decode_photo(std::string_view photo, unsigned char* buffer, std::size_t size,
                 std::size_t* count, bool delete_bitmap);

}  // namespace vantrel
