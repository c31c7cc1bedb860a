// The platform layer: names, paths, conversion, string tables, files.
#include <algorithm>
#include <functional>
#include <type_traits>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/host.h"

#include "tests/support/testbed_gtest.h"

namespace {

using testbed::text;

TEST(LibraryName, PosixRule) {
  EXPECT_EQ(plat::posix_library_name("WltRs.dll"), "libwltrs.so");
  EXPECT_EQ(plat::posix_library_name("WltRS.dll"), "libwltrs.so");
  EXPECT_EQ(plat::posix_library_name("sdtapi.dll"), "libsdtapi.so");
  EXPECT_EQ(plat::posix_library_name("RIDEL"), "libridel.so");
}

TEST(Libraries, MissingLibraryOrEntryGivesNull) {
  EXPECT_EQ(plat::load_library("no-such-library.dll"), nullptr);
  EXPECT_EQ(plat::load_library(nullptr), nullptr);
  EXPECT_EQ(plat::entry_point(nullptr, "x"), nullptr);
  testbed::Simulator::instance().load(SIM_LIB_WLTRS);
  plat::Module m = plat::load_library(testbed::simulator_path(SIM_LIB_WLTRS).c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_NE(plat::entry_point(m, "GetBmp"), nullptr);
  EXPECT_EQ(plat::entry_point(m, "NoSuchEntry"), nullptr);
  EXPECT_EQ(plat::entry_point(m, nullptr), nullptr);
  // Loaded by the test bed under its Windows name: found without loading it again.
  EXPECT_NE(plat::find_loaded_module("WltRS.dll"), nullptr);
  EXPECT_EQ(plat::find_loaded_module("not-loaded.dll"), nullptr);
  plat::free_library(m);
}

TEST(Paths, ExecutableAndFolder) {
  const std::string exe(plat::executable_path());
  ASSERT_FALSE(exe.empty());
  const std::string folder(plat::folder_of(exe));
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), plat::kPathSeparator);
  EXPECT_EQ(exe.substr(0, folder.size()), folder);
  EXPECT_FALSE(plat::module_path(plat::own_module()).empty());
  EXPECT_EQ(plat::folder_of("noseparator"), "");
#if defined(_WIN32)
  EXPECT_EQ(plat::folder_of("C:x.exe"), "C:");
  EXPECT_EQ(plat::folder_of("C:\\a\\b.exe"), "C:\\a\\");
#else
  EXPECT_EQ(plat::folder_of("/a/b"), "/a/");
#endif
}

// Paths in GBK, the ANSI code page of the Wine runs: 淺 is 9C 5C, its second byte the code of '\'.
struct GbkPath {
  const char* path;
  const char* folder;  // what folder_of gives
};
const GbkPath kGbkPaths[] = {
    {"C:\\app\\\x9C\x5C.exe", "C:\\app\\"},                               // 淺.exe
    {"C:\\\x9C\x5C\\host.exe", "C:\\\x9C\x5C\\"},                        // 淺\host.exe
    {"C:\\\x9C\x5C\x9C\x5C\\\x9C\x5C.exe", "C:\\\x9C\x5C\x9C\x5C\\"},  // 淺淺\淺.exe
    {"C:\\a\\\xBA\xBA\\b\x9C", "C:\\a\\\xBA\xBA\\"},  // 汉, and a lead byte alone at the end
    {"\x9C\x5C", ""},                                     // no separator at all
};

// GBK's lead bytes, as the Windows code page 936 has them.
constexpr bool gbk_lead_byte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

