#include "engine/search/anchor_scan.h"

#include <bit>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OMBRIX_X86 1
#endif

namespace ombrix {
namespace {

using Scan = std::size_t (*)(const unsigned char*, const unsigned char*, unsigned char,
                             unsigned char, std::size_t, std::size_t);

std::size_t PlainScan(const unsigned char* first_bytes, const unsigned char* second_bytes,
                      unsigned char first, unsigned char second, std::size_t from,
                      std::size_t end) {
  for (std::size_t offset = from; offset < end; ++offset) {
    if (first_bytes[offset] == first && second_bytes[offset] == second) return offset;
  }
  return end;
}

#if OMBRIX_X86
// 64 offsets a step: four 16-byte comparisons of each anchor, one mask.
__attribute__((target("sse2"))) std::uint64_t Agreeing16(const unsigned char* first_bytes,
                                                         const unsigned char* second_bytes,
                                                         __m128i first, __m128i second) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first_bytes));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second_bytes));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second))));
}

__attribute__((target("sse2"))) std::size_t Sse2Scan(const unsigned char* first_bytes,
                                                     const unsigned char* second_bytes,
                                                     unsigned char first, unsigned char second,
                                                     std::size_t from, std::size_t end) {
  const __m128i a = _mm_set1_epi8(static_cast<char>(first));
  const __m128i b = _mm_set1_epi8(static_cast<char>(second));
  std::size_t offset = from;
  for (; offset + 64 <= end; offset += 64) {
    const std::uint64_t mask =
        Agreeing16(first_bytes + offset, second_bytes + offset, a, b) |
        Agreeing16(first_bytes + offset + 16, second_bytes + offset + 16, a, b) << 16 |
        Agreeing16(first_bytes + offset + 32, second_bytes + offset + 32, a, b) << 32 |
        Agreeing16(first_bytes + offset + 48, second_bytes + offset + 48, a, b) << 48;
    if (mask != 0) return offset + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return PlainScan(first_bytes, second_bytes, first, second, offset, end);
}

__attribute__((target("avx2"))) std::uint64_t Agreeing32(const unsigned char* first_bytes,
                                                         const unsigned char* second_bytes,
                                                         __m256i first, __m256i second) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first_bytes));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second_bytes));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, second))));
}

__attribute__((target("avx2"))) std::size_t Avx2Scan(const unsigned char* first_bytes,
                                                     const unsigned char* second_bytes,
                                                     unsigned char first, unsigned char second,
                                                     std::size_t from, std::size_t end) {
  const __m256i a = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i b = _mm256_set1_epi8(static_cast<char>(second));
  std::size_t offset = from;
  for (; offset + 64 <= end; offset += 64) {
    const std::uint64_t mask =
        Agreeing32(first_bytes + offset, second_bytes + offset, a, b) |
        Agreeing32(first_bytes + offset + 32, second_bytes + offset + 32, a, b) << 32;
    if (mask != 0) return offset + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return PlainScan(first_bytes, second_bytes, first, second, offset, end);
}
#endif

struct Chosen {
  Scan scan;
  const char* kind;
};

Chosen Choose() {
#if OMBRIX_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return {&Avx2Scan, "avx2"};
  if (__builtin_cpu_supports("sse2")) return {&Sse2Scan, "sse2"};
#endif
  return {&PlainScan, "plain"};
}

const Chosen& ChosenScan() {
  static const Chosen chosen = Choose();
  return chosen;
}

}  // namespace

std::size_t NextAnchorMatch(const unsigned char* first_bytes, const unsigned char* second_bytes,
                            unsigned char first, unsigned char second, std::size_t from,
                            std::size_t end) {
  return ChosenScan().scan(first_bytes, second_bytes, first, second, from, end);
}

const char* AnchorScanKind() { return ChosenScan().kind; }

}  // namespace ombrix
