#include "edit_lock.h"

#include <sddl.h>

#include <memory>
#include <vector>

#include "front_end/library_function.h"

namespace semilist {
namespace {

// LocalSystem and the Administrators group, and no one else. Every run on
// the machine's environment is one of the two, so a service and an elevated
// administrator share the lock whichever of them created it; the protected
// DACL inherits nothing. An account's own lock also admits that account, so
// its unelevated runs share it with its elevated ones.
const wchar_t kLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Every object of the lock carries a mandatory label that refuses reading,
// writing and executing to anyone below it: the machine's High, so that no
// unelevated process of an administrator can hold it, and an account's
// Medium, so that the account's Low processes (sandboxed, Protected Mode)
// cannot hold it and stop the account's installs, while its unelevated and
// elevated runs still share it. Without a label, an object gets its
// creator's level, and a High creator would shut out the Medium runs.
const wchar_t kMachineLabel[] = L"S:(ML;;NWNRNX;;;HI)";
const wchar_t kAccountLabel[] = L"S:(ML;;NWNRNX;;;ME)";

// All a run does with the mutex is wait for it and release it.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// The namespace admits the same accounts as its mutex, with the rights of a
// directory of objects but not DELETE, WRITE_DAC or WRITE_OWNER: whoever
// could delete it would split the lock in two. The OWNER RIGHTS entry takes
// away the owner's implied right to rewrite the DACL. 0x2000F is
// DIRECTORY_QUERY, TRAVERSE, CREATE_OBJECT, CREATE_SUBDIRECTORY and
// READ_CONTROL.
const wchar_t kNamespaceSecurity[] =
    L"D:P(A;;0x2000f;;;SY)(A;;0x2000f;;;BA)(A;;0x2000f;;;OW)";

// A namespace is found by its boundary, never by its alias: the name is
// semilist's own, so that no other program's namespace with the same SIDs
// is shared by accident. Creating it takes every SID of the boundary,
// enabled, and at least its integrity level, so that neither a standard
// user nor a low-integrity process of the account can create it first.
const wchar_t kBoundaryName[] = L"semilist-environment-edit";
const wchar_t kAdministrators[] = L"S-1-5-32-544";
const wchar_t kHighIntegrity[] = L"S-1-16-12288";
const wchar_t kMediumIntegrity[] = L"S-1-16-8192";
// The aliases are this process's names for the two namespaces; they differ
// so that a host that edits both scopes at once never confuses them.
const wchar_t kMachineAlias[] = L"semilist-machine";
const wchar_t kAccountAlias[] = L"semilist-account";

// A namespace leaves the lookup when the last handle to it anywhere closes,
// and an open that comes just after says ERROR_PATH_NOT_FOUND; creating it
// again then succeeds, unless another run was quicker again.
constexpr int kNamespaceAttempts = 100;
constexpr DWORD kNamespaceRetryMs = 15;

// Where the platform has no private namespaces (Wine exports a stub of one
// function and none of the others), the lock keeps to public names: the
// global one reaches every session, and the local one still covers one
// session where the global namespace is not available.
const wchar_t* const kPublicLockNames[] = {
    L"Global\\semilist-environment-edit",
    L"Local\\semilist-environment-edit",
};

// Two threads of one process must never have the same namespace open at
// once: the alias is registered per process, and a second live
// registration of it fails rather than waits. So each scope is taken
// inside the process first, by an unnamed mutex of its own; an account's
// is the process token's, the only account a run edits for. Each is made by
// the first run that needs it and kept for the process's life; not as a
// function's static, whose guard would pull a threads library into every
// program.
HANDLE InProcessLock(bool machine) {
  static HANDLE locks[2];
  HANDLE& lock = locks[machine ? 0 : 1];
  if (HANDLE made =
          InterlockedCompareExchangePointer(&lock, nullptr, nullptr)) {
    return made;
  }
  const HANDLE made = CreateMutexW(nullptr, FALSE, nullptr);
  if (made == nullptr) return nullptr;
  // Two first runs at once: the one that lost closes its own.
  if (HANDLE first = InterlockedCompareExchangePointer(&lock, made, nullptr)) {
    CloseHandle(made);
    return first;
  }
  return made;
}

// Whether the calling thread came to own `mutex` within `timeoutMs`; one
// left by a thread that ended while owning it is ours now, since each
// registry write is atomic and so no half edit is left behind.
bool Own(HANDLE mutex, DWORD timeoutMs) {
  switch (WaitForSingleObject(mutex, timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return true;
    default:
      return false;
  }
}

using LocalMemory = std::unique_ptr<void, HLOCAL(WINAPI*)(HLOCAL)>;
using OwnedHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;

// Found at run time: a static import of a function that the platform lacks
// would stop the program from loading.
struct NamespaceApi {
  decltype(&CreateBoundaryDescriptorW) createBoundary = nullptr;
  decltype(&AddSIDToBoundaryDescriptor) addSid = nullptr;
  decltype(&AddIntegrityLabelToBoundaryDescriptor) addLabel = nullptr;
  decltype(&DeleteBoundaryDescriptor) deleteBoundary = nullptr;
  decltype(&CreatePrivateNamespaceW) create = nullptr;
  decltype(&OpenPrivateNamespaceW) open = nullptr;
  decltype(&ClosePrivateNamespace) close = nullptr;
};

bool FindNamespaceApi(NamespaceApi& api) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return false;
  FindLibraryFunction(kernel, "CreateBoundaryDescriptorW", api.createBoundary);
  FindLibraryFunction(kernel, "AddSIDToBoundaryDescriptor", api.addSid);
  FindLibraryFunction(kernel, "AddIntegrityLabelToBoundaryDescriptor",
                      api.addLabel);
  FindLibraryFunction(kernel, "DeleteBoundaryDescriptor", api.deleteBoundary);
  FindLibraryFunction(kernel, "CreatePrivateNamespaceW", api.create);
  FindLibraryFunction(kernel, "OpenPrivateNamespaceW", api.open);
  FindLibraryFunction(kernel, "ClosePrivateNamespace", api.close);
  return api.createBoundary && api.addSid && api.addLabel &&
         api.deleteBoundary && api.create && api.open && api.close;
}

LocalMemory SidFromText(const std::wstring& text) {
  PSID sid = nullptr;
  ConvertStringSidToSidW(text.c_str(), &sid);
  return LocalMemory(sid, LocalFree);
}

// `base`, which an account's own lock extends to admit that account with
// `rights`, and the scope's label. Null only where memory is exhausted;
// then the object gets the caller's default DACL, and for a namespace the
// boundary still keeps others out.
LocalMemory SecurityFor(const wchar_t* base, const wchar_t* rights,
                        const std::wstring& accountSid) {
  std::wstring text = base;
  if (!accountSid.empty()) {
    for (const wchar_t* part :
         {L"(A;;", rights, L";;;", accountSid.c_str(), L")"}) {
      text += part;
    }
  }
  text += accountSid.empty() ? kMachineLabel : kAccountLabel;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      text.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
  return LocalMemory(descriptor, LocalFree);
}

}  // namespace

EditLock::~EditLock() { Release(); }

std::wstring CurrentAccountSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const OwnedHandle ownedToken(token, CloseHandle);
  // The first call only asks for the size; TOKEN_USER and the SID it points
  // to come back in one block.
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<unsigned char> user(size);
  wchar_t* text = nullptr;
  if (!GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(
          reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text)) {
    return {};
  }
  const LocalMemory ownedText(text, LocalFree);
  return text;
}

