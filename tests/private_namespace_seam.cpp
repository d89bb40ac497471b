// Linked into semilist-namespace.exe, a test build of semilist from the
// product's sources, linked with --wrap so that it finds a stand-in for the
// private namespace functions, which Wine lacks, and names objects in them
// through it. The stand-in keeps to Microsoft's documentation of those
// functions and to how the kernel is known to behave:
//   - a namespace is found by its boundary (its name, SIDs and integrity
//     label), never by the alias that a process gives it;
//   - creating one that exists gives ERROR_ALREADY_EXISTS, whoever asks;
//     otherwise it takes every SID of the boundary, enabled in the caller's
//     token, and at least its integrity level, or ERROR_ACCESS_DENIED;
//   - opening one checks its DACL, and its mandatory label; once the last
//     handle to it anywhere has closed, it is gone, and an open gives
//     ERROR_PATH_NOT_FOUND;
//   - a process cannot register one alias twice while both are open: the
//     second gives ERROR_DUP_NAME, as a public analysis of kernel32 shows;
//   - "alias\name" names an object in a namespace this process holds.
// A namespace's mandatory label is kept as "Mandatory Integrity Control"
// describes: a caller below its level cannot open it, which is reading,
// where the policy says no-read-up or no-execute-up; one without a label
// counts as Medium, with no-write-up only.
// Each namespace is a named event of Wine's, which lives as long as its
// handles do, so every process that uses the stand-in sees one namespace
// per boundary; an object in it gets a public name made of the boundary.
//   SEMILIST_SEAM_TOKEN  "standard": the caller's token holds Administrators
//                        only for denying, at medium integrity, as a
//                        standard user's or an unelevated administrator's;
//                        "low": the same at low integrity, as a sandboxed
//                        process's; otherwise, high integrity
//   SEMILIST_SEAM_FAULT  "namespace-race": the first create finds the
//                        namespace, and the open after it finds it gone
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

struct Boundary {
  std::wstring name;
  std::vector<std::wstring> sids;
  std::wstring label = L"S-1-16-0";
};

struct Held {
  std::wstring alias;
  std::wstring publicName;
};
// The host's threads may call at once.
std::map<HANDLE, Held> g_held;
SRWLOCK g_heldLock = SRWLOCK_INIT;
bool g_raced = false;

bool EnvironmentIs(const wchar_t* name, const wchar_t* value) {
  wchar_t set[64];
  const DWORD length = GetEnvironmentVariableW(name, set, 64);
  return length > 0 && length < 64 && std::wcscmp(set, value) == 0;
}

bool Standard() {
  return EnvironmentIs(L"SEMILIST_SEAM_TOKEN", L"standard") ||
         EnvironmentIs(L"SEMILIST_SEAM_TOKEN", L"low");
}

// Integrity levels are S-1-16-N, N growing with the level.
unsigned long Level(const std::wstring& label) {
  return std::wcstoul(label.c_str() + 7, nullptr, 10);
}

unsigned long CallerLevel() {
  if (EnvironmentIs(L"SEMILIST_SEAM_TOKEN", L"low")) return 0x1000;
  return Standard() ? 0x2000 : 0x3000;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result = text;
  LocalFree(text);
  return result;
}

std::wstring UserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  unsigned char buffer[256];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// Whether the caller's token holds `sid` enabled.
bool Enabled(const std::wstring& sid) {
  return sid == UserSid() || (sid == L"S-1-5-32-544" && !Standard());
}

std::wstring PublicName(const Boundary& boundary) {
  std::wstring name = L"Global\\semilist-seam-" + boundary.name;
  for (const std::wstring& sid : boundary.sids) name += L"_" + sid;
  return name + L"_" + boundary.label;
}

// Whether an allowing entry of the DACL names a SID the caller holds.
bool Admitted(HANDLE object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, &dacl, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool admitted = dacl == nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(dacl, i, &ace) &&
        static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      admitted = admitted || Enabled(SidText(&allowed->SidStart));
    }
  }
  LocalFree(descriptor);
  return admitted;
}

struct Label {
  unsigned long level = 0x2000;
  DWORD policy = SYSTEM_MANDATORY_LABEL_NO_WRITE_UP;
};

Label LabelOf(HANDLE object) {
  Label label;
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, &sacl,
                      &descriptor) != ERROR_SUCCESS) {
    return label;
  }
  void* ace = nullptr;
  if (sacl != nullptr && sacl->AceCount > 0 && GetAce(sacl, 0, &ace) &&
      static_cast<ACE_HEADER*>(ace)->AceType ==
          SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
    auto* mandatory = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    label = {Level(SidText(&mandatory->SidStart)), mandatory->Mask};
  }
  LocalFree(descriptor);
  return label;
}

// Whether the caller's level lets it open a namespace, which is reading it.
bool LabelPermitsOpening(HANDLE object) {
  const Label label = LabelOf(object);
  return CallerLevel() >= label.level ||
         (label.policy & (SYSTEM_MANDATORY_LABEL_NO_READ_UP |
                          SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP)) == 0;
}

