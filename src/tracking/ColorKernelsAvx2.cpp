// AVX2 versions of the row kernels. This file is built with -mavx2 -mfma; its functions run
// only after a CPU check (ColorLibrary.cpp). It has no static initialisers that could run
// AVX2 code on a CPU without it.
//
// Pixels go 32 at a time. A 256-bit register of bytes holds pixels 0..15 in its low lane and
// 16..31 in its high lane, so that the in-lane byte shuffles can split and rebuild the
// interleaved blue-green-red triples.

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "tracking/ColorKernels.h"

namespace pavrel::detail {

void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count);
void ConvertThresholdRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Hsv, std::uint8_t* Hue,
                                   std::uint8_t* Mask, std::uint8_t* Skin, int Count,
                                   const TSkinBounds& Bounds);

namespace {

#define PAVREL_INLINE inline __attribute__((always_inline))

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
alignas(32) constexpr std::array<std::int32_t, 8> kQuadOrder = {0, 4, 1, 5, 2, 6, 3, 7};

// A 16-byte mask in both lanes.
PAVREL_INLINE __m256i Mask(const TMask& m) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m.data())));
}

PAVREL_INLINE __m256i LoadLanes(const std::uint8_t* Low, const std::uint8_t* High) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(High)), 1);
}

PAVREL_INLINE void StoreLanes(std::uint8_t* Low, std::uint8_t* High, __m256i x) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Low), _mm256_castsi256_si128(x));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(High), _mm256_extracti128_si256(x, 1));
}

PAVREL_INLINE __m256i Plane(__m256i a0, __m256i a1, __m256i a2, int First) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a0, Mask(kGather[First])),
                                         _mm256_shuffle_epi8(a1, Mask(kGather[First + 1]))),
                         _mm256_shuffle_epi8(a2, Mask(kGather[First + 2])));
}

// 32 interleaved pixels (96 bytes) into three planes: first, second, third byte of each.
PAVREL_INLINE void Deinterleave(const std::uint8_t* p, __m256i& c0, __m256i& c1, __m256i& c2) {
  const __m256i a0 = LoadLanes(p, p + 48);
  const __m256i a1 = LoadLanes(p + 16, p + 64);
  const __m256i a2 = LoadLanes(p + 32, p + 80);
  c0 = Plane(a0, a1, a2, 0);
  c1 = Plane(a0, a1, a2, 3);
  c2 = Plane(a0, a1, a2, 6);
}

PAVREL_INLINE void InterleaveBlock(std::uint8_t* p, __m256i c0, __m256i c1, __m256i c2, int Block) {
  const __m256i out =
      _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(c0, Mask(kScatter[Block])),
                                      _mm256_shuffle_epi8(c1, Mask(kScatter[3 + Block]))),
                      _mm256_shuffle_epi8(c2, Mask(kScatter[6 + Block])));
  StoreLanes(p + 16 * Block, p + 48 + 16 * Block, out);
}

PAVREL_INLINE void Interleave(std::uint8_t* p, __m256i c0, __m256i c1, __m256i c2) {
  InterleaveBlock(p, c0, c1, c2, 0);
  InterleaveBlock(p, c0, c1, c2, 1);
  InterleaveBlock(p, c0, c1, c2, 2);
}

PAVREL_INLINE void StoreTripled(std::uint8_t* p, __m256i x) {
  StoreLanes(p, p + 48, _mm256_shuffle_epi8(x, Mask(kTriple[0])));
  StoreLanes(p + 16, p + 64, _mm256_shuffle_epi8(x, Mask(kTriple[1])));
  StoreLanes(p + 32, p + 80, _mm256_shuffle_epi8(x, Mask(kTriple[2])));
}

// Rounded quotient floor(Num / Den + 0.5) of small non-negative integers held as floats
// (Num / Den <= 255, 1 <= Den <= 255), through a refined reciprocal instead of a division.
// The reciprocal is good to about 2^-22, so the quotient is off by less than 1e-4. A
// quotient that is not an exact half lies at least 1/(2 Den) >= 1/510 from one; adding 2^-10
// before truncating therefore lifts exact halves over the integer and no other quotient.
// (The exhaustive test over all colours checks the claim.)
PAVREL_INLINE __m256i RoundedQuotient(__m256 Num, __m256 Den) {
  const __m256 r0 = _mm256_rcp_ps(Den);
  const __m256 e = _mm256_fnmadd_ps(Den, r0, _mm256_set1_ps(1.0f));
  const __m256 r1 = _mm256_fmadd_ps(r0, e, r0);
  return _mm256_cvttps_epi32(_mm256_fmadd_ps(Num, r1, _mm256_set1_ps(0.5f + 1.0f / 1024)));
}