bool EditLock::Acquire(const std::wstring& accountSid, DWORD timeoutMs,
                       bool readOnly) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const HANDLE inProcess = InProcessLock(accountSid.empty());
  if (inProcess == nullptr || !Own(inProcess, timeoutMs)) return false;
  inProcess_ = inProcess;
  const LocalMemory descriptor = SecurityFor(kLockSecurity, L"GA", accountSid);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!CreateInNamespace(accountSid, attributes, readOnly)) return false;
  if (mutex_ == nullptr) return true;
  const ULONGLONG now = GetTickCount64();
  held_ = Own(mutex_, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
  return held_;
}

// The lock's mutex in a private namespace whose boundary holds the
// Administrators group, or the account, so that no one outside it can
// create or squat on anything in it.
bool EditLock::CreateInNamespace(const std::wstring& accountSid,
                                 SECURITY_ATTRIBUTES& attributes,
                                 bool readOnly) {
  NamespaceApi api;
  // Never a public name on a platform with namespaces: runs that took
  // different locks would not keep each other out.
  if (!FindNamespaceApi(api)) {
    return CreateUnderPublicName(accountSid, attributes, readOnly);
  }
  const bool machine = accountSid.empty();
  const LocalMemory sid = SidFromText(machine ? kAdministrators : accountSid);
  const LocalMemory label =
      SidFromText(machine ? kHighIntegrity : kMediumIntegrity);
  HANDLE boundary = api.createBoundary(kBoundaryName, 0);
  if (boundary == nullptr) return false;
  // The two calls may move the descriptor, and update the handle.
  const bool described = sid && label && api.addSid(&boundary, sid.get()) &&
                         api.addLabel(&boundary, label.get());
  const std::unique_ptr<void, decltype(api.deleteBoundary)> ownedBoundary(
      boundary, api.deleteBoundary);
  if (!described) return false;

  const LocalMemory descriptor =
      SecurityFor(kNamespaceSecurity, L"0x2000f", accountSid);
  SECURITY_ATTRIBUTES namespaceAttributes{sizeof namespaceAttributes,
                                          descriptor.get(), FALSE};
  const wchar_t* const alias = machine ? kMachineAlias : kAccountAlias;
  DWORD error = ERROR_PATH_NOT_FOUND;
  for (int attempt = 0; attempt < kNamespaceAttempts; ++attempt) {
    if (attempt > 1) Sleep(kNamespaceRetryMs);
    namespace_ = api.create(&namespaceAttributes, boundary, alias);
    if (namespace_ != nullptr) break;
    error = GetLastError();
    // Creating checks the boundary, which a caller outside it fails;
    // opening checks only the namespace's DACL.
    if (error != ERROR_ALREADY_EXISTS) break;
    namespace_ = api.open(boundary, alias);
    if (namespace_ != nullptr) break;
    error = GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) break;
  }
  if (namespace_ == nullptr) {
    // A standard user cannot enter the machine's namespace; such a reader
    // reads unlocked. Any other failure stops the run.
    return error == ERROR_ACCESS_DENIED && readOnly;
  }
  closeNamespace_ = api.close;
  // Only now: before this process held the namespace, the name would have
  // landed in the public namespace.
  mutex_ = CreateMutexExW(
      &attributes, (alias + std::wstring(L"\\edit")).c_str(), 0, kLockAccess);
  return mutex_ != nullptr;
}

