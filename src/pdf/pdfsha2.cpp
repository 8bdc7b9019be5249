#include "pdfsha2.h"

#include <QtEndian>

#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TALLIVO_SHA_NI 1
#endif

namespace tallivo {
namespace {

constexpr quint32 kK256[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u,
    0xab1c5ed5u, 0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu,
    0x9bdc06a7u, 0xc19bf174u, 0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu,
    0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau, 0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u,
    0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u, 0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu,
    0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u, 0xa2bfe8a1u, 0xa81a664bu,
    0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u, 0x19a4c116u,
    0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u,
    0xc67178f2u,
};
constexpr quint64 kK512[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};
constexpr quint32 kH256[8] = {
    0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
    0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u,
};
constexpr quint64 kH384[8] = {
    0xcbbb9d5dc1059ed8ULL, 0x629a292a367cd507ULL, 0x9159015a3070dd17ULL, 0x152fecd8f70e5939ULL,
    0x67332667ffc00b31ULL, 0x8eb44a8768581511ULL, 0xdb0c2e0d64f98fa7ULL, 0x47b5481dbefa4fa4ULL,
};
constexpr quint64 kH512[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
};

quint32 load32(const uchar *p)
{
    return qFromBigEndian<quint32>(p);
}

quint64 load64(const uchar *p)
{
    return qFromBigEndian<quint64>(p);
}

void store32(quint32 v, uchar *p)
{
    qToBigEndian(v, p);
}

void store64(quint64 v, uchar *p)
{
    qToBigEndian(v, p);
}

constexpr quint32 rotr(quint32 x, int n)
{
    return x >> n | x << (32 - n);
}

constexpr quint64 rotr(quint64 x, int n)
{
    return x >> n | x << (64 - n);
}

// One round with the working variables' roles passed in, so that eight
// rounds in a row move no variable about.
inline void round256(quint32 a, quint32 b, quint32 c, quint32 &d, quint32 e, quint32 f, quint32 g,
                     quint32 &h, quint32 kw)
{
    const quint32 t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kw;
    d += t1;
    h = t1 + (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
}

inline void round512(quint64 a, quint64 b, quint64 c, quint64 &d, quint64 e, quint64 f, quint64 g,
                     quint64 &h, quint64 kw)
{
    const quint64 t1 = h + (rotr(e, 14) ^ rotr(e, 18) ^ rotr(e, 41)) + ((e & f) ^ (~e & g)) + kw;
    d += t1;
    h = t1 + (rotr(a, 28) ^ rotr(a, 34) ^ rotr(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
}

// The rounds of one block, eight at a time.
template <typename Word, int Rounds, typename Round>
void rounds(Word *state, const Word *w, const Word *k, Round round)
{
    Word a = state[0], b = state[1], c = state[2], d = state[3];
    Word e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < Rounds; i += 8) {
        round(a, b, c, d, e, f, g, h, k[i] + w[i]);
        round(h, a, b, c, d, e, f, g, k[i + 1] + w[i + 1]);
        round(g, h, a, b, c, d, e, f, k[i + 2] + w[i + 2]);
        round(f, g, h, a, b, c, d, e, k[i + 3] + w[i + 3]);
        round(e, f, g, h, a, b, c, d, k[i + 4] + w[i + 4]);
        round(d, e, f, g, h, a, b, c, k[i + 5] + w[i + 5]);
        round(c, d, e, f, g, h, a, b, k[i + 6] + w[i + 6]);
        round(b, c, d, e, f, g, h, a, k[i + 7] + w[i + 7]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void blocks256(quint32 *state, const uchar *data, size_t blocks)
{
    for (; blocks > 0; --blocks, data += 64) {
        quint32 w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = load32(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            const quint32 s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const quint32 s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        rounds<quint32, 64>(state, w, kK256, round256);
    }
}

#ifdef TALLIVO_SHA_NI

// The SHA extensions take the state as ABEF and CDGH and four rounds'
// message words at a time, two rounds per instruction.
__attribute__((target("sha,sse4.1,ssse3"))) void blocks256Ni(quint32 *state, const uchar *data,
                                                             size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0xb1);
    __m128i cdgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), 0x1b);
    __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, tmp, 0xf0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w[4];
        for (int g = 0; g < 16; ++g) {
            __m128i &now = w[g % 4];
            if (g < 4)
                now = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * g)), byteSwap);
            __m128i message = _mm_add_epi32(
                now, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kK256 + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            if (g >= 3 && g < 15) {
                __m128i &next = w[(g + 1) % 4];
                next = _mm_add_epi32(next, _mm_alignr_epi8(now, w[(g + 3) % 4], 4));
                next = _mm_sha256msg2_epu32(next, now);
            }
            message = _mm_shuffle_epi32(message, 0x0e);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
            if (g >= 1 && g < 13)
                w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], now);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    tmp = _mm_shuffle_epi32(abef, 0x1b);
    cdgh = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(tmp, cdgh, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(cdgh, tmp, 8));
}

bool haveShaNi()
{
    static const bool have = [] {
        unsigned a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3))
            return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
    }();
    return have;
}

