// The patch run against the floors of the same work (reading the file once; that and the
// kernel's copy or clone of it) and against the run that held the whole file, and the search
// against its peers, side by side in one run. Sizes in MiB are the benchmarks' argument;
// OMBRIX_BENCH_DIR names the folder for the targets (the temporary folder by default), which
// decides the file system measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/executable_bytes.h"
#include "engine/run/patch_run.h"
#include "engine/search/anchor_scan.h"
#include "engine/search/image_search.h"
#include "engine/search/patch_table.h"

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

// ---- The whole run on a file, against the floors of the same work --------------------------

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

constexpr std::size_t kBuffer = std::size_t{1} << 20;

// The scan floor: the file read once through a reused 1 MiB buffer, and nothing else.
void ScanFloor(const Target& target) {
  const int in = ::open(target.path.c_str(), O_RDONLY);
  Check(in >= 0, "open");
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
  off_t offset = 0;
  for (ssize_t count; (count = ::pread(in, buffer.get(), kBuffer, offset)) > 0;) offset += count;
  benchmark::DoNotOptimize(buffer.get());
  ::close(in);
}

// Renames `copy`, flushed, over the target, and flushes the folder.
void Replace(const std::filesystem::path& copy, int out, const Target& target) {
  Check(::fsync(out) == 0 && ::close(out) == 0, "fsync");
  Check(::rename(copy.c_str(), target.path.c_str()) == 0, "rename");
  const int folder = ::open(target.path.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  Check(folder >= 0 && ::fsync(folder) == 0 && ::close(folder) == 0, "fsync folder");
}

// Reads `out`, flushed, back from the device (its cached pages dropped) and compares it with
// the target, as the run checks a copy.
void ReadBack(int out, const Target& target) {
  Check(::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED) == 0, "fadvise");
  const int in = ::open(target.path.c_str(), O_RDONLY);
  Check(in >= 0, "open");
  const auto stored = std::make_unique_for_overwrite<char[]>(kBuffer);
  const auto meant = std::make_unique_for_overwrite<char[]>(kBuffer);
  off_t offset = 0;
  for (ssize_t count; (count = ::pread(out, stored.get(), kBuffer, offset)) > 0;) {
    Check(::pread(in, meant.get(), static_cast<std::size_t>(count), offset) == count, "read");
    Check(std::equal(stored.get(), stored.get() + count, meant.get()), "compare");
    offset += count;
  }
  ::close(in);
}