// Eight bytes of a plane as eight floats: Group 0..3 takes pixels 0..7, 8..15, 16..23, 24..31.
template <int Group>
PAVREL_INLINE __m256 ToFloats(__m256i x) {
  const __m128i lane = Group < 2 ? _mm256_castsi256_si128(x) : _mm256_extracti128_si256(x, 1);
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(Group % 2 == 0 ? lane : _mm_srli_si128(lane, 8)));
}

// S and q of pixel group Group: MulDiv(d, 255, v) and MulDiv(|n|, 60, d) as 32-bit lanes.
template <int Group>
PAVREL_INLINE void Quotients(__m256i d, __m256i vDivisor, __m256i n, __m256i& s, __m256i& q) {
  const __m256 df = ToFloats<Group>(d);
  s = RoundedQuotient(_mm256_mul_ps(df, _mm256_set1_ps(255.0f)), ToFloats<Group>(vDivisor));
  q = RoundedQuotient(_mm256_mul_ps(ToFloats<Group>(n), _mm256_set1_ps(60.0f)),
                      _mm256_max_ps(df, _mm256_set1_ps(1.0f)));
}

// Two groups of eight 32-bit lanes (each below 2^15) as sixteen 16-bit lanes, in order.
PAVREL_INLINE __m256i PackWords(__m256i Low, __m256i High) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(Low, High), 0xD8);
}

// Sixteen 16-bit lanes (a plane's low or high lane) from a byte plane.
PAVREL_INLINE __m256i Widen(__m256i x, bool Signed, bool High) {
  const __m128i half = High ? _mm256_extracti128_si256(x, 1) : _mm256_castsi256_si128(x);
  return Signed ? _mm256_cvtepi8_epi16(half) : _mm256_cvtepu8_epi16(half);
}

// Hue degrees (0..359 in 16-bit lanes) to the hue byte: h x 17 / 24 rounded, halves to even.
// t / 24 for t <= 6103 is (t x 2731) >> 16.
PAVREL_INLINE __m256i HueBytes(__m256i h) {
  const __m256i t = _mm256_mullo_epi16(h, _mm256_set1_epi16(17));
  const __m256i k = _mm256_mulhi_epu16(t, _mm256_set1_epi16(2731));
  const __m256i rest = _mm256_sub_epi16(t, _mm256_mullo_epi16(k, _mm256_set1_epi16(24)));
  const __m256i twelve = _mm256_set1_epi16(12);
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i odd = _mm256_cmpeq_epi16(_mm256_and_si256(k, one), one);
  const __m256i up = _mm256_or_si256(_mm256_cmpgt_epi16(rest, twelve),
                                     _mm256_and_si256(_mm256_cmpeq_epi16(rest, twelve), odd));
  return _mm256_sub_epi16(k, up);
}

// Hue degrees of sixteen pixels (the low or high lane of the byte planes) in 16-bit lanes.
PAVREL_INLINE __m256i Degrees(__m256i q, __m256i Offset, __m256i Negative, bool High) {
  const __m256i sign = _mm256_or_si256(Widen(Negative, true, High), _mm256_set1_epi16(1));
  const __m256i h = _mm256_add_epi16(Widen(Offset, false, High), _mm256_sign_epi16(q, sign));
  return _mm256_add_epi16(
      h, _mm256_and_si256(_mm256_cmpgt_epi16(_mm256_setzero_si256(), h), _mm256_set1_epi16(360)));
}