bool EditLock::CreateUnderPublicName(const std::wstring& accountSid,
                                     SECURITY_ATTRIBUTES& attributes,
                                     bool readOnly) {
  const std::wstring suffix = accountSid.empty() ? L"" : L"-" + accountSid;
  for (const wchar_t* base : kPublicLockNames) {
    mutex_ =
        CreateMutexExW(&attributes, (base + suffix).c_str(), 0, kLockAccess);
    if (mutex_ != nullptr) return true;
    // The name is public. A mutex that refuses us, or another kind of object
    // under that name, means someone else holds it; going on, or moving to
    // a name that other sessions do not share, would let them switch the
    // lock off unseen.
    // A standard user cannot open the machine's lock while an elevated run
    // has it open; such a reader reads unlocked.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && readOnly) return true;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE) {
      return false;
    }
  }
  // Any other failure means the namespace, or the resources for a mutex, are
  // missing where this run is. An installer there must still be able to
  // edit, and a lock that cannot be created cannot be held by anyone else.
  return true;
}

void EditLock::Release() {
  if (held_) ReleaseMutex(mutex_);
  held_ = false;
  if (mutex_ != nullptr) CloseHandle(mutex_);
  mutex_ = nullptr;
  // Only after the mutex: the namespace must outlive every object in it.
  // Not destroyed: other runs may hold it still.
  if (namespace_ != nullptr) closeNamespace_(namespace_, 0);
  namespace_ = nullptr;
  // Last: until the namespace is closed, its alias is still registered.
  if (inProcess_ != nullptr) ReleaseMutex(inProcess_);
  inProcess_ = nullptr;
}

}  // namespace semilist
