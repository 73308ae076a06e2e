// AVX2 versions of the row kernels. This file is built with -mavx2; its functions run only
// after a CPU check (ColorLibrary.cpp). It has no static initialisers that could run AVX2
// code on a CPU without it.

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "tracking/ColorKernels.h"

namespace pavrel::detail {

void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ThresholdRowAvx2Kernel(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask,
                            int Count, const TSkinBounds& Bounds);

namespace {

using TMask = std::array<std::uint8_t, 16>;

// Picks channel Channel of the pixels in 16-byte block Block of 48 interleaved bytes (16
// pixels); lanes of pixels outside the block are zeroed (index 0x80).
constexpr TMask GatherMask(int Channel, int Block) {
  TMask m{};
  for (int i = 0; i < 16; ++i) {
    const int at = 3 * i + Channel - 16 * Block;
    m[i] = (at >= 0 && at < 16) ? static_cast<std::uint8_t>(at) : 0x80;
  }
  return m;
}

// The reverse: the bytes of output block Block that come from channel Channel.
constexpr TMask ScatterMask(int Channel, int Block) {
  TMask m{};
  for (int t = 0; t < 16; ++t) {
    const int at = 16 * Block + t;
    m[t] = (at % 3 == Channel) ? static_cast<std::uint8_t>(at / 3) : 0x80;
  }
  return m;
}

// The same byte thrice per pixel: block Block of (x0 x0 x0 x1 x1 x1 ...).
constexpr TMask TripleMask(int Block) {
  TMask m{};
  for (int t = 0; t < 16; ++t) {
    m[t] = static_cast<std::uint8_t>((16 * Block + t) / 3);
  }
  return m;
}

alignas(16) constexpr std::array<TMask, 9> kGather = {
    GatherMask(0, 0), GatherMask(0, 1), GatherMask(0, 2), GatherMask(1, 0), GatherMask(1, 1),
    GatherMask(1, 2), GatherMask(2, 0), GatherMask(2, 1), GatherMask(2, 2)};
alignas(16) constexpr std::array<TMask, 9> kScatter = {
    ScatterMask(0, 0), ScatterMask(0, 1), ScatterMask(0, 2), ScatterMask(1, 0), ScatterMask(1, 1),
    ScatterMask(1, 2), ScatterMask(2, 0), ScatterMask(2, 1), ScatterMask(2, 2)};
alignas(16) constexpr std::array<TMask, 3> kTriple = {TripleMask(0), TripleMask(1), TripleMask(2)};

inline __m128i Mask(const TMask& m) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(m.data()));
}

// 16 interleaved pixels into three planes (first, second, third byte of each pixel).
inline void Deinterleave(const std::uint8_t* p, __m128i& c0, __m128i& c1, __m128i& c2) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  auto plane = [&](int ch) {
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, Mask(kGather[3 * ch])),
                                     _mm_shuffle_epi8(a1, Mask(kGather[3 * ch + 1]))),
                        _mm_shuffle_epi8(a2, Mask(kGather[3 * ch + 2])));
  };
  c0 = plane(0);
  c1 = plane(1);
  c2 = plane(2);
}

inline void Interleave(std::uint8_t* p, __m128i c0, __m128i c1, __m128i c2) {
  for (int block = 0; block < 3; ++block) {
    const __m128i out = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(c0, Mask(kScatter[block])),
                                                  _mm_shuffle_epi8(c1, Mask(kScatter[3 + block]))),
                                     _mm_shuffle_epi8(c2, Mask(kScatter[6 + block])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * block), out);
  }
}

inline void StoreTripled(std::uint8_t* p, __m128i x) {
  for (int block = 0; block < 3; ++block) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * block),
                     _mm_shuffle_epi8(x, Mask(kTriple[block])));
  }
}

// Rounded quotient floor(Num / Den + 0.5) of small non-negative integers held as floats. The
// float quotient is exact enough: a quotient that is not an exact half lies at least 1/(2 Den)
// from one, far more than the float error, and exact halves are exact in float.
inline __m256i RoundedQuotient(__m256 Num, __m256 Den) {
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_div_ps(Num, Den), _mm256_set1_ps(0.5f)));
}

// Eight bytes (low or high half of x) as eight floats.
// (Template arguments, since the intrinsics want immediates even in unoptimised builds.)
template <bool High>
inline __m256 BytesToFloat(__m128i x) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(High ? _mm_srli_si128(x, 8) : x));
}

// Eight 16-bit lanes (low or high half of x) as eight floats.
template <bool High>
inline __m256 WordsToFloat(__m256i x) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(x, High ? 1 : 0)));
}

// Two vectors of eight 32-bit lanes (each below 2^15) into sixteen 16-bit lanes, in order.
inline __m256i PackWords(__m256i Low, __m256i High) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(Low, High), 0xD8);
}