TEST(Paths, SecondBytesOfDoubleByteCharactersAreNeverSeparators) {
  for (const GbkPath& p : kGbkPaths) {
    const std::string_view path = p.path;
    const std::size_t cut = plat::find_last_in_path(path, "\\:", gbk_lead_byte);
    EXPECT_EQ(cut == std::string_view::npos ? "" : path.substr(0, cut + 1), p.folder) << path;
#if defined(_WIN32)
    // The Windows runs use code page 936 as the system's ANSI code page.
    EXPECT_EQ(plat::folder_of(path), p.folder) << path;
#endif
  }
  // Single-byte text is read byte by byte: the last of the characters asked for.
  EXPECT_EQ(plat::find_last_in_path("a.b\\c.d", ".", gbk_lead_byte), 5u);
  EXPECT_EQ(plat::find_last_in_path("abc", "\\", gbk_lead_byte), std::string_view::npos);
#if !defined(_WIN32)
  // UTF-8 paths hold no ASCII byte inside a character: split at their last '/' as ever.
  EXPECT_EQ(plat::folder_of("/a/\u6DFA/\u6DFA"), "/a/\u6DFA/");
  EXPECT_EQ(plat::find_last_in_path("/a\\b/c\\d", "\\"), 6u);
#endif
}

TEST(Conversion, Ucs2ToGbk) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"汉", text({0xBA, 0xBA})},
      {u"A1 ", "A1 "},
      {u"男女", text({0xC4, 0xD0, 0xC5, 0xAE})},
      {u"\u0E01", "?"},  // no GBK form
      {u"\xDC00", "?"},  // a lone surrogate
  };
  for (const Case& c : cases) {
    const testbed::Bytes in = testbed::ucs2(c.in);
    char out[16];
    const int n = plat::ucs2_to_ansi(in.data(), static_cast<int>(c.in.size()), out, sizeof out,
                                     plat::kWcCompositeCheck | plat::kWcDefaultChar);
    EXPECT_EQ(std::string(out, n), c.out);
  }
}

TEST(Conversion, AnsiToUtf8) {
  EXPECT_EQ(plat::ansi_to_utf8(text({0xBA, 0xBA, 0xD7, 0xE5})), "汉族");
  EXPECT_EQ(plat::ansi_to_utf8("AB 12"), "AB 12");
  EXPECT_EQ(plat::ansi_to_utf8(""), "");
}

TEST(Conversion, NulUnitsBecomeZeroBytesAndBadArgumentsNothing) {
  const testbed::Bytes in = testbed::ucs2(std::u16string(u"A\0B", 3));
  char out[8];
  ASSERT_EQ(plat::ucs2_to_ansi(in.data(), 3, out, sizeof out, 0), 3);
  EXPECT_EQ(std::string(out, 3), std::string("A\0B", 3));
  EXPECT_EQ(plat::ucs2_to_ansi(nullptr, 3, out, sizeof out, 0), 0);
  EXPECT_EQ(plat::ucs2_to_ansi(in.data(), 0, out, sizeof out, 0), 0);
  EXPECT_EQ(plat::ucs2_to_ansi(in.data(), 3, out, 0, 0), 0);
}

TEST(Conversion, NeverSplitsACharacterAtTheEndOfTheBuffer) {
  const testbed::Bytes in = testbed::ucs2(u"A汉");
  char out[3] = {'x', 'x', 'G'};
  EXPECT_EQ(plat::ucs2_to_ansi(in.data(), 2, out, 2, 0), 1);
  EXPECT_EQ(out[2], 'G');
}

