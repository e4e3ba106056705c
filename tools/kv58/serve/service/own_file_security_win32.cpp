#include "tools/kv58/serve/service/own_file_security_win32.h"

#include <aclapi.h>

#include "serial/system_message_win32.h"

namespace kv58::serve::detail {
namespace {

// The SID of the process's user, copied out of its token.
bool ProcessUser(std::vector<unsigned char>& sid, std::string& error) {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
    error = SystemMessage(GetLastError());
    return false;
  }
  DWORD size = 0;
  (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  const bool ok = size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
  const DWORD failure = GetLastError();
  (void)CloseHandle(token);
  if (!ok) {
    error = SystemMessage(failure);
    return false;
  }
  const PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  sid.resize(GetLengthSid(user));
  return CopySid(static_cast<DWORD>(sid.size()), sid.data(), user) != 0;
}

} // namespace

bool RunsAsLocalSystem() {
  std::vector<unsigned char> user;
  std::string ignored;
  return ProcessUser(user, ignored) && IsWellKnownSid(user.data(), WinLocalSystemSid) != 0;
}

OwnFileSecurity::OwnFileSecurity() {
  if (!ProcessUser(user_, error_)) {
    return;
  }
  std::vector<PSID> allowed{user_.data()};
  if (IsWellKnownSid(user_.data(), WinLocalSystemSid) != 0) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    administrators_.resize(size);
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_.data(), &size) == 0) {
      error_ = SystemMessage(GetLastError());
      return;
    }
    allowed.push_back(administrators_.data());
  }
  auto aclSize = static_cast<DWORD>(sizeof(ACL));
  for (const PSID sid : allowed) {
    aclSize += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(sid);
  }
  acl_.resize(aclSize);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  bool ok = InitializeAcl(acl, aclSize, ACL_REVISION) != 0;
  for (const PSID sid : allowed) {
    ok = ok && AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) != 0;
  }
  ok = ok && InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) != 0 &&
       SetSecurityDescriptorOwner(&descriptor_, user_.data(), FALSE) != 0 &&
       SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) != 0 &&
       SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED) != 0;
  if (!ok) {
    error_ = SystemMessage(GetLastError());
  }
}

bool OwnFileSecurity::Apply(HANDLE file) {
  const DWORD result =
      SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, reinterpret_cast<ACL*>(acl_.data()), nullptr);
  if (result != ERROR_SUCCESS) {
    error_ = SystemMessage(result);
    return false;
  }
  return true;
}

} // namespace kv58::serve::detail
