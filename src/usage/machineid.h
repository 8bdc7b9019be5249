#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace tallivo {

// This machine's identifier as Tallivo shows it to others: a UUID made from
// an HMAC-SHA256 of the system's machine id under a key of our own, so the
// machine id itself (machine-id(5)) never leaves the machine. "" when the
// system has none.
QString machineId();

// The same for a given system machine id.
QString machineIdFor(const QByteArray &systemMachineId);

// The system's machine id: the 32 hex digits of the first of `files` that
// holds one (machine-id(5)), by default /etc/machine-id and then D-Bus's
// copy; "" when none does.
QByteArray systemMachineId(const QByteArrayList &files = {"/etc/machine-id",
                                                          "/var/lib/dbus/machine-id"});

} // namespace tallivo
