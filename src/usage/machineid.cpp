#include "machineid.h"

#include <QMessageAuthenticationCode>
#include <QSysInfo>
#include <QUuid>

namespace tallivo {

namespace {

// Fixed for good: a new key would make every machine look new.
constexpr char machineIdKey[] = "\x5b\x0e\xc4\x71\x2d\x93\x4a\xf6\x88\x1c\x37\xe2\x90\x6d\xb5\x0a";

} // namespace

QString machineIdFor(const QByteArray &systemMachineId)
{
    if (systemMachineId.isEmpty())
        return {};
    QByteArray hash = QMessageAuthenticationCode::hash(
        systemMachineId, QByteArray(machineIdKey, sizeof machineIdKey - 1),
        QCryptographicHash::Sha256);
    hash.truncate(16);
    // A random-form (version 4) UUID, as systemd makes application-specific ids.
    hash[6] = char((hash.at(6) & 0x0F) | 0x40);
    hash[8] = char((hash.at(8) & 0x3F) | 0x80);
    return QUuid::fromRfc4122(hash).toString(QUuid::WithoutBraces).toUpper();
}

QString machineId()
{
    return machineIdFor(QSysInfo::machineUniqueId());
}

} // namespace tallivo
