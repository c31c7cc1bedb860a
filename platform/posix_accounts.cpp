// Accounts and the rights on files on POSIX: the password and group databases, lstat/stat and the
// permission bits read as the kernel reads them.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/host.h"

namespace plat {

namespace {

std::string user_name(uid_t id) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(id);
}

// The groups of a user whose primary group is `primary`, that one first.
std::vector<std::uint32_t> groups_of(const char* name, gid_t primary) {
  int count = 64;
  std::vector<gid_t> list;
  for (int attempt = 0; attempt < 4; ++attempt) {
    list.resize(static_cast<std::size_t>(count));
    if (getgrouplist(name, primary, list.data(), &count) >= 0) {
      list.resize(static_cast<std::size_t>(count));
      break;
    }
    if (count <= static_cast<int>(list.size())) count = static_cast<int>(list.size()) * 2;
    list.clear();
  }
  std::vector<std::uint32_t> groups{primary};
  for (gid_t g : list) {
    if (std::find(groups.begin(), groups.end(), g) == groups.end()) groups.push_back(g);
  }
  return groups;
}

}  // namespace

Account current_account() {
  Account a;
  a.id = geteuid();
  a.name = user_name(a.id);
  a.groups.push_back(getegid());
  const int count = getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> list(static_cast<std::size_t>(count));
    const int got = getgroups(count, list.data());
    for (int i = 0; i < got; ++i) {
      if (std::find(a.groups.begin(), a.groups.end(), list[static_cast<std::size_t>(i)]) ==
          a.groups.end())
        a.groups.push_back(list[static_cast<std::size_t>(i)]);
    }
  }
  a.administrator = a.id == 0;
  return a;
}

bool find_account(const std::string& name, Account* account) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (name.empty() || getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      !found)
    return false;
  account->name = found->pw_name;
  account->id = found->pw_uid;
  account->groups = groups_of(found->pw_name, found->pw_gid);
  account->administrator = found->pw_uid == 0;
  return true;
}

PathFacts path_facts(const std::string& path) {
  PathFacts f;
  struct stat s{};
  if (::lstat(path.c_str(), &s) != 0) return f;
  f.exists = true;
  if (S_ISLNK(s.st_mode)) {
    f.link = true;
    std::vector<char> target(static_cast<std::size_t>(s.st_size > 0 ? s.st_size : 4095) + 1);
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (n >= 0) f.link_target.assign(target.data(), static_cast<std::size_t>(n));
    if (::stat(path.c_str(), &s) != 0) return f;
  }
  f.leads_somewhere = true;
  f.folder = S_ISDIR(s.st_mode);
  f.owner = s.st_uid;
  f.group = s.st_gid;
  f.mode = s.st_mode & 07777;
  f.owner_name = user_name(s.st_uid);
  return f;
}

bool may(const Account& account, const std::string& path, unsigned rights) {
  const PathFacts f = path_facts(path);
  if (!f.leads_somewhere) return false;
  if (account.administrator) {
    // Execute needs an execute bit somewhere, except on a folder.
    return !(rights & kMayExecute) || f.folder || (f.mode & 0111) != 0;
  }
  unsigned granted;
  if (f.owner == account.id)
    granted = (f.mode >> 6) & 7;
  else if (std::find(account.groups.begin(), account.groups.end(), f.group) != account.groups.end())
    granted = (f.mode >> 3) & 7;
  else
    granted = f.mode & 7;
  return (granted & rights) == rights;
}

}  // namespace plat
