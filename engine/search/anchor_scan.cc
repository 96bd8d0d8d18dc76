#include "engine/search/anchor_scan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

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

std::size_t PlainMatchOfAny(const unsigned char* first_bytes, const unsigned char* second_bytes,
                            const AnchorTable& first, const AnchorTable& second, unsigned which,
                            std::size_t from, std::size_t end) {
  for (std::size_t offset = from; offset < end; ++offset) {
    if ((first.Of(first_bytes[offset]) & second.Of(second_bytes[offset]) & which) != 0) {
      return offset;
    }
  }
  return end;
}

#if OMBRIX_X86
__attribute__((target("ssse3"))) __m128i Table16(const unsigned char* table) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
}

// For each of 16 bytes, the images whose anchor it is: the table looked up by the low and by
// the high half of each byte.
__attribute__((target("ssse3"))) __m128i Images16(__m128i bytes, __m128i low, __m128i high) {
  const __m128i halves = _mm_set1_epi8(0x0F);
  return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(bytes, halves)),
                       _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(bytes, 4), halves)));
}

__attribute__((target("ssse3"))) std::uint64_t AgreeingOfAny16(const unsigned char* first_bytes,
                                                               const unsigned char* second_bytes,
                                                               const __m128i tables[4],
                                                               __m128i which) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first_bytes));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second_bytes));
  const __m128i both = _mm_and_si128(_mm_and_si128(Images16(a, tables[0], tables[1]), which),
                                     Images16(b, tables[2], tables[3]));
  return static_cast<std::uint16_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(both, _mm_setzero_si128())));
}

__attribute__((target("ssse3"))) std::size_t Ssse3MatchOfAny(
    const unsigned char* first_bytes, const unsigned char* second_bytes, const AnchorTable& first,
    const AnchorTable& second, unsigned which, std::size_t from, std::size_t end) {
  const __m128i tables[4] = {Table16(first.low), Table16(first.high), Table16(second.low),
                             Table16(second.high)};
  const __m128i images = _mm_set1_epi8(static_cast<char>(which));
  std::size_t offset = from;
  for (; offset + 64 <= end; offset += 64) {
    std::uint64_t mask = 0;
    for (std::size_t part = 0; part < 64; part += 16) {
      mask |=
          AgreeingOfAny16(first_bytes + offset + part, second_bytes + offset + part, tables, images)
          << part;
    }
    if (mask != 0) return offset + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return PlainMatchOfAny(first_bytes, second_bytes, first, second, which, offset, end);
}

// A table in both halves of a register: the shuffle looks up each half on its own.
__attribute__((target("avx2"))) __m256i Table32(const unsigned char* table) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

__attribute__((target("avx2"))) __m256i Images32(__m256i bytes, __m256i low, __m256i high) {
  const __m256i halves = _mm256_set1_epi8(0x0F);
  return _mm256_and_si256(
      _mm256_shuffle_epi8(low, _mm256_and_si256(bytes, halves)),
      _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), halves)));
}

// Bit k of the answer is set where, for some image, `first_images` has the image's bit in byte k
// and second_bytes[k] is its second anchor.
__attribute__((target("avx2"))) std::uint32_t AgreeingOfAny32(__m256i first_images,
                                                              const unsigned char* second_bytes,
                                                              const __m256i tables[4]) {
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second_bytes));
  const __m256i both = _mm256_and_si256(first_images, Images32(b, tables[2], tables[3]));
  return ~static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(both, _mm256_setzero_si256())));
}

__attribute__((target("avx2"))) std::size_t Avx2MatchOfAny(
    const unsigned char* first_bytes, const unsigned char* second_bytes, const AnchorTable& first,
    const AnchorTable& second, unsigned which, std::size_t from, std::size_t end) {
  // Only the images asked for: their bits alone in the table of the first anchor's low halves.
  const __m256i tables[4] = {
      _mm256_and_si256(Table32(first.low), _mm256_set1_epi8(static_cast<char>(which))),
      Table32(first.high), Table32(second.low), Table32(second.high)};
  std::size_t offset = from;
  for (; offset + 64 <= end; offset += 64) {
    const __m256i low =
        Images32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first_bytes + offset)),
                 tables[0], tables[1]);
    const __m256i high =
        Images32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first_bytes + offset + 32)),
                 tables[0], tables[1]);
    const std::uint64_t mask =
        AgreeingOfAny32(low, second_bytes + offset, tables) |
        std::uint64_t{AgreeingOfAny32(high, second_bytes + offset + 32, tables)} << 32;
    if (mask != 0) return offset + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return PlainMatchOfAny(first_bytes, second_bytes, first, second, which, offset, end);
}
#endif

struct Chosen {
  Scan scan;
  AnchorMatchOfAny scan_of_any;
  const char* kind;
};

Chosen Choose() {
#if OMBRIX_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return {&Avx2Scan, &Avx2MatchOfAny, "avx2"};
  const AnchorMatchOfAny of_any =
      __builtin_cpu_supports("ssse3") ? &Ssse3MatchOfAny : &PlainMatchOfAny;
  if (__builtin_cpu_supports("sse2")) return {&Sse2Scan, of_any, "sse2"};
#endif
  return {&PlainScan, &PlainMatchOfAny, "plain"};
}

const Chosen& ChosenScan() {
  static const Chosen chosen = Choose();
  return chosen;
}

}  // namespace

int AnchorRarity(unsigned char byte) {
  if (byte == 0x00) return 0;
  if (byte == ' ' || byte == 0xFF) return 1;
  if (byte >= 'A' && byte <= 'Z') return 4;
  if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) return 3;
  return 2;
}

std::size_t RarestAnchorPair(std::span<const std::string_view> images) {
  const auto rarity = [&](std::size_t at) {
    int rarest = std::numeric_limits<int>::max();
    for (const std::string_view image : images) {
      rarest = std::min(rarest, AnchorRarity(static_cast<unsigned char>(image[at])));
    }
    return rarest;
  };
  std::size_t anchor = 0;
  int best = -1;
  for (std::size_t at = 0; at + kAnchorGap < images.front().size(); ++at) {
    if (rarity(at) + rarity(at + kAnchorGap) > best) {
      best = rarity(at) + rarity(at + kAnchorGap);
      anchor = at;
    }
  }
  return anchor;
}

std::size_t NextAnchorMatch(const unsigned char* first_bytes, const unsigned char* second_bytes,
                            unsigned char first, unsigned char second, std::size_t from,
                            std::size_t end) {
  return ChosenScan().scan(first_bytes, second_bytes, first, second, from, end);
}

std::size_t NextAnchorMatchOfAny(const unsigned char* first_bytes,
                                 const unsigned char* second_bytes, const AnchorTable& first,
                                 const AnchorTable& second, unsigned which, std::size_t from,
                                 std::size_t end) {
  return ChosenScan().scan_of_any(first_bytes, second_bytes, first, second, which, from, end);
}

std::vector<std::pair<const char*, AnchorMatchOfAny>> AnchorMatchesOfAnyHere() {
  std::vector<std::pair<const char*, AnchorMatchOfAny>> ways = {{"plain", &PlainMatchOfAny}};
#if OMBRIX_X86
  if (__builtin_cpu_supports("ssse3")) ways.emplace_back("ssse3", &Ssse3MatchOfAny);
  if (__builtin_cpu_supports("avx2")) ways.emplace_back("avx2", &Avx2MatchOfAny);
#endif
  return ways;
}

const char* AnchorScanKind() { return ChosenScan().kind; }

}  // namespace ombrix
