#include "pdfsecurity.h"

#include "pdfsha2.h"

#include <QCryptographicHash>

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TALLIVO_AES_NI 1
#endif

// The password checks of the standard security handler (ISO 32000-2,
// 7.6.4), for the empty user password only. Nothing is decrypted: a
// document that opens without a password keeps its numbers and its page
// tree's structure in the clear.

namespace tallivo {
namespace {

constexpr uchar kPasswordPad[32] = {
    0x28, 0xbf, 0x4e, 0x5e, 0x4e, 0x75, 0x8a, 0x41, 0x64, 0x00, 0x4e, 0x56, 0xff, 0xfa, 0x01, 0x08,
    0x2e, 0x2e, 0x00, 0xb6, 0xd0, 0x68, 0x3e, 0x80, 0x2f, 0x0c, 0xa9, 0xfe, 0x64, 0x53, 0x69, 0x7a};

QByteArrayView padView()
{
    return QByteArrayView(reinterpret_cast<const char *>(kPasswordPad), sizeof kPasswordPad);
}

QByteArray md5(QByteArrayView data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

// RC4 over `data`, in place.
void rc4(QByteArrayView key, QByteArray &data)
{
    std::array<uchar, 256> s;
    for (int i = 0; i < 256; ++i)
        s[size_t(i)] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[size_t(i)] + uchar(key[i % key.size()])) & 0xff;
        std::swap(s[size_t(i)], s[size_t(j)]);
    }
    int x = 0;
    int y = 0;
    for (char &c : data) {
        x = (x + 1) & 0xff;
        y = (y + s[size_t(x)]) & 0xff;
        std::swap(s[size_t(x)], s[size_t(y)]);
        c = char(uchar(c) ^ s[size_t((s[size_t(x)] + s[size_t(y)]) & 0xff)]);
    }
}

// Revisions 2 to 4: the file key from the password (Algorithm 2), then the
// user password test (Algorithms 4 and 5).
bool rc4RevisionsOpen(const PdfSecurity &s)
{
    if (s.keyLength < 5 || s.keyLength > 16 || s.owner.size() != 32 || s.user.size() != 32)
        return false;
    QByteArray input = padView().toByteArray() + s.owner;
    const quint32 p = quint32(s.permissions);
    for (int shift = 0; shift < 32; shift += 8)
        input += char((p >> shift) & 0xff);
    input += s.fileId;
    if (!s.encryptMetadata)
        input += QByteArray(4, char(0xff));
    QByteArray key = md5(input);
    if (s.revision >= 3) {
        for (int i = 0; i < 50; ++i)
            key = md5(QByteArrayView(key).first(s.keyLength));
    }
    key.truncate(s.keyLength);

    if (s.revision == 2) {
        QByteArray test = s.user;
        rc4(key, test);
        return test == padView();
    }
    QByteArray test = s.user;
    QByteArray stepKey(s.keyLength, Qt::Uninitialized);
    for (int i = 19; i >= 0; --i) {
        for (int j = 0; j < s.keyLength; ++j)
            stepKey[j] = char(key[j] ^ i);
        rc4(stepKey, test);
    }
    const QByteArray expected = md5(padView().toByteArray() + s.fileId);
    return test.first(16) == expected.first(16);
}

#ifdef TALLIVO_AES_NI

__attribute__((target("aes,sse2"))) __m128i expandKey(__m128i key, __m128i assist)
{
    assist = _mm_shuffle_epi32(assist, 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    return _mm_xor_si128(key, assist);
}

// AES-128 in CBC mode without padding, as revision 6's hash uses it.
__attribute__((target("aes,sse2"))) void
aes128CbcEncrypt(const uchar *key, const uchar *iv, const uchar *in, uchar *out, size_t length)
{
    __m128i k[11];
    k[0] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(key));
    k[1] = expandKey(k[0], _mm_aeskeygenassist_si128(k[0], 0x01));
    k[2] = expandKey(k[1], _mm_aeskeygenassist_si128(k[1], 0x02));
    k[3] = expandKey(k[2], _mm_aeskeygenassist_si128(k[2], 0x04));
    k[4] = expandKey(k[3], _mm_aeskeygenassist_si128(k[3], 0x08));
    k[5] = expandKey(k[4], _mm_aeskeygenassist_si128(k[4], 0x10));
    k[6] = expandKey(k[5], _mm_aeskeygenassist_si128(k[5], 0x20));
    k[7] = expandKey(k[6], _mm_aeskeygenassist_si128(k[6], 0x40));
    k[8] = expandKey(k[7], _mm_aeskeygenassist_si128(k[7], 0x80));
    k[9] = expandKey(k[8], _mm_aeskeygenassist_si128(k[8], 0x1b));
    k[10] = expandKey(k[9], _mm_aeskeygenassist_si128(k[9], 0x36));
    __m128i state = _mm_loadu_si128(reinterpret_cast<const __m128i *>(iv));
    for (size_t at = 0; at + 16 <= length; at += 16) {
        state = _mm_xor_si128(state, _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + at)));
        state = _mm_xor_si128(state, k[0]);
        for (int r = 1; r < 10; ++r)
            state = _mm_aesenc_si128(state, k[r]);
        state = _mm_aesenclast_si128(state, k[10]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at), state);
    }
}

bool haveAes()
{
    static const bool have = __builtin_cpu_supports("aes");
    return have;
}

// Revision 6's hash (Algorithm 2.B) of the empty password, starting from K.
QByteArray revision6Hash(const QByteArray &start)
{
    // K is at most 64 bytes, and each round encrypts 64 copies of it.
    uchar k[64];
    size_t sequence = size_t(qMin<qsizetype>(start.size(), 64)); // password (empty) + K
    std::memcpy(k, start.constData(), sequence);
    std::array<uchar, 64 * 64> k1;
    std::array<uchar, 64 * 64> e;
    for (int round = 0;; ++round) {
        const size_t length = 64 * sequence;
        for (size_t i = 0; i < 64; ++i)
            std::memcpy(k1.data() + i * sequence, k, sequence);
        aes128CbcEncrypt(k, k + 16, k1.data(), e.data(), length);
        // The first 16 bytes as a big-endian number, modulo 3: 256 is 1
        // modulo 3, so the sum of the bytes will do.
        int sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += e[size_t(i)];
        static constexpr Sha2 kHashes[] = {Sha2::Sha256, Sha2::Sha384, Sha2::Sha512};
        sequence = size_t(sha2(kHashes[sum % 3], e.data(), length, k));
        if (round >= 63 && e[length - 1] <= round + 1 - 32)
            return QByteArray(reinterpret_cast<const char *>(k), 32);
    }
}

#endif

// Revisions 5 and 6: the user validation salt hashed with the password
// (Algorithm 11).
bool aesRevisionsOpen(const PdfSecurity &s)
{
    if (s.user.size() < 48)
        return false;
    QByteArray k =
        QCryptographicHash::hash(QByteArrayView(s.user).sliced(32, 8), QCryptographicHash::Sha256);
    if (s.revision == 6) {
#ifdef TALLIVO_AES_NI
        if (!haveAes())
            return false;
        k = revision6Hash(k);
#else
        return false;
#endif
    }
    return k == QByteArrayView(s.user).first(32);
}

} // namespace

bool opensWithEmptyPassword(const PdfSecurity &security)
{
    switch (security.revision) {
    case 2:
    case 3:
        return rc4RevisionsOpen(security);
    case 5:
    case 6:
        return aesRevisionsOpen(security);
    default:
        return false;
    }
}

} // namespace tallivo
