// Times whole runs of two command lines, interleaved, from inside Wine, so
// that the Linux side of starting Wine is not counted.
//   run_timer RUNS "COMMAND A" "COMMAND B"
// Prints each command's median and fastest time, and the median of the
// per-pair ratios B / A.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double RunOnce(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceFrequency(&frequency);
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
  return static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
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
  RunOnce(argv[2]);  // warm the file cache and the server
  RunOnce(argv[3]);
  for (int i = 0; i < runs; ++i) {
    a.push_back(RunOnce(argv[2]));
    b.push_back(RunOnce(argv[3]));
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
