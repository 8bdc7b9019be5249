#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace tallivo {

// What the standard security handler of an encrypted PDF gives for checking
// a password: its encryption dictionary and the first string of the
// trailer's /ID.
struct PdfSecurity
{
    // 2, 3 or 5, 6; revision 4 is checked as 3, with encryptMetadata.
    int revision = 0;
    int keyLength = 0; // bytes of the file key, revisions 2 and 3
    bool encryptMetadata = true;
    qint32 permissions = 0; // /P
    QByteArray owner;       // /O
    QByteArray user;        // /U
    QByteArray fileId;
};

// Whether the document opens with an empty user password, as documents that
// only restrict what may be done with them do: then a reader needs no
// password to count their pages. False where it cannot tell.
bool opensWithEmptyPassword(const PdfSecurity &security);

} // namespace tallivo
