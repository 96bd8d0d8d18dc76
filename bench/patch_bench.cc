// The patch run against the floor of the same work, and the search against its peers, side by
// side in one run. Sizes in MiB are the benchmarks' argument; OMBRIX_BENCH_DIR names the folder
// for the targets (the temporary folder by default), which decides the disk measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/executable_bytes.h"
#include "engine/anchor_scan.h"
#include "engine/image_search.h"
#include "engine/patch_run.h"
#include "engine/patch_table.h"

namespace ombrix::bench {
namespace {

std::size_t Bytes(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0)) << 20;
}

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + ::strerror(errno));
}

// ---- The search, alone, over a buffer in memory -------------------------------------------

// One buffer per size, with the English images near its end.
std::span<const char> Haystack(std::size_t size) {
  static std::map<std::size_t, std::unique_ptr<char[]>> buffers;
  auto& buffer = buffers[size];
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(size);
    FillExecutableLike({buffer.get(), size});
    PlaceEnglishImagesNearTheEnd({buffer.get(), size});
  }
  return {buffer.get(), size};
}

using Finder = std::function<std::size_t(std::span<const char>)>;
using FinderMaker = Finder (*)(const std::string& needle);

Finder Ours(const std::string& needle) {
  auto searcher = std::make_shared<ImageSearcher>(needle);
  return [searcher](std::span<const char> haystack) { return *searcher->FindIn(haystack); };
}

template <typename Searcher>
Finder Std(const std::string& needle) {
  auto kept = std::make_shared<std::string>(needle);
  auto searcher = std::make_shared<Searcher>(kept->begin(), kept->end());
  return [kept, searcher](std::span<const char> haystack) {
    return static_cast<std::size_t>((*searcher)(haystack.begin(), haystack.end()).first -
                                    haystack.begin());
  };
}

Finder Memmem(const std::string& needle) {
  return [needle](std::span<const char> haystack) {
    const void* found = ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
    return static_cast<std::size_t>(static_cast<const char*>(found) - haystack.data());
  };
}

// Finds the English image of pair `state.range(1)`.
void Search(benchmark::State& state, FinderMaker make) {
  const std::span<const char> haystack = Haystack(Bytes(state));
  const Finder find =
      make(MakeUnicode(PatchTable[static_cast<std::size_t>(state.range(1))].english));
  for (auto _ : state) benchmark::DoNotOptimize(find(haystack));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * haystack.size()));
}

// ---- The whole run on a file, against the floor of the same work ---------------------------

std::filesystem::path BenchFolder() {
  const char* folder = std::getenv("OMBRIX_BENCH_DIR");
  return folder != nullptr ? std::filesystem::path(folder) : std::filesystem::temp_directory_path();
}

// A target of `size` bytes on disk, made once, with where its English images lie.
struct Target {
  std::filesystem::path path;
  std::array<std::uint64_t, PatchTable.size()> english;
};

const Target& TargetOf(std::size_t size) {
  static std::map<std::size_t, Target> targets;
  Target& target = targets[size];
  if (target.path.empty()) {
    target.path = BenchFolder() / ("ombrix-bench-" + std::to_string(size >> 20) + ".exe");
    const auto bytes = std::make_unique_for_overwrite<char[]>(size);
    FillExecutableLike({bytes.get(), size});
    target.english = PlaceEnglishImagesNearTheEnd({bytes.get(), size});
    const int fd = ::open(target.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Check(fd >= 0, "create the target");
    Check(::write(fd, bytes.get(), size) == static_cast<ssize_t>(size), "write the target");
    Check(::fsync(fd) == 0 && ::close(fd) == 0, "flush the target");
  }
  return target;
}

// Puts the English images back in place after a completed run.
void Unpatch(const Target& target) {
  const int fd = ::open(target.path.c_str(), O_WRONLY);
  Check(fd >= 0, "open the target");
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::string image = MakeUnicode(PatchTable[i].english);
    Check(::pwrite(fd, image.data(), image.size(), static_cast<off_t>(target.english[i])) ==
              static_cast<ssize_t>(image.size()),
          "restore the target");
  }
  Check(::fsync(fd) == 0 && ::close(fd) == 0, "flush the target");
}

