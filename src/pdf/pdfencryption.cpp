#include "pdfdocument.h"
#include "pdfsecurity.h"

#include <climits>
#include <optional>

namespace tallivo::pdfread {

// A string's bytes, read again from the file and unescaped as the library
// does. Only strings of objects parsed from the file can be read again.
QByteArray Document::stringOf(const Value &value)
{
    if (value.isStream || value.kind() != Kind::String || !value.tree->inFile)
        stepAside(Reason::Encrypted);
    const Node &node = value.at();
    const QByteArrayView raw = m_reader.view(node.num, node.gen - node.num);
    if (raw.size() < 2 || raw.size() > 4096)
        stepAside(Reason::Encrypted);
    QByteArray out;
    if (raw[0] == '<') {
        int nibbles = 0;
        int byte = 0;
        for (const char c : raw.sliced(1, raw.size() - 2)) {
            const int v = hexValue(uchar(c));
            if (v < 0)
                continue; // white space: anything else stopped the lexer
            byte = byte * 16 + v;
            if (++nibbles == 2) {
                out += char(byte);
                nibbles = byte = 0;
            }
        }
        if (nibbles == 1)
            out += char(byte * 16);
        return out;
    }
    const QByteArrayView body = raw.sliced(1, raw.size() - 2);
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c != '\\' || i + 1 == body.size()) {
            out += c;
            continue;
        }
        const char e = body[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case '\r':
            if (i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
            break;
        case '\n':
            break;
        default:
            if (e >= '0' && e <= '7') {
                int octal = e - '0';
                for (int k = 0;
                     k < 2 && i + 1 < body.size() && body[i + 1] >= '0' && body[i + 1] <= '7'; ++k)
                    octal = octal * 8 + (body[++i] - '0');
                out += char(octal & 0xff);
            } else {
                out += e; // \\, \(, \) and any other character stand for themselves
            }
        }
    }
    return out;
}

// An encrypted file is counted only where the library opens it without a
// password: the standard security handler, in a form the library supports,
// and an empty user password. Numbers and the page tree's structure are
// never encrypted; objects inside object streams are, and make the reader
// step aside when they are needed.
void Document::checkEncryption(int encrypt)
{
    const Value dict = resolve(m_trailer, encrypt);
    if (dict.isStream || dict.kind() != Kind::Dict)
        stepAside(Reason::Encrypted);
    auto direct = [&](const Value &in, const char *key) -> Value {
        const int node = in.find(key);
        if (node >= 0 && in.tree->at(node).kind == Kind::Ref)
            stepAside(Reason::Encrypted);
        return {in.tree, node, false};
    };
    auto int32 = [&](const Value &v) -> std::optional<qint64> {
        if (v.kind() != Kind::Int || !v.at().fits32)
            return std::nullopt;
        return v.at().num;
    };
    auto isName = [&](const Value &v, QByteArrayView name) {
        return v.kind() == Kind::Name && v.tree->name(v.node) == name;
    };

    const Value filter = direct(dict, "Filter");
    if (!isName(filter, "Standard"))
        stepAside(Reason::Encrypted);
    const std::optional<qint64> version = int32(direct(dict, "V"));
    const std::optional<qint64> revision = int32(direct(dict, "R"));
    const Value permissions = direct(dict, "P");
    if (!version || !revision || permissions.kind() != Kind::Int)
        stepAside(Reason::Encrypted);
    PdfSecurity security;
    // The library takes a /P written unsigned for the signed number.
    const qint64 p = permissions.at().num;
    if (p >= INT_MIN && p <= INT_MAX)
        security.permissions = qint32(p);
    else if (p > INT_MAX && p <= qint64(UINT_MAX))
        security.permissions = qint32(quint32(p));
    else
        stepAside(Reason::Encrypted);
    security.owner = stringOf(direct(dict, "O"));
    security.user = stringOf(direct(dict, "U"));

    const qint64 v = *version;
    const qint64 r = *revision;
    if (r <= 4) {
        if (security.owner.size() != 32 || security.user.size() != 32)
            stepAside(Reason::Encrypted);
        const std::optional<qint64> length = int32(direct(dict, "Length"));
        security.keyLength = r == 2 || !length ? 5 : int(*length / 8);
    } else if (r == 5 || r == 6) {
        if (security.owner.size() < 48 || security.user.size() < 48 ||
            stringOf(direct(dict, "OE")).size() != 32 || stringOf(direct(dict, "UE")).size() != 32)
            stepAside(Reason::Encrypted);
    } else {
        stepAside(Reason::Encrypted);
    }

    int method = -1; // as the crypt filters name it: 0 RC4, 1 AES-128, 2 AES-256
    if ((v == 4 || v == 5) && r >= 4) {
        const Value filters = direct(dict, "CF");
        const Value streams = direct(dict, "StmF");
        const Value strings = direct(dict, "StrF");
        if (filters.kind() != Kind::Dict || streams.kind() != Kind::Name ||
            strings.kind() != Kind::Name ||
            streams.tree->name(streams.node) != strings.tree->name(strings.node))
            stepAside(Reason::Encrypted);
        const Value cf =
            direct(filters, streams.tree->name(streams.node).toByteArray().constData());
        if (cf.kind() != Kind::Dict)
            stepAside(Reason::Encrypted); // also the Identity filter: left to the library
        const Value cfm = direct(cf, "CFM");
        method = isName(cfm, "V2") ? 0 : isName(cfm, "AESV2") ? 1 : isName(cfm, "AESV3") ? 2 : -1;
        if (method < 0 || (method == 2) != (r >= 5))
            stepAside(Reason::Encrypted);
        if (method < 2) {
            if (const std::optional<qint64> length = int32(direct(cf, "Length")))
                security.keyLength = int(*length); // in bytes, as the library reads it
        }
        const Value metadata = direct(dict, "EncryptMetadata");
        if (metadata.kind() == Kind::Bool)
            security.encryptMetadata = metadata.at().num != 0;
        security.revision = method < 2 ? 3 : int(r);
    } else if (v >= 1 && v <= 2 && r >= 2 && r <= 3) {
        security.revision = int(r);
    } else {
        stepAside(Reason::Encrypted);
    }
    if (security.revision <= 3) {
        if (security.keyLength > 16 || security.keyLength < 0)
            security.keyLength = 16;
        const Value ids = direct({&m_trailer, m_trailer.root, false}, "ID");
        if (ids.kind() == Kind::Array) {
            const Value first{ids.tree, ids.at().first, false};
            if (first.kind() == Kind::String)
                security.fileId = stringOf(first);
            else if (first.node >= 0)
                stepAside(Reason::Encrypted);
        } else if (ids.node >= 0) {
            stepAside(Reason::Encrypted);
        }
    }
    if (!opensWithEmptyPassword(security))
        stepAside(Reason::Encrypted);
    m_encrypted = true;
}

} // namespace tallivo::pdfread