// A buffer too small for the whole text gets the longest run of whole characters that fits, on
// every system alike, also where the cut falls in a later block of a long text (the Windows
// conversion works 256 units at a time).
TEST(Conversion, WritesWhatFitsOfALongText) {
  const std::string han = text({0xBA, 0xBA});
  auto repeat = [](const auto& piece, int times) {
    std::decay_t<decltype(piece)> out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
  };
  const struct {
    const char* name;
    std::u16string in;
    int room;
    std::string out;
  } cases[] = {
      {"one character, no room for it", u"汉", 1, ""},
      {"odd room", u"汉汉", 3, han},
      {"within the first block", repeat(std::u16string(u"汉"), 200), 301, repeat(han, 150)},
      {"cut in the second block", repeat(std::u16string(u"汉"), 300), 533, repeat(han, 266)},
      {"ASCII, cut in the second block", std::u16string(300, u'a'), 280, std::string(280, 'a')},
      {"ASCII then Chinese", std::u16string(200, u'a') + repeat(std::u16string(u"汉"), 100), 301,
       std::string(200, 'a') + repeat(han, 50)},
      {"first block exactly, no room for the next character",
       std::u16string(256, u'a') + u"汉", 257, std::string(256, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const testbed::Bytes in = testbed::ucs2(c.in);
    std::string out(static_cast<std::size_t>(c.room) + 1, 'G');
    const int n = plat::ucs2_to_ansi(in.data(), static_cast<int>(c.in.size()), out.data(), c.room,
                                     plat::kWcCompositeCheck | plat::kWcDefaultChar);
    EXPECT_EQ(out.substr(0, static_cast<std::size_t>(std::max(n, 0))), c.out);
    EXPECT_EQ(out.substr(c.out.size()), std::string(out.size() - c.out.size(), 'G'))
        << "nothing written beyond what it reports";
  }
}

#if !defined(_WIN32)

// A lead byte counts as one only with a trail byte after it; a broken pair costs one replacement
// character and the character after it stays.
TEST(Conversion, AnsiToUtf8KeepsWhatFollowsABrokenPair) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string ansi, utf8;
  } cases[] = {
      {text({0x81, 0x30}), replacement + "0"},   // a digit is no trail byte
      {text({0xBA, 0x0A, 0x41}), replacement + "\nA"},
      {text({0xFF, 0x41}), replacement + "A"},    // 0xFF leads nothing
      {text({0x41, 0xBA}), "A" + replacement},    // a lead byte at the end
      {text({0x81, 0x41}), "\xE4\xB8\x84"},       // a pair with a letter as its trail byte
  };
  for (const auto& c : cases) EXPECT_EQ(plat::ansi_to_utf8(c.ansi), c.utf8);
}

