// Times the list edits on path-like lists of growing size against a floor:
// one pass that finds every separator plus one copy of the text. Prints a
// table, then the worst ratio to the floor at 100 000 pieces or more.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "path_list/path_list.h"

namespace {

std::atomic<long long> g_allocations{0};

}  // namespace

// Counts every allocation the edits make.
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

const int kSizes[] = {10, 1000, 100000, 1000000};

std::wstring Piece(int i) {
  return L"C:\\Program Files\\Vendor\\Tool" + std::to_wstring(i) + L"\\bin";
}

std::wstring MakeList(int pieces) {
  std::wstring text;
  for (int i = 0; i < pieces; ++i) {
    if (i > 0) text += L';';
    text += Piece(i);
  }
  return text;
}

using Edit = std::function<std::size_t(const std::wstring& text,
                                       const std::wstring& item)>;

enum class Item { New, Middle, Last };

struct Measure {
  const char* name;
  Edit edit;
  Item item;
};

std::size_t Append(const std::wstring& text, const std::wstring& item) {
  return semilist::AppendToList(text, item).size();
}
std::size_t Prepend(const std::wstring& text, const std::wstring& item) {
  return semilist::PrependToList(text, item).size();
}
std::size_t Remove(const std::wstring& text, const std::wstring& item) {
  return semilist::RemoveFromList(text, item).size();
}

const Measure kMeasures[] = {
    {"floor",
     [](const std::wstring& text, const std::wstring&) {
       std::size_t separators = 0;
       for (auto at = text.find(L';'); at != std::wstring::npos;
            at = text.find(L';', at + 1)) {
         ++separators;
       }
       std::wstring copy(text);
       benchmark::DoNotOptimize(copy.data());
       return separators + copy.size();
     },
     Item::New},
    {"append new", Append, Item::New},
    {"append present", Append, Item::Middle},
    {"prepend new", Prepend, Item::New},
    {"prepend last", Prepend, Item::Last},
    {"remove middle", Remove, Item::Middle},
};

struct Result {
  double seconds = 0;  // per edit
  double bytes = 0;
  double allocations = 0;  // per edit
};

// Keeps the runs for the table instead of printing them.
class Collector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      Result& result = results[run.benchmark_name()];
      result.seconds = run.real_accumulated_time / run.iterations;
      result.bytes = run.counters.at("bytes");
      result.allocations = run.counters.at("allocations");
    }
  }
  std::map<std::string, Result> results;
};

std::string Key(const char* measure, int pieces) {
  return std::string(measure) + "/" + std::to_string(pieces);
}

}  // namespace

int main(int argc, char** argv) {
  // Keep freed blocks for reuse instead of returning them to the kernel, so
  // that a large edit is not timed mostly as page faults on fresh memory.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  std::map<int, std::wstring> lists;
  for (int pieces : kSizes) lists[pieces] = MakeList(pieces);
  for (int pieces : kSizes) {
    for (const Measure& measure : kMeasures) {
      const std::wstring* text = &lists[pieces];
      const Edit* edit = &measure.edit;
      // Built here, so that the timed allocations are the edit's own.
      const std::wstring item = measure.item == Item::Middle ? Piece(pieces / 2)
                                : measure.item == Item::Last
                                    ? Piece(pieces - 1)
                                    : L"C:\\Program Files\\New Vendor\\bin";
      benchmark::RegisterBenchmark(
          Key(measure.name, pieces).c_str(), [=](benchmark::State& state) {
            long long allocations = 0;
            for (auto _ : state) {
              const long long before = g_allocations;
              benchmark::DoNotOptimize((*edit)(*text, item));
              allocations += g_allocations - before;
            }
            state.counters["bytes"] =
                static_cast<double>(text->size() * sizeof(wchar_t));
            state.counters["allocations"] =
                static_cast<double>(allocations) / state.iterations();
          });
    }
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("%9s  %-15s %12s %12s %7s %9s\n", "pieces", "edit", "time",
              "MB/s", "allocs", "vs floor");
  double worst = 0;
  for (int pieces : kSizes) {
    const Result floor = collector.results[Key("floor", pieces)];
    for (const Measure& measure : kMeasures) {
      const Result r = collector.results[Key(measure.name, pieces)];
      const double ratio = r.seconds / floor.seconds;
      if (pieces >= 100000 && measure.name != kMeasures[0].name) {
        worst = std::max(worst, ratio);
      }
      std::printf("%9d  %-15s %10.3f us %12.0f %7.1f %9.2f\n", pieces,
                  measure.name, r.seconds * 1e6, r.bytes / r.seconds / 1e6,
                  r.allocations, ratio);
    }
  }
  const auto perByte = [&](const char* measure, int pieces) {
    const Result r = collector.results[Key(measure, pieces)];
    return r.seconds / r.bytes;
  };
  // Out of cache, every pass over memory costs more per byte; the floor
  // shows how much of the growth is that.
  std::printf("\ntime per byte at 1 000 000 pieces over that at 1 000:\n");
  for (const Measure& measure : kMeasures) {
    const double growth =
        perByte(measure.name, 1000000) / perByte(measure.name, 1000);
    std::printf("  %-15s %5.2f  (%.2f of the floor's growth)\n", measure.name,
                growth,
                growth / (perByte("floor", 1000000) / perByte("floor", 1000)));
  }
  std::printf("worst ratio to floor: %.2f\n", worst);
  return 0;
}
