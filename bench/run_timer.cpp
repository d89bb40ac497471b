// Times whole runs of two command lines, interleaved, from inside Wine, so
// that the Linux side of starting Wine is not counted.
//   run_timer RUNS "COMMAND A" "COMMAND B"
// A command "call \"DLL\" TEXT" is not started: TEXT goes to the DLL's
// SemilistRunW in this process, loaded once, as an installer's plugin call.
// Prints each command's median and fastest time, and the median of the
// per-pair ratios B / A.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "front_end/library_function.h"
#include "in_process/semilist.h"

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

double RunOnce(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %ls\n", commandLine.c_str());
    std::exit(1);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (status != 0) {
    std::fprintf(stderr, "%ls ended with %lu\n", commandLine.c_str(), status);
    std::exit(1);
  }
  return Seconds(start, end);
}

double CallOnce(const std::wstring& call) {
  const std::size_t quote = call.find(L'"', 1);
  const std::wstring dll = call.substr(1, quote - 1);
  const std::wstring text = call.substr(quote + 1);
  static const auto run = semilist::LibraryFunction<decltype(SemilistRunW)>(
      LoadLibraryW(dll.c_str()), "SemilistRunW");
  if (run == nullptr) {
    std::fprintf(stderr, "cannot load SemilistRunW from %ls\n", dll.c_str());
    std::exit(1);
  }
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  const int status = run(text.c_str());
  QueryPerformanceCounter(&end);
  if (status != 0) {
    std::fprintf(stderr, "%ls ended with %d\n", text.c_str(), status);
    std::exit(1);
  }
  return Seconds(start, end);
}

double TimeOnce(const std::wstring& command) {
  constexpr std::wstring_view call = L"call ";
  if (command.compare(0, call.size(), call) == 0) {
    return CallOnce(command.substr(call.size()));
  }
  return RunOnce(command);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle]
                           : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 4) return 2;
  const int runs = _wtoi(argv[1]);
  std::vector<double> a, b, ratios;
  TimeOnce(argv[2]);  // warm the file cache and the server
  TimeOnce(argv[3]);
  for (int i = 0; i < runs; ++i) {
    a.push_back(TimeOnce(argv[2]));
    b.push_back(TimeOnce(argv[3]));
    ratios.push_back(b.back() / a.back());
  }
  std::printf("runs: %d of each, interleaved\n", runs);
  std::printf("median A: %.2f ms\n", Median(a) * 1e3);
  std::printf("median B: %.2f ms\n", Median(b) * 1e3);
  // Process start under Wine is bimodal, so the fastest runs show the cost
  // each program adds most plainly.
  std::printf("fastest A: %.2f ms\n",
              *std::min_element(a.begin(), a.end()) * 1e3);
  std::printf("fastest B: %.2f ms\n",
              *std::min_element(b.begin(), b.end()) * 1e3);
  std::printf("median ratio B/A: %.3f\n", Median(ratios));
  return 0;
}
