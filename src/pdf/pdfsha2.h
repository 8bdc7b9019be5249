#pragma once

#include <QtGlobal>

#include <cstddef>

namespace tallivo {

// SHA-256, SHA-384 and SHA-512 (FIPS 180-4), for the password hash of
// AES-256 encryption, which hashes a few hundred KiB per file. Qt's own
// SHA-2 takes 75 to 100 MB/s on the reference machine, where these take
// several times that (SHA-256 with the CPU's SHA extensions where it has
// them): on a count of many encrypted files the hash was a third of the
// time.
enum class Sha2
{
    Sha256 = 32, // the digest's length in bytes
    Sha384 = 48,
    Sha512 = 64,
};

// Writes the digest of `data` to `out`, which has room for 64 bytes, and
// returns its length.
int sha2(Sha2 kind, const uchar *data, size_t size, uchar *out);

namespace testing {
// Whether SHA-256 may use the CPU's SHA extensions (by default where it has
// them), so that tests reach the code without them too.
void useShaExtensions(bool use);
} // namespace testing

} // namespace tallivo
