// A host of semilist.dll for the end-to-end tests: a program that hands
// the rest of its command line to SemilistRunW, and ends with its result,
// so that every case of the programs runs in-process as well. It keeps its
// console: only the programs let go of theirs.
//   SEMILIST_HOST_THREADS         N: the text runs on N threads at once, and
//                                 the host ends with the last non-zero
//                                 status
//   SEMILIST_HOST_NO_REDIRECTION  set: each thread first turns off WOW64
//                                 file redirection, as NSIS's
//                                 DisableX64FSRedirection does
//   SEMILIST_HOST_TERMINATE       set: calls the DLL's SemilistSeamTerminate
//                                 instead, which only a test build has
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "front_end/library_function.h"
#include "in_process/semilist.h"

int wmain() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  path = path.substr(0, path.find_last_of(L'\\') + 1) + SEMILIST_HOSTED_DLL;
  const HMODULE library = LoadLibraryW(path.c_str());
  const auto run = semilist::LibraryFunction<decltype(SemilistRunW)>(
      library, "SemilistRunW");
  if (run == nullptr) return 0xDEAD;
  if (GetEnvironmentVariableW(L"SEMILIST_HOST_TERMINATE", nullptr, 0) != 0) {
    const auto terminate =
        semilist::LibraryFunction<void()>(library, "SemilistSeamTerminate");
    if (terminate != nullptr) terminate();
    return 0xDEAD;
  }
  // Past the program's name, as Windows reads it: up to its closing quote,
  // or up to the first blank.
  const wchar_t* rest = GetCommandLineW();
  if (*rest == L'"') {
    do ++rest;
    while (*rest != L'\0' && *rest != L'"');
    if (*rest == L'"') ++rest;
  } else {
    while (*rest != L'\0' && *rest != L' ' && *rest != L'\t') ++rest;
  }
  wchar_t threads[8] = L"1";
  GetEnvironmentVariableW(L"SEMILIST_HOST_THREADS", threads, 8);
  const bool noRedirection =
      GetEnvironmentVariableW(L"SEMILIST_HOST_NO_REDIRECTION", nullptr, 0) != 0;
  std::vector<std::thread> running;
  std::vector<int> statuses(std::wcstoul(threads, nullptr, 10));
  for (int& status : statuses) {
    running.emplace_back([&] {
      void* redirection = nullptr;
      if (noRedirection) Wow64DisableWow64FsRedirection(&redirection);
      status = run(rest);
    });
  }
  int last = 0;
  for (std::size_t i = 0; i < running.size(); ++i) {
    running[i].join();
    if (statuses[i] != 0) last = statuses[i];
  }
  return last;
}