// The copy floor and the clone floor: the scan floor, then a new file made by the kernel's copy
// (copy_file_range) or by a clone (FICLONE), flushed and renamed over the file. With
// `read_back`, the copy is also read back from the device and compared before the rename.
void KernelFloor(const Target& target, bool clone, bool read_back = false) {
  ScanFloor(target);
  const std::filesystem::path copy = target.path.string() + ".floor";
  const int in = ::open(target.path.c_str(), O_RDONLY);
  const int out = ::open(copy.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  Check(in >= 0 && out >= 0, "open");
  if (clone) {
    Check(::ioctl(out, FICLONE, in) == 0, "clone");
  } else {
    struct stat st;
    Check(::fstat(in, &st) == 0, "fstat");
    for (off_t left = st.st_size; left > 0;) {
      const ssize_t count =
          ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
      Check(count > 0, "copy_file_range");
      left -= count;
    }
  }
  ::close(in);
  if (read_back) {
    Check(::fsync(out) == 0, "fsync");
    ReadBack(out, target);
  }
  Replace(copy, out, target);
}

// Whether the file system of the targets clones.
bool Clones() {
  const std::filesystem::path a = BenchFolder() / "ombrix-bench-clone-a";
  const std::filesystem::path b = BenchFolder() / "ombrix-bench-clone-b";
  const int in = ::open(a.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  const int out = ::open(b.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  const bool clones = in >= 0 && out >= 0 && ::write(in, "x", 1) == 1 && ::fsync(in) == 0 &&
                      ::ioctl(out, FICLONE, in) == 0;
  ::close(in);
  ::close(out);
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  return clones;
}

// The run as it was before it read the file as a stream, as a peer: the whole file read into a
// buffer, searched and changed there, written to a new file, flushed, read back from the cache
// and compared, renamed over the file.
void WholeBufferRun(const Target& target, std::size_t size) {
  const std::filesystem::path copy = target.path.string() + ".whole";
  const int in = ::open(target.path.c_str(), O_RDONLY);
  Check(in >= 0, "open");
  const auto bytes = std::make_unique_for_overwrite<char[]>(size);
  for (std::size_t done = 0; done < size;) {
    const ssize_t count = ::read(in, bytes.get() + done, std::min(size - done, kBuffer));
    Check(count > 0, "read");
    done += static_cast<std::size_t>(count);
  }
  ::close(in);
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::optional<std::size_t> at =
        ImageSearcher(MakeUnicode(PatchTable[i].english)).FindIn({bytes.get(), size});
    Check(at.has_value(), "find");
    const std::string image = MakeUnicode(PatchTable[i].norwegian);
    std::copy(image.begin(), image.end(), bytes.get() + *at);
  }
  const int out = ::open(copy.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  Check(out >= 0, "create");
  for (std::size_t done = 0; done < size;) {
    const ssize_t count =
        ::write(out, bytes.get() + done, std::min(size - done, std::size_t{1} << 30));
    Check(count > 0, "write");
    done += static_cast<std::size_t>(count);
  }
  Check(::fsync(out) == 0, "fsync");
  const auto chunk = std::make_unique_for_overwrite<char[]>(kBuffer);
  for (std::size_t done = 0; done < size; done += kBuffer) {
    const std::size_t length = std::min(kBuffer, size - done);
    Check(
        ::pread(out, chunk.get(), length, static_cast<off_t>(done)) == static_cast<ssize_t>(length),
        "read back");
    Check(std::equal(chunk.get(), chunk.get() + length, bytes.get() + done), "compare");
  }
  Replace(copy, out, target);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Whole runs on a file against the floors, side by side: each iteration times one RunPatch, the
// scan floor, the copy floor, the clone floor (where the file system clones) and the
// whole-buffer run, and a run followed by the restore that undoes it against two floors one
// after the other (the second reading the file the first renamed into place, as the restore
// reads the run's), in an order that changes from round to round, so that the disk's swings
// fall on all alike. Reports the medians of the times and of the per-round ratios.
void RunPatchAgainstTheFloors(benchmark::State& state) {
  const std::size_t size = Bytes(state);
  const Target& target = TargetOf(size);
  static const bool clones = Clones();
  enum {
    kRun,
    kScan,
    kCopy,
    kCopyReadBack,
    kClone,
    kWhole,
    kRunRestore,
    kTwoCopiesReadBack,
    kTwoClones,
    kKinds
  };
  const char* names[kKinds] = {
      "RunPatch",        "scan_floor",   "copy_floor",  "copy_floor_read_back",
      "clone_floor",     "whole_buffer", "run_restore", "two_copy_floors_read_back",
      "two_clone_floors"};
  std::vector<double> times[kKinds];
  // RunPatch over each single floor, the run and restore over each pair of floors, the
  // whole-buffer run over RunPatch.
  std::vector<double> over[kKinds];
  std::vector<int> order = {
      kRun, kScan, kCopy, kCopyReadBack, kWhole, kRunRestore, kTwoCopiesReadBack};
  if (clones) order.insert(order.end(), {kClone, kTwoClones});
  std::mt19937 random(1);
  for (auto _ : state) {
    std::shuffle(order.begin(), order.end(), random);
    double took[kKinds] = {};
    for (const int which : order) {
      if (which == kRun || which == kWhole || which == kRunRestore) Unpatch(target);
      const auto start = std::chrono::steady_clock::now();
      switch (which) {
        case kRun:
          if (RunPatch(target.path) != PatchOutcome::Completed)
            state.SkipWithError("not completed");
          break;
        case kRunRestore:
          if (RunPatch(target.path) != PatchOutcome::Completed ||
              RunPatch(target.path, PatchDirection::kRestore) != PatchOutcome::Completed)
            state.SkipWithError("not completed");
          break;
        case kScan:
          ScanFloor(target);
          break;
        case kCopy:
        case kCopyReadBack:
        case kClone:
          KernelFloor(target, which == kClone, which == kCopyReadBack);
          break;
        case kTwoCopiesReadBack:
        case kTwoClones:
          for (int twice = 0; twice < 2; ++twice) {
            KernelFloor(target, which == kTwoClones, which == kTwoCopiesReadBack);
          }
          break;
        default:
          WholeBufferRun(target, size);
      }
      took[which] =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      times[which].push_back(took[which]);
    }
    state.SetIterationTime(took[kRun] / 1000);
    for (const int which : order) {
      if (which == kWhole) {
        over[which].push_back(took[kWhole] / took[kRun]);
      } else if (which == kTwoCopiesReadBack || which == kTwoClones) {
        over[which].push_back(took[kRunRestore] / took[which]);
      } else if (which != kRun && which != kRunRestore) {
        over[which].push_back(took[kRun] / took[which]);
      }
    }
  }
  for (int which = 0; which < kKinds; ++which) {
    if (times[which].empty()) continue;
    state.counters[std::string(names[which]) + "_ms"] = Median(times[which]);
    if (which == kWhole) {
      state.counters["whole_buffer_per_RunPatch"] = Median(over[which]);
    } else if (which == kTwoCopiesReadBack || which == kTwoClones) {
      state.counters[std::string("run_restore_per_") + names[which]] = Median(over[which]);
    } else if (which != kRun && which != kRunRestore) {
      state.counters[std::string("RunPatch_per_") + names[which]] = Median(over[which]);
    }
  }
  state.counters["MiB_per_s"] = static_cast<double>(size >> 20) / (Median(times[kRun]) / 1000);
}

// Pairs of runs to time: enough for a steady median, few enough for a GiB to take minutes.
int PairsFor(int mib) { return mib >= 1024 ? 9 : mib >= 256 ? 15 : 21; }

// Sizes of the targets, in MiB.
constexpr int kSizes[] = {1, 4, 64, 256, 1024};

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
    benchmark::RegisterBenchmark("File/RunPatch_vs_floors", RunPatchAgainstTheFloors)
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
