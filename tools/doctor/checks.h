// The doctor's two halves: what the files of the folder say (files.cpp, with the rights of the
// user they are checked for in rights.cpp and the recording driver in recorder.cpp) and what the
// reader says through the folder's driver and decoder (live.cpp).
#pragma once

#include <string>
#include <vector>

#include "driver/binding.h"
#include "platform/host.h"
#include "tools/doctor/doctor.h"
#include "tools/doctor/live_checks.h"
#include "tools/image/image.h"
#include "tools/editions/edition.h"

namespace idcard::doctor {

// Whose rights the file checks stand for.
struct Checker {
  plat::Account doctor;     // the account idcard doctor runs as
  plat::Account user;       // whose rights are checked: --as-user's, else the doctor's
  bool other_user = false;  // --as-user named an account
};

// A driver or decoder file as the edition finds it.
struct Located {
  const char* windows_name = nullptr;  // as the editions name it ("sdtapi.dll")
  std::string file;                    // its file name on this platform
  std::string path;                    // where it was found; empty: missing
  std::string link;                    // where the name leads when it is a link, or empty
  bool dangling = false;               // a link that leads nowhere
  image::Image image;
  bool recorder = false;  // the recording driver stands in for the library
  // Why the live checks must not load it; empty when they may: found, readable by the user
  // checked for, whole, for this system and of the deployment's architecture.
  std::string unusable = "it is missing";
};

struct Deployment {
  std::string folder;  // ending in a separator
  Checker who;
  image::Image host;  // this program
  const EditionInfo* edition = nullptr;
  std::string edition_file;
  image::Image edition_image;
  Located driver, serial_driver, decoder;
  // The architecture that the deployment holds together by: this program's and the majority's.
  image::Image reference;
};

// The file checks: edition, architecture, driver and decoder, the recording driver, folder,
// rights, code page.
void check_files(const Options& o, Deployment& d, Report& r);

// Builds the request from the file checks and runs the live checks in a reader process, or says
// why they are skipped; a driver that crashes or hangs there is a finding.
void check_live(const Options& o, const Deployment& d, Report& r);

// ---- Rights (rights.cpp) ------------------------------------------------------------------------

// Sets up whose rights are checked (--as-user); a finding when the account is unknown.
Checker make_checker(const Options& o, Report& r);
// A note when the doctor runs as root or an administrator and no other user is checked for.
void note_administrator(const Checker& who, Report& r);
// Whether `who.user` has `rights` (plat::Right bits) on `path` and may reach it through its
// folders; when not, a failing finding (check "access") naming the user, the file or folder in the
// way and the command that fixes it. `what` says what the application then cannot do.
bool check_access(const Checker& who, const std::string& path, unsigned rights,
                  const std::string& what, Report& r);
// Where `user` is stopped on the way to `rights` on `path` (a folder on the way, or the path
// itself), with the right refused; empty when nothing stops the user.
std::string refused_at(const plat::Account& user, const std::string& path, unsigned rights,
                       unsigned* refused);
// The user in words: "root", "the user nobody".
std::string user_words(const plat::Account& a);
// A path quoted for the system's command line where it needs it.
std::string quoted(const std::string& path);

// ---- The recording driver (recorder.cpp) --------------------------------------------------------

// Marks the located libraries that are the recording driver; names it, whether it keeps the
// card's data (a failure) and a real library it lacks (a failure, and the library unusable).
void check_recorder(Deployment& d, Report& r);

// A note, and the report marked, when the driver is the simulated reader: its reads are the
// simulator's card, whatever lies on a reader.
void check_simulator(const Deployment& d, Report& r);

void add(Report& r, const char* check, const std::string& subject, Status status, std::string text,
         std::string fix = {});

}  // namespace idcard::doctor