// Sixteen 16-bit lanes (each 0..255) into sixteen bytes.
inline __m128i PackBytes(__m256i x) {
  return _mm_packus_epi16(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
}

// Sixteen pixels: the same integer steps as RGBToHSV and the hue byte, lane by lane.
inline void Convert16(const std::uint8_t* Source, std::uint8_t* Dest) {
  __m128i b, g, r;
  Deinterleave(Source, b, g, r);
  const __m128i v = _mm_max_epu8(_mm_max_epu8(r, g), b);
  const __m128i d = _mm_sub_epi8(v, _mm_min_epu8(_mm_min_epu8(r, g), b));

  // Saturation: MulDiv(d, 255, v), 0 for black (the divisor is kept at 1 or more).
  const __m128i vDiv = _mm_max_epu8(v, _mm_set1_epi8(1));
  const __m256 k255 = _mm256_set1_ps(255.0f);
  const __m256i sLow =
      RoundedQuotient(_mm256_mul_ps(BytesToFloat<false>(d), k255), BytesToFloat<false>(vDiv));
  const __m256i sHigh =
      RoundedQuotient(_mm256_mul_ps(BytesToFloat<true>(d), k255), BytesToFloat<true>(vDiv));
  const __m128i s = PackBytes(PackWords(sLow, sHigh));

  // Sector: red wins a tie for the maximum, then green. Masks are all ones or all zeros.
  const __m128i isRed8 = _mm_cmpeq_epi8(r, v);
  const __m128i isGreen8 = _mm_andnot_si128(isRed8, _mm_cmpeq_epi8(g, v));
  const __m256i isRed = _mm256_cvtepi8_epi16(isRed8);
  const __m256i isGreen = _mm256_cvtepi8_epi16(isGreen8);
  const __m256i b16 = _mm256_cvtepu8_epi16(b);
  const __m256i g16 = _mm256_cvtepu8_epi16(g);
  const __m256i r16 = _mm256_cvtepu8_epi16(r);
  const __m256i n = _mm256_blendv_epi8(
      _mm256_blendv_epi8(_mm256_sub_epi16(r16, g16), _mm256_sub_epi16(b16, r16), isGreen),
      _mm256_sub_epi16(g16, b16), isRed);
  const __m256i offset = _mm256_blendv_epi8(
      _mm256_blendv_epi8(_mm256_set1_epi16(240), _mm256_set1_epi16(120), isGreen),
      _mm256_setzero_si256(), isRed);

  // MulDiv(n, 60, d) = sign(n) x MulDiv(|n|, 60, d); a grey pixel has n = 0 and gives 0.
  const __m256i an = _mm256_abs_epi16(n);
  const __m128i dDiv = _mm_max_epu8(d, _mm_set1_epi8(1));
  const __m256 k60 = _mm256_set1_ps(60.0f);
  const __m256i qLow =
      RoundedQuotient(_mm256_mul_ps(WordsToFloat<false>(an), k60), BytesToFloat<false>(dDiv));
  const __m256i qHigh =
      RoundedQuotient(_mm256_mul_ps(WordsToFloat<true>(an), k60), BytesToFloat<true>(dDiv));
  __m256i h = _mm256_add_epi16(offset, _mm256_sign_epi16(PackWords(qLow, qHigh), n));
  h = _mm256_add_epi16(
      h, _mm256_and_si256(_mm256_cmpgt_epi16(_mm256_setzero_si256(), h), _mm256_set1_epi16(360)));

  // Hue byte: h x 17 / 24 (= h / 360 x 255) rounded, halves to even. t / 24 for t <= 6103
  // is (t x 2731) >> 16.
  const __m256i t = _mm256_mullo_epi16(h, _mm256_set1_epi16(17));
  const __m256i k = _mm256_mulhi_epu16(t, _mm256_set1_epi16(2731));
  const __m256i rest = _mm256_sub_epi16(t, _mm256_mullo_epi16(k, _mm256_set1_epi16(24)));
  const __m256i twelve = _mm256_set1_epi16(12);
  const __m256i odd = _mm256_and_si256(k, _mm256_set1_epi16(1));
  const __m256i up =
      _mm256_or_si256(_mm256_cmpgt_epi16(rest, twelve),
                      _mm256_and_si256(_mm256_cmpeq_epi16(rest, twelve),
                                       _mm256_cmpeq_epi16(odd, _mm256_set1_epi16(1))));
  const __m128i hueByte = PackBytes(_mm256_sub_epi16(k, up));

  Interleave(Dest, v, s, hueByte);
}

inline __m128i InRange(__m128i x, __m128i Low, __m128i High) {
  return _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, Low), x),
                       _mm_cmpeq_epi8(_mm_min_epu8(x, High), x));
}

}  // namespace

void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count) {
  int i = 0;
  for (; i + 16 <= Count; i += 16) {
    Convert16(Source + 3 * i, Dest + 3 * i);
  }
  ConvertRowPortable(Source + 3 * i, Dest + 3 * i, Count - i);
}

void ThresholdRowAvx2Kernel(const std::uint8_t* Hsv, std::uint8_t* Hue, std::uint8_t* Mask,
                            int Count, const TSkinBounds& Bounds) {
  const __m128i lowH = _mm_set1_epi8(static_cast<char>(Bounds.LowHue));
  const __m128i highH = _mm_set1_epi8(static_cast<char>(Bounds.HighHue));
  const __m128i lowS = _mm_set1_epi8(static_cast<char>(Bounds.LowSat));
  const __m128i highS = _mm_set1_epi8(static_cast<char>(Bounds.HighSat));
  const __m128i lowV = _mm_set1_epi8(static_cast<char>(Bounds.LowVal));
  const __m128i highV = _mm_set1_epi8(static_cast<char>(Bounds.HighVal));
  int i = 0;
  for (; i + 16 <= Count; i += 16) {
    __m128i v, s, h;
    Deinterleave(Hsv + 3 * i, v, s, h);
    const __m128i skin = _mm_and_si128(
        _mm_and_si128(InRange(h, lowH, highH), InRange(s, lowS, highS)), InRange(v, lowV, highV));
    StoreTripled(Hue + 3 * i, h);
    StoreTripled(Mask + 3 * i, skin);
  }
  ThresholdRowPortable(Hsv + 3 * i, Hue + 3 * i, Mask + 3 * i, Count - i, Bounds);
}

}  // namespace pavrel::detail