#endif

void blocks512(quint64 *state, const uchar *data, size_t blocks)
{
    for (; blocks > 0; --blocks, data += 128) {
        quint64 w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = load64(data + 8 * i);
        for (int i = 16; i < 80; ++i) {
            const quint64 s0 = rotr(w[i - 15], 1) ^ rotr(w[i - 15], 8) ^ (w[i - 15] >> 7);
            const quint64 s1 = rotr(w[i - 2], 19) ^ rotr(w[i - 2], 61) ^ (w[i - 2] >> 6);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        rounds<quint64, 80>(state, w, kK512, round512);
    }
}

#ifdef TALLIVO_SHA_NI
std::atomic_bool allowShaNi{true};
#endif

void run256(quint32 *state, const uchar *data, size_t blocks)
{
#ifdef TALLIVO_SHA_NI
    if (allowShaNi.load(std::memory_order_relaxed) && haveShaNi()) {
        blocks256Ni(state, data, blocks);
        return;
    }
#endif
    blocks256(state, data, blocks);
}

// The whole blocks of the message, then the last part padded: a one bit,
// zeros, and the length in bits in the last `lengthBytes` bytes.
template <typename Word, typename Blocks>
void digest(Word *state, size_t blockSize, size_t lengthBytes, const uchar *data, size_t size,
            Blocks blocks)
{
    const size_t whole = size / blockSize;
    blocks(state, data, whole);
    std::array<uchar, 256> last = {};
    const size_t rest = size - whole * blockSize;
    if (rest > 0)
        std::memcpy(last.data(), data + whole * blockSize, rest);
    last[rest] = 0x80;
    const size_t padded = rest + 1 + lengthBytes <= blockSize ? blockSize : 2 * blockSize;
    const quint64 bits = quint64(size) * 8;
    store64(bits, last.data() + padded - 8);
    if (lengthBytes > 8)
        store64(quint64(size) >> 61, last.data() + padded - 16);
    blocks(state, last.data(), padded / blockSize);
}

} // namespace

namespace testing {
void useShaExtensions(bool use)
{
#ifdef TALLIVO_SHA_NI
    allowShaNi.store(use, std::memory_order_relaxed);
#else
    Q_UNUSED(use);
#endif
}
} // namespace testing

int sha2(Sha2 kind, const uchar *data, size_t size, uchar *out)
{
    const int length = int(kind);
    if (kind == Sha2::Sha256) {
        quint32 state[8];
        std::memcpy(state, kH256, sizeof state);
        digest(state, 64, 8, data, size, run256);
        for (int i = 0; i < 8; ++i)
            store32(state[i], out + 4 * i);
        return length;
    }
    quint64 state[8];
    std::memcpy(state, kind == Sha2::Sha384 ? kH384 : kH512, sizeof state);
    digest(state, 128, 16, data, size, blocks512);
    uchar full[64];
    for (int i = 0; i < 8; ++i)
        store64(state[i], full + 8 * i);
    std::memcpy(out, full, size_t(length));
    return length;
}

} // namespace tallivo