// Registers `alias` for `object` in this process, unless it is registered
// already; then closes the object.
HANDLE Hold(HANDLE object, const wchar_t* alias, const Boundary& boundary) {
  AcquireSRWLockExclusive(&g_heldLock);
  bool taken = false;
  for (const auto& [handle, held] : g_held)
    taken = taken || held.alias == alias;
  if (!taken) g_held[object] = {alias, PublicName(boundary)};
  ReleaseSRWLockExclusive(&g_heldLock);
  if (taken) {
    CloseHandle(object);
    SetLastError(ERROR_DUP_NAME);
    return nullptr;
  }
  return object;
}

HANDLE WINAPI FakeCreateBoundaryDescriptor(LPCWSTR name, ULONG) {
  auto* boundary = new Boundary;
  boundary->name = name;
  return boundary;
}

BOOL WINAPI FakeAddSid(HANDLE* boundary, PSID sid) {
  static_cast<Boundary*>(*boundary)->sids.push_back(SidText(sid));
  return TRUE;
}

BOOL WINAPI FakeAddLabel(HANDLE* boundary, PSID label) {
  static_cast<Boundary*>(*boundary)->label = SidText(label);
  return TRUE;
}

VOID WINAPI FakeDeleteBoundaryDescriptor(HANDLE boundary) {
  delete static_cast<Boundary*>(boundary);
}

HANDLE WINAPI FakeCreatePrivateNamespace(LPSECURITY_ATTRIBUTES attributes,
                                         LPVOID described, LPCWSTR alias) {
  const Boundary& boundary = *static_cast<Boundary*>(described);
  if (EnvironmentIs(L"SEMILIST_SEAM_FAULT", L"namespace-race") && !g_raced) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  if (const HANDLE existing =
          OpenEventW(SYNCHRONIZE, FALSE, PublicName(boundary).c_str())) {
    CloseHandle(existing);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  bool within = Level(boundary.label) <= CallerLevel();
  for (const std::wstring& sid : boundary.sids) within = within && Enabled(sid);
  if (!within) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const HANDLE object =
      CreateEventW(attributes, TRUE, FALSE, PublicName(boundary).c_str());
  if (object != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(object);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  return object != nullptr ? Hold(object, alias, boundary) : nullptr;
}

HANDLE WINAPI FakeOpenPrivateNamespace(LPVOID described, LPCWSTR alias) {
  const Boundary& boundary = *static_cast<Boundary*>(described);
  if (EnvironmentIs(L"SEMILIST_SEAM_FAULT", L"namespace-race") && !g_raced) {
    g_raced = true;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  const HANDLE object = OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE,
                                   PublicName(boundary).c_str());
  if (object == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (!Admitted(object) || !LabelPermitsOpening(object)) {
    CloseHandle(object);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return Hold(object, alias, boundary);
}

BOOLEAN WINAPI FakeClosePrivateNamespace(HANDLE held, ULONG) {
  AcquireSRWLockExclusive(&g_heldLock);
  g_held.erase(held);
  ReleaseSRWLockExclusive(&g_heldLock);
  return CloseHandle(held) ? TRUE : FALSE;
}

}  // namespace

extern "C" {
FARPROC WINAPI __real_GetProcAddress(HMODULE, LPCSTR);
HANDLE WINAPI __real_CreateMutexExW(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                    DWORD);

FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
  using Any = void (*)();
  static const std::map<std::string, Any> kFakes = {
      {"CreateBoundaryDescriptorW",
       reinterpret_cast<Any>(FakeCreateBoundaryDescriptor)},
      {"AddSIDToBoundaryDescriptor", reinterpret_cast<Any>(FakeAddSid)},
      {"AddIntegrityLabelToBoundaryDescriptor",
       reinterpret_cast<Any>(FakeAddLabel)},
      {"DeleteBoundaryDescriptor",
       reinterpret_cast<Any>(FakeDeleteBoundaryDescriptor)},
      {"CreatePrivateNamespaceW",
       reinterpret_cast<Any>(FakeCreatePrivateNamespace)},
      {"OpenPrivateNamespaceW",
       reinterpret_cast<Any>(FakeOpenPrivateNamespace)},
      {"ClosePrivateNamespace",
       reinterpret_cast<Any>(FakeClosePrivateNamespace)},
  };
  // Names only: an ordinal is a number below 0x10000.
  if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
    const auto fake = kFakes.find(name);
    if (fake != kFakes.end()) return reinterpret_cast<FARPROC>(fake->second);
  }
  return __real_GetProcAddress(module, name);
}

HANDLE WINAPI __wrap_CreateMutexExW(LPSECURITY_ATTRIBUTES attributes,
                                    LPCWSTR name, DWORD flags, DWORD access) {
  const wchar_t* slash = name != nullptr ? std::wcschr(name, L'\\') : nullptr;
  if (slash == nullptr) {
    return __real_CreateMutexExW(attributes, name, flags, access);
  }
  const std::wstring prefix(name, slash);
  if (prefix == L"Global" || prefix == L"Local" || prefix == L"Session") {
    return __real_CreateMutexExW(attributes, name, flags, access);
  }
  std::wstring publicName;
  AcquireSRWLockShared(&g_heldLock);
  for (const auto& [handle, held] : g_held) {
    if (held.alias == prefix) publicName = held.publicName + L"_" + (slash + 1);
  }
  ReleaseSRWLockShared(&g_heldLock);
  if (publicName.empty()) {
    // No namespace of this process has that alias.
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  return __real_CreateMutexExW(attributes, publicName.c_str(), flags, access);
}
}
