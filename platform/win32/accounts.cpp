// Accounts and the rights on files on Windows: the running user's name and whether it belongs to
// the Administrators; rights are found out by trying them.
#include <windows.h>

#include "platform/host.h"

namespace plat {

Account current_account() {
  Account a;
  char name[257] = {};
  DWORD size = sizeof name;
  if (GetUserNameA(name, &size)) a.name = name;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                               0, 0, 0, 0, &administrators)) {
    BOOL member = FALSE;
    if (CheckTokenMembership(nullptr, administrators, &member)) a.administrator = member != FALSE;
    FreeSid(administrators);
  }
  return a;
}

bool find_account(const std::string&, Account*) { return false; }

PathFacts path_facts(const std::string& path) {
  PathFacts f;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return f;
  f.exists = true;
  f.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  f.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (f.link) {
    // Where a link leads is found by opening through it.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return f;
    char target[MAX_PATH + 8] = {};
    const DWORD n = GetFinalPathNameByHandleA(h, target, sizeof target, 0);
    if (n > 0 && n < sizeof target) f.link_target = target;
    CloseHandle(h);
  }
  f.leads_somewhere = true;
  return f;
}

bool may(const Account&, const std::string& path, unsigned rights) {
  const PathFacts f = path_facts(path);
  if (!f.leads_somewhere) return false;
  if (!(rights & kMayRead) || f.folder) return true;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_ACCESS_DENIED;
  CloseHandle(h);
  return true;
}

}  // namespace plat
