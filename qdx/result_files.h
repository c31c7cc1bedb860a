// The result files: their names, their paths in the output folder (result_path) and how each is
// written (write_result_file). The output folder is the one set-up found once, at load.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/fixed_text.h"
#include "qdx/state.h"

namespace qdx {

// Result file names in the output folder. Mode 6 names its two files after the SAM number.
inline constexpr const char kTextFile[] = "wz.txt";
inline constexpr const char kPhotoFile[] = "zp.wlt";
inline constexpr const char kSecondPhotoFile[] = "xp.wlt";
inline constexpr const char kAppendedAddressFile[] = "NEWADDR.txt";
inline constexpr const char kManagementInfoFile[] = "IINSNDN.bin";
inline constexpr const char kSamTextSuffix[] = ".txt";
inline constexpr const char kSamPhotoSuffix[] = ".wlt";

// A result file's path: the output folder (at most 260 characters) and a file name.
using ResultPath = plat::FixedText<kOutputFolderRoom + 32>;

// The full path of a result file, `name` then `suffix` in the output folder; empty when there is
// no output folder.
ResultPath result_path(std::string_view name, std::string_view suffix = {});

// Creates or replaces the file with exactly these bytes, shared with other readers and writers:
// false for an empty path, or when it cannot be created or not all of them reached it (a full
// disk), in which case no empty or partial file stays behind. A link under that name is
// replaced, never written through; a folder, pipe or device fails.
bool write_result_file(const ResultPath& path, const void* data, std::size_t size);

}  // namespace qdx