TEST(StringTable, PosixTableConvertsToGbkAndCuts) {
  const plat::StringEntry table[] = {{7, "汉族"}, {8, "abc"}};
  char buf[8];
  EXPECT_EQ(plat::load_string(nullptr, table, 7, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf), text({0xBA, 0xBA, 0xD7, 0xE5}));
  EXPECT_EQ(plat::load_string(nullptr, table, 8, buf, 3), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(plat::load_string(nullptr, table, 9, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
}
#endif

class Files : public ::testing::Test {
 protected:
  void SetUp() override { plat::delete_file(path.c_str()); }
  void TearDown() override { plat::delete_file(path.c_str()); }
  std::string path = testbed::output_folder() + "platform-test.bin";
  std::string copy = testbed::output_folder() + "platform-test-copy.bin";
};

TEST_F(Files, CreateWriteReadCopyDelete) {
  {
    plat::File f = plat::create_file(path.c_str(), plat::Share::Read);
    ASSERT_TRUE(f.is_open());
    EXPECT_EQ(f.write("abc", 3), 3u);
    EXPECT_EQ(f.size(), 3);
  }
  {
    plat::File f = plat::create_file(path.c_str(), plat::Share::Read);  // replaces
    EXPECT_EQ(f.size(), 0);
    f.write("hello", 5);
  }
  {
    plat::File f = plat::open_file(path.c_str(), true, plat::Share::Read);
    ASSERT_TRUE(f.is_open());
    ASSERT_TRUE(f.seek_end());
    f.write("!", 1);
  }
  EXPECT_EQ(testbed::read_file(path), testbed::bytes("hello!"));
  ASSERT_TRUE(plat::copy_file(path.c_str(), copy.c_str()));
  EXPECT_EQ(testbed::read_file(copy), testbed::bytes("hello!"));
  EXPECT_TRUE(plat::delete_file(copy.c_str()));
  EXPECT_FALSE(plat::file_exists(copy.c_str()));
  EXPECT_FALSE(plat::delete_file(copy.c_str()));
}

TEST_F(Files, ExclusiveCreateFailsWhileAnotherHandleHoldsTheFile) {
  plat::File holder = plat::open_file(path.c_str(), true, plat::Share::None, true);
  ASSERT_TRUE(holder.is_open());
  EXPECT_FALSE(plat::create_file(path.c_str(), plat::Share::None).is_open());
  holder.close();
  EXPECT_TRUE(plat::create_file(path.c_str(), plat::Share::None).is_open());
}

// Sharing as the libraries use it: a writer lets others read but not write, and since a reader
// does not let others write either, a file being written cannot be opened by a reader. Readers
// share with readers.
TEST_F(Files, WritersExcludeWritersAndReadersShareWithReaders) {
  testbed::write_file(path, testbed::bytes("x"));
  using Opener = std::function<plat::File(const char*)>;
  const Opener writer = [](const char* p) { return plat::open_file(p, true, plat::Share::Read); };
  const Opener creator = [](const char* p) { return plat::create_file(p, plat::Share::Read); };
  const Opener reader = [](const char* p) { return plat::open_file(p, false, plat::Share::Read); };
  const struct {
    const char* what;
    const Opener& first;
    const Opener& second;
    bool second_opens;
  } cases[] = {
      {"writer, then writer", writer, writer, false},
      {"writer, then creator", writer, creator, false},
      {"creator, then writer", creator, writer, false},
      {"writer, then reader", writer, reader, false},
      {"reader, then writer", reader, writer, false},
      {"reader, then reader", reader, reader, true},
  };
  for (const auto& c : cases) {
    plat::File first = c.first(path.c_str());
    ASSERT_TRUE(first.is_open()) << c.what;
    EXPECT_EQ(c.second(path.c_str()).is_open(), c.second_opens) << c.what;
    first.close();
    EXPECT_TRUE(c.second(path.c_str()).is_open()) << c.what << ", once the first is closed";
  }
}

TEST_F(Files, OpenExistingFailsForMissingFileWithAnError) {
  EXPECT_FALSE(plat::open_file(path.c_str(), false, plat::Share::Read).is_open());
  EXPECT_NE(plat::last_error(), 0u);
  EXPECT_FALSE(plat::create_file(nullptr, plat::Share::Read).is_open());
  EXPECT_FALSE(plat::create_file((testbed::output_folder() + "no-such-folder/x").c_str(),
                                 plat::Share::Read).is_open());
}

// A bounded read of a whole file: the file's bytes up to the limit, nothing of anything else, and
// never a wait on a pipe. `out` starts full of other bytes: it is empty after every failure.
TEST_F(Files, ReadWholeFileReadsRegularFilesUpToTheLimitOnly) {
  const std::string folder = testbed::output_folder();
  const std::string fifo = folder + "platform-test.fifo";
  const std::string link = folder + "platform-test.link";
#if defined(_WIN32)
  const std::string device = "NUL";
#else
  const std::string device = "/dev/null";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
#endif
  const struct {
    const char* what;
    std::string content;  // written to `path` first
    const char* read;     // nullptr: a null path
    std::size_t limit;
    plat::WholeFile result;
  } cases[] = {
      {"up to the limit", "hello", path.c_str(), 5, plat::WholeFile::Read},
      {"empty", "", path.c_str(), 0, plat::WholeFile::Read},
      {"one byte over the limit", "hello!", path.c_str(), 5, plat::WholeFile::TooLarge},
      {"missing", "x", copy.c_str(), 5, plat::WholeFile::CannotOpen},
      {"no path", "x", nullptr, 5, plat::WholeFile::CannotOpen},
      {"a folder", "x", folder.c_str(), 1u << 20, plat::WholeFile::Folder},
      {"a device", "x", device.c_str(), 1u << 20, plat::WholeFile::NotRegular},
#if !defined(_WIN32)
      {"a pipe without a writer", "x", fifo.c_str(), 1u << 20, plat::WholeFile::NotRegular},
      {"a link to a regular file", "linked", link.c_str(), 6, plat::WholeFile::Read},
#endif
  };
  for (const auto& c : cases) {
    testbed::write_file(path, testbed::bytes(c.content));
    std::string text = "left over";
    EXPECT_EQ(plat::read_whole_file(c.read, c.limit, text), c.result) << c.what;
    testbed::Bytes bytes = testbed::bytes("left over");
    EXPECT_EQ(plat::read_whole_file(c.read, c.limit, bytes), c.result) << c.what;
    if (c.result == plat::WholeFile::Read) {
      EXPECT_EQ(text, c.content) << c.what;
      EXPECT_EQ(bytes, testbed::bytes(c.content)) << c.what;
    } else {
      EXPECT_EQ(text, "") << c.what;
      EXPECT_TRUE(bytes.empty()) << c.what;
    }
  }
#if !defined(_WIN32)
  ::unlink(fifo.c_str());
  ::unlink(link.c_str());
#endif
}

// The read shares the file as asked: a file another handle holds alone is not read; one that
// another reader holds is.
TEST_F(Files, ReadWholeFileSharesAsAsked) {
  testbed::write_file(path, testbed::bytes("held"));
  std::string text;
  {
    plat::File holder = plat::open_file(path.c_str(), true, plat::Share::None);
    ASSERT_TRUE(holder.is_open());
    EXPECT_EQ(plat::read_whole_file(path.c_str(), 64, text), plat::WholeFile::CannotOpen);
  }
  plat::File reader = plat::open_file(path.c_str(), false, plat::Share::Read);
  ASSERT_TRUE(reader.is_open());
  EXPECT_EQ(plat::read_whole_file(path.c_str(), 64, text), plat::WholeFile::Read);
  EXPECT_EQ(text, "held");
}

TEST(Time, LocalTimeIsPlausible) {
  const plat::LocalTime t = plat::local_time();
  EXPECT_GE(t.year, 2024u);
  EXPECT_GE(t.month, 1u);
  EXPECT_LE(t.month, 12u);
  EXPECT_GE(t.day, 1u);
  EXPECT_LE(t.day, 31u);
  EXPECT_LE(t.hour, 23u);
  EXPECT_LE(t.minute, 59u);
  EXPECT_LE(t.second, 60u);
}

// A file that is no library is told apart from a missing one, by the system's own reason.
TEST_F(Files, LoadErrorTellsADamagedLibraryFromAMissingOne) {
  const std::string damaged = testbed::output_folder() + "platform-test-damaged.dll";
  const std::string_view bytes = "not a library, only a few bytes";
  ASSERT_TRUE(plat::write_whole_file(damaged.c_str(), bytes.data(), bytes.size(), plat::Share::Read));
  struct Case {
    std::string path;
    plat::LoadFailure kind;
  } cases[] = {{damaged, plat::LoadFailure::Damaged},
               {testbed::output_folder() + "no-such-folder/no-such-library.dll",
                plat::LoadFailure::NeedsLibraries}};
  for (const Case& c : cases) {
    EXPECT_EQ(plat::load_library(c.path.c_str()), nullptr) << c.path;
    const plat::LoadError e = plat::last_load_error();
    EXPECT_EQ(e.kind, c.kind) << c.path << ": " << e.text;
    EXPECT_FALSE(e.text.empty()) << c.path;
  }
  plat::delete_file(damaged.c_str());
}

// A process that the service manager did not start: run_as_service says so without running the
// service's body, and where there is no service manager every call refuses in the same words.
TEST(Services, OutsideTheServiceManager) {
  bool ran = false;
  const plat::ServiceBody body{[&ran](const std::function<void()>&) {
                                 ran = true;
                                 return 0;
                               },
                               [] {}};
  int status = -1;
  std::string error;
  const plat::ServiceRun run = plat::run_as_service("ridel-platform-test", body, &status, &error);
  EXPECT_FALSE(ran);
  EXPECT_EQ(status, -1);
  if (plat::has_service_manager()) {
    EXPECT_EQ(run, plat::ServiceRun::NotStartedByManager);
    return;
  }
  const std::string refusal = "there is no Windows service manager on this system";
  EXPECT_EQ(run, plat::ServiceRun::Failed);
  EXPECT_EQ(error, refusal);
  const std::function<bool(std::string*)> calls[] = {
      [](std::string* e) { return plat::install_service({"ridel-platform-test", "d", "t", "x"}, e); },
      [](std::string* e) { return plat::uninstall_service("ridel-platform-test", e); },
      [](std::string* e) { return plat::start_service("ridel-platform-test", e); },
      [](std::string* e) { return plat::stop_service("ridel-platform-test", e); }};
  for (const auto& call : calls) {
    error.clear();
    EXPECT_FALSE(call(&error));
    EXPECT_EQ(error, refusal);
  }
  EXPECT_FALSE(plat::on_console_stop([](bool) {}));
}

}  // namespace
