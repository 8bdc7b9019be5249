#pragma once

#include <QByteArray>
#include <QString>

namespace tallivo {

// This machine's identifier as Tallivo shows it to others: a UUID made from
// an HMAC-SHA256 of the system's machine id under a key of our own, so the
// machine id itself (machine-id(5)) never leaves the machine. "" when the
// system has none.
QString machineId();

// The same for a given system machine id.
QString machineIdFor(const QByteArray &systemMachineId);

} // namespace tallivo
