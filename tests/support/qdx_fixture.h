// The QDX edition's fixture, shared by its suite and the matrix: a fresh copy of the edition per
// case, the simulated reader, and the edition's exports called by name.
#pragma once

#include <string>
#include <vector>

#include "platform/abi.h"
#include "tests/support/testbed_gtest.h"

namespace qdx_test {

// The edition as applications find it in the build.
inline std::string library_path() { return testbed::library_path(testbed::kQdxEdition); }

// The sample card's SAM ID, "0511-20180418-0000036512-0000123456", names the mode-6 files.
inline constexpr const char kSampleSam[] = "123456";

// Every file a case may leave beside the test executable, removed before each case.
inline std::vector<std::string> result_files() {
  std::vector<std::string> files = {"wz.txt", "xp.wlt",      "zp.wlt",     "zp.bmp",
                                    "xp.bmp", "NEWADDR.txt", "IINSNDN.bin"};
  for (const char* sam : {kSampleSam, "0", "1", "42", "45", "789", "-2147483648", "654321"}) {
    for (const char* ext : {".txt", ".wlt", ".bmp"}) files.push_back(std::string(sam) + ext);
  }
  return files;
}

class QdxTest : public testbed::EditionTest {
 protected:
  QdxTest() : EditionTest(library_path(), result_files()) {}

  using NoArgs = int(WINAPI*)();
  using OneInt = int(WINAPI*)(int);

  int InitComm(int port, const char* name = "InitComm") { return edition().fn<OneInt>(name)(port); }
  int CloseComm(const char* name = "CloseComm") { return edition().fn<NoArgs>(name)(); }
  int Authenticate(const char* name = "Authenticate") { return edition().fn<NoArgs>(name)(); }
  int Read_Content(int mode, const char* name = "Read_Content") {
    return edition().fn<OneInt>(name)(mode);
  }
  int TC_Read_Content_Path(int mode, int unused) {
    return edition().fn<int(WINAPI*)(int, int)>("TC_Read_Content_Path")(mode, unused);
  }
  int QDX_Ant(int value) { return edition().fn<OneInt>("QDX_Ant")(value); }
  int QDX_ReadBaseMsg(unsigned char* text, unsigned char* photo) {
    using Fn = int(WINAPI*)(unsigned char*, int, unsigned char*, int, int);
    return edition().fn<Fn>("QDX_ReadBaseMsg")(text, 0, photo, 0, 0);
  }
  int QDX_GetDllVersion(char* out) {
    return edition().fn<int(WINAPI*)(char*)>("QDX_GetDllVersion")(out);
  }

  // Opens the simulator's reader port and forgets the calls that took.
  void open() {
    ASSERT_EQ(InitComm(1001), 1);
    sim().clear_journal();
  }
  // Opens and authenticates, as an application does before reading.
  void open_and_authenticate() {
    ASSERT_EQ(InitComm(1001), 1);
    ASSERT_EQ(Authenticate(), 1);
    sim().clear_journal();
  }

  // Writes a file beside the executable, standing for the result of an earlier call.
  void leave(const std::string& name, const testbed::Bytes& bytes) {
    ASSERT_TRUE(testbed::write_file(out(name), bytes));
  }

  // The journal line of the decoder's call on a file beside the executable.
  std::string get_bmp_line(const std::string& name) const {
    return "WltRS GetBmp(" + out(name) + ", 1)";
  }
};

}  // namespace qdx_test