// Thirty-two pixels: the same integer steps as RGBToHSV and the hue byte, lane by lane.
PAVREL_INLINE void Convert32(const std::uint8_t* Source, __m256i& v, __m256i& s, __m256i& hue) {
  __m256i b, g, r;
  Deinterleave(Source, b, g, r);
  v = _mm256_max_epu8(_mm256_max_epu8(r, g), b);
  const __m256i d = _mm256_sub_epi8(v, _mm256_min_epu8(_mm256_min_epu8(r, g), b));

  // Sector: red wins a tie for the maximum, then green. The numerator x - y is G - B, B - R
  // or R - G; its size and sign are kept apart in bytes.
  const __m256i isRed = _mm256_cmpeq_epi8(r, v);
  const __m256i isGreen = _mm256_andnot_si256(isRed, _mm256_cmpeq_epi8(g, v));
  const __m256i x = _mm256_blendv_epi8(_mm256_blendv_epi8(r, b, isGreen), g, isRed);
  const __m256i y = _mm256_blendv_epi8(_mm256_blendv_epi8(g, r, isGreen), b, isRed);
  const __m256i larger = _mm256_max_epu8(x, y);
  const __m256i size = _mm256_sub_epi8(larger, _mm256_min_epu8(x, y));
  const __m256i negative = _mm256_andnot_si256(_mm256_cmpeq_epi8(larger, x), _mm256_set1_epi8(-1));
  const __m256i offset = _mm256_blendv_epi8(
      _mm256_blendv_epi8(_mm256_set1_epi8(static_cast<char>(240)), _mm256_set1_epi8(120), isGreen),
      _mm256_setzero_si256(), isRed);

  // S = MulDiv(d, 255, v) and q = MulDiv(|n|, 60, d); the divisors are kept at 1 or more
  // (black has d = 0 and so S = 0; a grey pixel has n = 0 and so q = 0).
  const __m256i vDivisor = _mm256_max_epu8(v, _mm256_set1_epi8(1));
  __m256i s0, s1, s2, s3, q0, q1, q2, q3;
  Quotients<0>(d, vDivisor, size, s0, q0);
  Quotients<1>(d, vDivisor, size, s1, q1);
  Quotients<2>(d, vDivisor, size, s2, q2);
  Quotients<3>(d, vDivisor, size, s3, q3);
  // Bytes of S back in pixel order: the packs leave 4-pixel groups in the order 0 2 4 6 1 3 5 7.
  s = _mm256_permutevar8x32_epi32(
      _mm256_packus_epi16(_mm256_packs_epi32(s0, s1), _mm256_packs_epi32(s2, s3)),
      _mm256_load_si256(reinterpret_cast<const __m256i*>(kQuadOrder.data())));

  // H = offset +- q, plus 360 when negative; then the hue byte.
  const __m256i low = HueBytes(Degrees(PackWords(q0, q1), offset, negative, false));
  const __m256i high = HueBytes(Degrees(PackWords(q2, q3), offset, negative, true));
  hue = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
}

PAVREL_INLINE __m256i InRange(__m256i x, __m256i Low, __m256i High) {
  return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(x, Low), x),
                          _mm256_cmpeq_epi8(_mm256_min_epu8(x, High), x));
}

PAVREL_INLINE __m256i Broadcast(std::uint8_t Value) {
  return _mm256_set1_epi8(static_cast<char>(Value));
}

}  // namespace

void ConvertRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Dest, int Count) {
  int i = 0;
  for (; i + 32 <= Count; i += 32) {
    __m256i v, s, h;
    Convert32(Source + 3 * i, v, s, h);
    Interleave(Dest + 3 * i, v, s, h);
  }
  ConvertRowPortable(Source + 3 * i, Dest + 3 * i, Count - i);
}

void ConvertThresholdRowAvx2Kernel(const std::uint8_t* Source, std::uint8_t* Hsv, std::uint8_t* Hue,
                                   std::uint8_t* Mask, std::uint8_t* Skin, int Count,
                                   const TSkinBounds& Bounds) {
  const __m256i lowH = Broadcast(Bounds.LowHue), highH = Broadcast(Bounds.HighHue);
  const __m256i lowS = Broadcast(Bounds.LowSat), highS = Broadcast(Bounds.HighSat);
  const __m256i lowV = Broadcast(Bounds.LowVal), highV = Broadcast(Bounds.HighVal);
  int i = 0;
  for (; i + 32 <= Count; i += 32) {
    __m256i v, s, h;
    Convert32(Source + 3 * i, v, s, h);
    Interleave(Hsv + 3 * i, v, s, h);
    const __m256i skin =
        _mm256_and_si256(_mm256_and_si256(InRange(h, lowH, highH), InRange(s, lowS, highS)),
                         InRange(v, lowV, highV));
    StoreTripled(Hue + 3 * i, h);
    StoreTripled(Mask + 3 * i, skin);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Skin + i),
                        _mm256_and_si256(skin, _mm256_set1_epi8(1)));
  }
  ConvertThresholdRowPortable(Source + 3 * i, Hsv + 3 * i, Hue + 3 * i, Mask + 3 * i, Skin + i,
                              Count - i, Bounds);
}

}  // namespace pavrel::detail
