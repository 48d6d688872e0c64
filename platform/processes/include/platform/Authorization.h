// Authorization: the administrator right and running a tool with it.
//
// The right "system.privilege.admin" is the polkit action kCorvimusAdminAction. Asking for it with
// interaction allowed makes polkit ask the user to authenticate as an administrator
// (`pkcheck --allow-user-interaction` for this process); the action keeps the authorization for a
// few minutes, and its policy names the removal tool as the program `pkexec` may run under it, so
// the tool then starts through `pkexec` without a second question. When polkit does not know the
// action (its policy file lies where polkit does not look), the right is left to `pkexec`, which
// asks with its generic action when the tool starts; a refusal then shows as the tool's exit code
// (126 or 127). A process that already runs as root has the right without asking and starts the
// tool directly.
//
// Tests replace the authorizer (SetAuthorizerForTesting): FakeAuthorizer answers as told and starts
// the tool directly as the calling user; PolkitAuthorizer can be pointed at stand-in programs.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/MacTypes.h"

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;
using AuthorizationFlags = UInt32;

enum : AuthorizationFlags {
  kAuthorizationFlagDefaults = 0,
  kAuthorizationFlagInteractionAllowed = 1 << 0,
  kAuthorizationFlagExtendRights = 1 << 1,
  kAuthorizationFlagPartialRights = 1 << 2,
  kAuthorizationFlagDestroyRights = 1 << 3,
  kAuthorizationFlagPreAuthorize = 1 << 4,
};

enum : OSStatus {
  errAuthorizationSuccess = 0,
  errAuthorizationInvalidSet = -60001,
  errAuthorizationInvalidRef = -60002,
  errAuthorizationInvalidPointer = -60004,
  errAuthorizationDenied = -60005,
  errAuthorizationCanceled = -60006,
  errAuthorizationInteractionNotAllowed = -60007,
  errAuthorizationInternal = -60008,
  errAuthorizationToolExecuteFailure = -60031,
};

struct AuthorizationItem {
  const char* name;
  size_t valueLength;
  void* value;
  UInt32 flags;
};
struct AuthorizationItemSet {
  UInt32 count;
  AuthorizationItem* items;
};
using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

inline constexpr char kAuthorizationRightExecute[] = "system.privilege.admin";
inline constexpr char kCorvimusAdminAction[] = "com.kelvane.mouse.uninstall";

// Rights and environment are not used at creation (pass null); the rights come with
// AuthorizationCopyRights.
OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                             AuthorizationRef* authorization);
// Only kAuthorizationRightExecute is known; any other right is denied. Without
// kAuthorizationFlagInteractionAllowed a right that needs the user's authentication is
// errAuthorizationInteractionNotAllowed; a dismissed dialog is errAuthorizationCanceled.
// `authorizedRights` must be null (the granted set is not handed out).
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRights** authorizedRights);
// Starts `pathToTool` (absolute) with the null-terminated `arguments` (null: none) as root, once
// the reference holds kAuthorizationRightExecute (else errAuthorizationDenied). Returns once the
// tool runs; errAuthorizationToolExecuteFailure when it cannot be started. The caller waits for the
// child: `outChild` (optional) receives its pid so that the caller waits for this child only.
// `communicationsPipe` must be null.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe, pid_t* outChild = nullptr);
// kAuthorizationFlagDestroyRights forgets the granted rights at once.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

namespace corvimus {

// Where the rights come from and how a tool is started with them.
class Authorizer {
 public:
  virtual ~Authorizer() = default;
  // The administrator right for this process.
  virtual OSStatus CopyAdminRight(bool interactionAllowed) = 0;
  // Starts the tool with root rights (already granted); the child's pid on success.
  virtual OSStatus StartTool(const std::string& tool, const std::vector<std::string>& arguments,
                             pid_t* child) = 0;
  // Forgets a kept grant (kAuthorizationFlagDestroyRights).
  virtual void DestroyRights() {}
};

// polkit: pkcheck for the right, pkexec to start the tool; as root, neither.
class PolkitAuthorizer : public Authorizer {
 public:
  // Whether the process counts as root: by its effective user, or as a test says.
  enum class Identity { kDetect, kRoot, kUser };
  // The programs are polkit's own, in its bin folder; tests hand in stand-ins.
  PolkitAuthorizer(std::string polkitBin = "/usr/bin", std::string actionId = kCorvimusAdminAction,
                   Identity identity = Identity::kDetect);
  OSStatus CopyAdminRight(bool interactionAllowed) override;
  OSStatus StartTool(const std::string& tool, const std::vector<std::string>& arguments,
                     pid_t* child) override;
  void DestroyRights() override;

 private:
  bool RunsAsRoot() const;
  bool ActionRegistered() const;
  std::string bin_;
  std::string action_;
  Identity identity_;
  bool granted_ = false;
};

// Answers every request for the right with `answer` and starts tools directly as the calling user.
class FakeAuthorizer : public Authorizer {
 public:
  explicit FakeAuthorizer(OSStatus answer = noErr) : answer_(answer) {}
  OSStatus CopyAdminRight(bool interactionAllowed) override;
  OSStatus StartTool(const std::string& tool, const std::vector<std::string>& arguments,
                     pid_t* child) override;
  void DestroyRights() override { ++destroys_; }

  int rightRequests() const { return rightRequests_; }
  int destroys() const { return destroys_; }
  int toolStarts() const { return toolStarts_; }
  bool lastInteractionAllowed() const { return lastInteractionAllowed_; }

 private:
  OSStatus answer_;
  int rightRequests_ = 0;
  int toolStarts_ = 0;
  int destroys_ = 0;
  bool lastInteractionAllowed_ = false;
};

// Replaces the authorizer of the process (not owned; null: polkit again).
void SetAuthorizerForTesting(Authorizer* authorizer);

// Starts `argv` (argv[0] absolute) as a child with the same rights;
// errAuthorizationToolExecuteFailure when it cannot be executed. Shared by the authorizers.
OSStatus StartChildProcess(const std::vector<std::string>& argv, pid_t* child);

}  // namespace corvimus
