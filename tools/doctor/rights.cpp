// Whose rights the file checks stand for and what stops that user: the folders on the way to a
// file and the file's own permission bits (POSIX), or a refused open (Windows). Each refusal names
// the user, the file or folder and the command that grants the right.
#include <algorithm>
#include <cstdio>

#include "tools/doctor/checks.h"

namespace idcard::doctor {

namespace {

#if !defined(_WIN32)
std::string mode_words(const plat::PathFacts& f) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(f.mode & 0777));
  return "mode " + std::string(mode) + ", owner " + f.owner_name;
}
#endif

// The command that gives `user` the right on `path`.
std::string grant(const Checker& who, const std::string& path, bool folder, unsigned rights) {
#if defined(_WIN32)
  (void)folder;
  const std::string name = who.user.name.empty() ? "Users" : who.user.name;
  if (rights & plat::kMayWrite) return "icacls " + quoted(path) + " /grant " + name + ":(OI)(CI)M";
  return "icacls " + quoted(path) + " /grant " + name + ":RX";
#else
  // The application's folder is its user's to write; reading and opening are for everyone.
  if (rights & plat::kMayWrite) return "sudo chown " + who.user.name + " " + quoted(path);
  return "sudo chmod " + std::string(folder ? "a+rx " : "a+r ") + quoted(path);
#endif
}

std::string verb(bool folder, unsigned rights) {
  if (rights & plat::kMayWrite) return folder ? "create files in" : "write";
  return folder ? "open the folder" : "read";
}

void refuse(const Checker& who, const std::string& path, bool folder, unsigned rights,
            const std::string& what, Report& r) {
#if defined(_WIN32)
  const std::string how = " (access denied)";
#else
  const std::string how = " (" + mode_words(plat::path_facts(path)) + ")";
#endif
  add(r, "access", path, Status::Fail,
      user_words(who.user) + " cannot " + verb(folder, rights) + " " + path + how + ": " + what,
      grant(who, path, folder, rights));
}

}  // namespace

std::string user_words(const plat::Account& a) {
#if !defined(_WIN32)
  if (a.id == 0) return "root";
#endif
  return "the user " + (a.name.empty() ? std::string("running idcard doctor") : a.name);
}

std::string quoted(const std::string& path) {
#if defined(_WIN32)
  return "\"" + path + "\"";
#else
  if (path.find_first_of(" \t'\"\\$`!*?[]{}()<>|&;#~") == std::string::npos) return path;
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
#endif
}

Checker make_checker(const Options& o, Report& r) {
  Checker who;
  who.doctor = plat::current_account();
  who.user = who.doctor;
  if (o.as_user.empty()) return who;
  if (plat::find_account(o.as_user, &who.user)) {
    who.other_user = true;
    return who;
  }
  who.user = who.doctor;
  add(r, "user", o.as_user, Status::Fail,
      "there is no user " + o.as_user + " on this system: the rights are checked for " +
          user_words(who.doctor) + ", who runs idcard doctor",
      "give --as-user the user the application runs as (ps -o user= -p <its process id> shows it)");
  return who;
}

void note_administrator(const Checker& who, Report& r) {
  if (who.other_user || !who.doctor.administrator) return;
#if defined(_WIN32)
  add(r, "user", who.doctor.name, Status::Note,
      "idcard doctor runs as an administrator (" + who.doctor.name +
          "), who may read and write where the application's user may not",
      "run idcard doctor as the user who runs the application, without administrator rights");
#else
  add(r, "user", who.doctor.name, Status::Note,
      "idcard doctor runs as root, who may read and write every file: the user the application "
      "runs as may lack rights that root has",
      "check that user's rights with idcard doctor --as-user <the application's user>");
#endif
}

std::string refused_at(const plat::Account& user, const std::string& path, unsigned rights,
                       unsigned* refused) {
  // Every folder on the way must let the user through.
#if defined(_WIN32)
  constexpr const char* kSeparators = "\\/";
#else
  constexpr const char* kSeparators = "/";
#endif
  for (std::size_t at = path.find_first_of(kSeparators, 1); at != std::string::npos && at + 1 < path.size();
       at = path.find_first_of(kSeparators, at + 1)) {
    const std::string folder = path.substr(0, at + 1);
    if (!plat::may(user, folder, plat::kMayExecute)) {
      *refused = plat::kMayExecute;
      return folder;
    }
  }
  const bool folder = plat::path_facts(path).folder;
  // A folder the user cannot open at all is named for that, before what it would do inside.
  if (folder && !plat::may(user, path, plat::kMayExecute)) {
    *refused = plat::kMayExecute;
    return path;
  }
  if (plat::may(user, path, rights)) return "";
  *refused = rights;
  return path;
}

bool check_access(const Checker& who, const std::string& path, unsigned rights,
                  const std::string& what, Report& r) {
  unsigned refused = 0;
  const std::string at = refused_at(who.user, path, rights, &refused);
  if (at.empty()) return true;
  // A folder in the way of several files is named once.
  const bool named = std::any_of(r.findings.begin(), r.findings.end(), [&at](const Finding& f) {
    return f.check == "access" && f.subject == at;
  });
  if (!named) refuse(who, at, plat::path_facts(at).folder, refused, what, r);
  return false;
}

}  // namespace idcard::doctor
