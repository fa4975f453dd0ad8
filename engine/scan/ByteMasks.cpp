#include "engine/scan/ByteMasks.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define DXFKONV_X86 1
#endif

namespace dxfkonv::scan {

namespace {

// The steps for 1, 16, 32 or 64 bytes at a time, written once as a macro
// over the vector operations: `eq` compares every byte with one value,
// `below` and `atLeast` with a bound, `both` and `either` combine the
// results and `bits` turns them into a bitmask. (Not lambdas: a lambda
// does not take on the instruction set of its function.)
#define DXFKONV_MASKS(Vec, load, eq, below, atLeast, both, either, bits, width)                          \
    for (std::size_t i = 0; i < count; ++i, p += 64) {                                                \
    ByteMasks m;                                                                                      \
    for (unsigned at = 0; at < 64; at += (width)) {                                                   \
        const Vec v = load(p + at);                                                                   \
        const Vec last = load(p + at - 2);                                                            \
        const Vec prior = load(p + at - 3);                                                           \
        const auto single = either(eq(prior, ' '), eq(prior, '\n'));                                  \
        auto candidate = eq(last, ' ');                                                               \
        _Pragma("GCC unroll 16") for (const CandidateCode& code : kCandidatePlan.codes)               \
        {                                                                                             \
            if (!Needed(code.need, needs))                                                            \
                continue;                                                                             \
            auto hit = both(eq(last, code.last), code.prior == '\0' ? single : eq(prior, code.prior)); \
            if (code.named) {                                                                         \
                const Vec next = load(p + at + 1);                                                    \
                const Vec next2 = load(p + at + 2);                                                   \
                auto named = eq(next, ' ');                                                           \
                _Pragma("GCC unroll 16") for (const NamePrefix& name : kCandidatePlan.prefixes)       \
                {                                                                                     \
                    if (name[0] != ' ')                                                               \
                        named = either(named, both(eq(next, name[0]), eq(next2, name[1])));           \
                }                                                                                     \
                hit = both(hit, named);                                                               \
            }                                                                                         \
            candidate = either(candidate, hit);                                                       \
        }                                                                                             \
        m.lf |= std::uint64_t{bits(eq(v, '\n'))} << at;                                               \
        m.cr |= std::uint64_t{bits(eq(v, '\r'))} << at;                                               \
        m.control |= std::uint64_t{bits(below(v, 0x20))} << at;                                       \
        m.letter |= std::uint64_t{bits(atLeast(v, 0x41))} << at;                                      \
        m.candidates |= std::uint64_t{bits(candidate)} << at;                                            \
    }                                                                                                 \
    out[i] = m;                                                                                       \
    }

// A byte at a time: the reference for the others.
#define DXFKONV_LOAD1(q) static_cast<unsigned char>(*(q))
#define DXFKONV_EQ1(x, c) ((x) == static_cast<unsigned char>(c))
#define DXFKONV_BELOW1(x, c) ((x) < (c))
#define DXFKONV_AT_LEAST1(x, c) ((x) >= (c))
#define DXFKONV_AND1(a, b) ((a) && (b))
#define DXFKONV_OR1(a, b) ((a) || (b))
#define DXFKONV_BITS1(x) static_cast<unsigned>(x)

void maskPlain(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out)
{
    DXFKONV_MASKS(unsigned char, DXFKONV_LOAD1, DXFKONV_EQ1, DXFKONV_BELOW1, DXFKONV_AT_LEAST1, DXFKONV_AND1,
                  DXFKONV_OR1, DXFKONV_BITS1, 1);
}

#if DXFKONV_X86

#define DXFKONV_LOAD128(q) _mm_loadu_si128(reinterpret_cast<const __m128i*>(q))
#define DXFKONV_EQ128(x, c) _mm_cmpeq_epi8((x), _mm_set1_epi8(static_cast<char>(c)))
#define DXFKONV_BELOW128(x, c) _mm_cmpeq_epi8(_mm_min_epu8((x), _mm_set1_epi8((c) - 1)), (x))
#define DXFKONV_AT_LEAST128(x, c) _mm_cmpeq_epi8(_mm_max_epu8((x), _mm_set1_epi8(c)), (x))
#define DXFKONV_BITS128(x) static_cast<unsigned>(_mm_movemask_epi8(x))

[[gnu::target("sse2")]] void maskSse2(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out)
{
    DXFKONV_MASKS(__m128i, DXFKONV_LOAD128, DXFKONV_EQ128, DXFKONV_BELOW128, DXFKONV_AT_LEAST128, _mm_and_si128,
                  _mm_or_si128, DXFKONV_BITS128, 16);
}

#define DXFKONV_LOAD256(q) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q))
#define DXFKONV_EQ256(x, c) _mm256_cmpeq_epi8((x), _mm256_set1_epi8(static_cast<char>(c)))
#define DXFKONV_BELOW256(x, c) _mm256_cmpeq_epi8(_mm256_min_epu8((x), _mm256_set1_epi8((c) - 1)), (x))
#define DXFKONV_AT_LEAST256(x, c) _mm256_cmpeq_epi8(_mm256_max_epu8((x), _mm256_set1_epi8(c)), (x))
#define DXFKONV_BITS256(x) static_cast<unsigned>(_mm256_movemask_epi8(x))

[[gnu::target("avx2")]] void maskAvx2(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out)
{
    DXFKONV_MASKS(__m256i, DXFKONV_LOAD256, DXFKONV_EQ256, DXFKONV_BELOW256, DXFKONV_AT_LEAST256,
                  _mm256_and_si256, _mm256_or_si256, DXFKONV_BITS256, 32);
}

// Compares straight into 64-bit masks, which combine as integers.
#define DXFKONV_LOAD512(q) _mm512_loadu_si512(q)
#define DXFKONV_EQ512(x, c) std::uint64_t{_mm512_cmpeq_epi8_mask((x), _mm512_set1_epi8(static_cast<char>(c)))}
#define DXFKONV_BELOW512(x, c) std::uint64_t{_mm512_cmplt_epu8_mask((x), _mm512_set1_epi8(c))}
#define DXFKONV_AT_LEAST512(x, c) std::uint64_t{_mm512_cmpge_epu8_mask((x), _mm512_set1_epi8(c))}
#define DXFKONV_AND512(a, b) ((a) & (b))
#define DXFKONV_OR512(a, b) ((a) | (b))
#define DXFKONV_BITS512(x) (x)

[[gnu::target("avx512f,avx512bw")]] void maskAvx512(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out)
{
    DXFKONV_MASKS(__m512i, DXFKONV_LOAD512, DXFKONV_EQ512, DXFKONV_BELOW512, DXFKONV_AT_LEAST512, DXFKONV_AND512,
                  DXFKONV_OR512, DXFKONV_BITS512, 64);
}

#endif

std::vector<ByteMasker> availableMaskers()
{
    std::vector<ByteMasker> maskers{maskPlain};
#if DXFKONV_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        maskers.push_back(maskSse2);
    if (__builtin_cpu_supports("avx2"))
        maskers.push_back(maskAvx2);
    if (__builtin_cpu_supports("avx512bw"))
        maskers.push_back(maskAvx512);
#endif
    return maskers;
}

const ByteMasker kBestMasker = availableMaskers().back();

}  // namespace

void MaskBytes(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out)
{
    kBestMasker(p, count, needs, out);
}

std::vector<ByteMasker> ByteMaskers()
{
    return availableMaskers();
}

}  // namespace dxfkonv::scan
