#include "machineid.h"

#include <QMessageAuthenticationCode>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tallivo {

namespace {

// Fixed for good: a new key would make every machine look new.
constexpr char machineIdKey[] = "\x5b\x0e\xc4\x71\x2d\x93\x4a\xf6\x88\x1c\x37\xe2\x90\x6d\xb5\x0a";

constexpr int kIdLength = 32;

// The id in `file`, if it holds one: 32 hex digits and a newline. An empty
// file, or "uninitialized", is a system that has not made its id yet.
QByteArray readMachineId(const QByteArray &file)
{
    const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buffer[kIdLength + 2];
    ssize_t size = 0;
    while (size < ssize_t(sizeof buffer)) {
        const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += n;
    }
    ::close(fd);
    if (size == kIdLength + 1 && buffer[kIdLength] == '\n')
        size = kIdLength;
    if (size != kIdLength)
        return {};
    const QByteArray id(buffer, kIdLength);
    for (const char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return {};
    }
    return id;
}

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

QByteArray systemMachineId(const QByteArrayList &files)
{
    for (const QByteArray &file : files) {
        if (QByteArray id = readMachineId(file); !id.isEmpty())
            return id;
    }
    return {};
}

// Not QSysInfo::machineUniqueId(): Qt 6.4 reads only D-Bus's copy of the id,
// which a system without D-Bus lacks although it has /etc/machine-id. Both
// hold the same digits, so the id shown stays what it was where Qt found one.
QString machineId()
{
    return machineIdFor(systemMachineId());
}

} // namespace tallivo
