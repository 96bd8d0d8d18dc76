// ombrix-make-target MIB PATH: writes an executable-like target of MIB mebibytes, with the
// three English images near its end, for the benchmark's scripts and the kill test.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "bench/executable_bytes.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::atoll(argv[1]) < 1) {
    std::cerr << "usage: ombrix-make-target MIB PATH\n";
    return 64;
  }
  const std::size_t size = static_cast<std::size_t>(std::atoll(argv[1])) << 20;
  const auto bytes = std::make_unique_for_overwrite<char[]>(size);
  ombrix::bench::FillExecutableLike({bytes.get(), size});
  ombrix::bench::PlaceEnglishImagesNearTheEnd({bytes.get(), size});
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(bytes.get(), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::cerr << "ombrix-make-target: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
