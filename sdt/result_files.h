// The result files: their names, their paths in the output folder (result_path) and how each is
// written (write_result_file). Unlike the other editions, this one works out the output folder
// afresh for each read (output_folder) and builds that read's paths from it.
#pragma once

#include <cstddef>
#include <string_view>

#include "sdt/state.h"

namespace sdt {

// The result files, in the output folder.
inline constexpr char kFieldsFile[] = "wx.txt";       // the field store as text lines
inline constexpr char kRecordFile[] = "wz.txt";       // the Identity record as returned
inline constexpr char kPhotoFile[] = "zp.wlt";        // the Photo record, handed to the decoder
inline constexpr char kPhotoCopyFile[] = "pic.wlt";   // a second copy of it
inline constexpr char kBitmapFile[] = "zp.bmp";       // written by the decoder beside zp.wlt
inline constexpr char kMessageFile[] = "NewAdd.txt";  // the appended-address message as returned
inline constexpr char kAppendedAddressFile[] = "NewAdd1.txt";  // the appended address as text

// The folder of the host application's executable, worked out afresh for each read; empty when
// it is unknown or does not fit into kOutputFolderRoom (cutting the path there would send the
// files into a wrong folder).
ResultPath output_folder();

// The full path of result file `name` in `folder`, a folder that output_folder() gave.
ResultPath result_path(const ResultPath& folder, std::string_view name);

// Creates the file for exclusive access, replacing one of that name, and writes the bytes.
// False when it cannot be created or not all bytes could be written; a file left incomplete is
// removed again, so that no truncated result file stays behind. A link under that name is
// replaced, never written through; a folder, pipe or device fails.
bool write_result_file(const ResultPath& path, const void* data, std::size_t size);
inline bool write_result_file(const ResultPath& path, std::string_view text) {
  return write_result_file(path, text.data(), text.size());
}

}  // namespace sdt
