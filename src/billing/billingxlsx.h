#pragma once

#include "billingreport.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace tallivo {

// The report as a spreadsheet: a sheet of one row per job and a sheet of
// the lines, numbers as numbers and amounts in a currency format; paths as
// displayName() shows them.
bool writeBillingXlsx(QIODevice &out, const BillingReport &report, QString *error = nullptr);

// Saves it wholly or not at all (through SaveFile). False with the reason
// otherwise.
bool saveBillingXlsx(const BillingReport &report, const QByteArray &path, QString *error = nullptr);

} // namespace tallivo
