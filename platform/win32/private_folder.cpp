// Private folders on Windows: in the user's temporary folder, with an access list that grants
// this user alone (not inherited from above, inherited by what is made inside). A program
// loads libraries from its own folder first: a folder others could write would let them put
// a library of theirs beside the reader process.
#include <windows.h>

#include <string>

#include "platform/host.h"

namespace plat {

namespace {

// The token's user, in `room`.
PSID own_user(std::string& room) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  room.assign(size, '\0');
  const bool got = size && GetTokenInformation(token, TokenUser, room.data(), size, &size);
  CloseHandle(token);
  return got ? reinterpret_cast<TOKEN_USER*>(room.data())->User.Sid : nullptr;
}

}  // namespace

std::string private_folder_base() {
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0 || n > MAX_PATH) return {};
  std::string base(buf, n);
  if (base.back() != '\\') base += '\\';
  return base;
}

bool create_private_folder(const std::string& path, std::string* error) {
  std::string user_room;
  const PSID user = own_user(user_room);
  if (!user) {
    *error = "cannot make the folder " + path + ": this process's user is unknown: " +
             error_text(GetLastError());
    return false;
  }
  const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user);
  std::string acl_room(acl_size, '\0');
  auto* acl = reinterpret_cast<PACL>(acl_room.data());
  SECURITY_DESCRIPTOR descriptor;
  const bool described =
      InitializeAcl(acl, acl_size, ACL_REVISION) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                            user) &&
      InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
      SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  if (!described || !CreateDirectoryA(path.c_str(), &attributes)) {
    *error = "cannot make the folder " + path + ": " + error_text(GetLastError());
    return false;
  }
  return true;
}

}  // namespace plat