// The same work with no search: read the whole file into a buffer allocated as the run
// allocates it, write it to a new file beside it, flush, rename over it, flush the folder.
// With `verify`, also read the new file back and compare it, as the run does.
void Floor(const Target& target, std::size_t size, bool verify) {
  const std::filesystem::path copy = target.path.string() + ".floor";
  const int in = ::open(target.path.c_str(), O_RDONLY);
  Check(in >= 0, "open");
  struct stat st;
  Check(::fstat(in, &st) == 0, "fstat");
  const auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(st.st_size));
  char* bytes = buffer.get();
  for (std::size_t done = 0; done < size;) {
    const ssize_t count = ::read(in, bytes + done, std::min(size - done, std::size_t{1} << 30));
    Check(count > 0, "read");
    done += static_cast<std::size_t>(count);
  }
  ::close(in);
  const int out = ::open(copy.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  Check(out >= 0, "create");
  for (std::size_t done = 0; done < size;) {
    const ssize_t count = ::write(out, bytes + done, std::min(size - done, std::size_t{1} << 30));
    Check(count > 0, "write");
    done += static_cast<std::size_t>(count);
  }
  Check(::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0, "fsync");
  if (verify) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const auto chunk = std::make_unique_for_overwrite<char[]>(kChunk);
    for (std::size_t done = 0; done < size; done += kChunk) {
      const std::size_t length = std::min(kChunk, size - done);
      Check(::pread(out, chunk.get(), length, static_cast<off_t>(done)) ==
                static_cast<ssize_t>(length),
            "read back");
      Check(std::equal(chunk.get(), chunk.get() + length, bytes + done), "compare");
    }
  }
  Check(::close(out) == 0 && ::rename(copy.c_str(), target.path.c_str()) == 0, "rename");
  const int folder = ::open(target.path.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  Check(folder >= 0 && ::fsync(folder) == 0 && ::close(folder) == 0, "fsync folder");
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Whole runs on a file against the floor, pair by pair: each iteration times one RunPatch, one
// floor and one floor with the read-back, in an order that changes from pair to pair, so that
// the disk's swings fall on all three alike. Reports the medians of the times and of the ratios.
void RunPatchAgainstTheFloor(benchmark::State& state) {
  const std::size_t size = Bytes(state);
  const Target& target = TargetOf(size);
  std::vector<double> run_ms, floor_ms, verified_ms, ratio, verified_ratio, run_over_verified;
  std::mt19937 random(1);
  for (auto _ : state) {
    double times[3];
    int order[3] = {0, 1, 2};
    std::shuffle(std::begin(order), std::end(order), random);
    for (const int which : order) {
      if (which == 0) Unpatch(target);
      const auto start = std::chrono::steady_clock::now();
      if (which == 0) {
        if (RunPatch(target.path) != PatchOutcome::Completed) state.SkipWithError("not completed");
      } else {
        Floor(target, size, which == 2);
      }
      times[which] =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
    }
    state.SetIterationTime(times[0] / 1000);
    run_ms.push_back(times[0]);
    floor_ms.push_back(times[1]);
    verified_ms.push_back(times[2]);
    ratio.push_back(times[0] / times[1]);
    verified_ratio.push_back(times[2] / times[1]);
    run_over_verified.push_back(times[0] / times[2]);
  }
  state.counters["RunPatch_ms"] = Median(run_ms);
  state.counters["floor_ms"] = Median(floor_ms);
  state.counters["floor_verify_ms"] = Median(verified_ms);
  state.counters["RunPatch_per_floor"] = Median(ratio);
  state.counters["verify_per_floor"] = Median(verified_ratio);
  state.counters["RunPatch_per_floor_verify"] = Median(run_over_verified);
  state.counters["MiB_per_s"] = static_cast<double>(size >> 20) / (Median(run_ms) / 1000);
}

// Pairs of runs to time: enough for a steady median, few enough for a GiB to take minutes.
int PairsFor(int mib) { return mib >= 1024 ? 9 : mib >= 256 ? 15 : 21; }

// Sizes of the targets, in MiB.
constexpr int kSizes[] = {1, 64, 256, 1024};

void RegisterAll() {
  for (const int size : kSizes) {
    for (int pair = 0; pair < 3; ++pair) {
      const std::pair<const char*, FinderMaker> finders[] = {
          {"Search/ours", &Ours},
          {"Search/std::boyer_moore", &Std<std::boyer_moore_searcher<std::string::const_iterator>>},
          {"Search/std::boyer_moore_horspool",
           &Std<std::boyer_moore_horspool_searcher<std::string::const_iterator>>},
          {"Search/memmem", &Memmem}};
      for (const auto& [name, make] : finders) {
        benchmark::RegisterBenchmark(name, Search, make)
            ->Args({size, pair})
            ->ArgNames({"MiB", "pair"})
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  for (const int size : kSizes) {
    benchmark::RegisterBenchmark("File/RunPatch_vs_floor", RunPatchAgainstTheFloor)
        ->Arg(size)
        ->ArgName("MiB")
        ->Iterations(PairsFor(size))
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace ombrix::bench

int main(int argc, char** argv) {
  benchmark::AddCustomContext("anchor_scan", ombrix::AnchorScanKind());
  ombrix::bench::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const int size : ombrix::bench::kSizes) {
    std::error_code ignored;
    std::filesystem::remove(
        ombrix::bench::BenchFolder() / ("ombrix-bench-" + std::to_string(size) + ".exe"), ignored);
  }
  return 0;
}
