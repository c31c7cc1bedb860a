#include "tools/service/page.h"

namespace idcard {

namespace {
constexpr PageFile kPage[] = {
#include "serve_page.inc"
};
}  // namespace

std::span<const PageFile> page_files() { return kPage; }

}  // namespace idcard
