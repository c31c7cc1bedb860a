// The setters' photo step at the edge of what it takes: a photo path that fits the library's path
// buffer goes to the decoder with the port closed around it; one character more is refused and
// logged before the reader is touched, and the store keeps its photo.
#include <string>

#include "tests/support/vantrel_fixture.h"

namespace vantrel_test {
namespace {

using Lines = std::vector<std::string>;

class Setters : public VantrelTest {};

TEST_F(Setters, PhotoPathsAtTheEdgeOfThePathBuffer) {
  read_test_card();  // the port stays open, and the store holds the card's photo
  const int photo_size = get("GetPhotoBMP", 200000).result;
  ASSERT_GT(photo_size, 0);
  // The decoder answers 1 without writing a bitmap.
  sim().set_status(SIM_GET_BMP, 1);
  const std::size_t fits = plat::kPathRoom - 1;  // the path buffer holds its terminator as well
  const auto photo = [&](std::size_t length) {
    std::string path = out("");
    path.append(length - path.size() - 4, 'p');
    return path + ".wlt";
  };

  sim().clear_journal();
  const std::string refused = photo(fits + 1);
  EXPECT_EQ(SetPhotoData(refused.c_str()), 0);
  EXPECT_EQ(sim().journal_lines(), Lines{});
  // Logged with code 0 and the path, the line cut to the log's 1024 bytes.
  const Bytes bytes = testbed::read_file(log_path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), ("0<" + refused).substr(0, 1024) + "\r\n");
  EXPECT_EQ(get("GetPhotoBMP", photo_size).result, photo_size);

  sim().clear_journal();
  const std::string taken = photo(fits);
  EXPECT_EQ(SetPhotoData(taken.c_str()), 1);
  // The journal keeps as much of the decoder's path as its record holds.
  const std::string journaled = taken.substr(0, sizeof SimCall::path - 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_ClosePort(1001)", "WltRS GetBmp(" + journaled + ", 2)",
                   "sdtapi SDT_OpenPort(1001)"}));
}

}  // namespace
}  // namespace vantrel_test
