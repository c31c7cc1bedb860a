// The demo page, compiled in.
#pragma once

#include <span>

namespace idcard {

struct PageFile {
  const char* path;
  const char* media_type;  // every file is UTF-8 text
  const char* text;
};

std::span<const PageFile> page_files();

// Only the page's own files, never anything inline or from elsewhere.
inline constexpr const char kPagePolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src data:; connect-src 'self'; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

}  // namespace idcard
