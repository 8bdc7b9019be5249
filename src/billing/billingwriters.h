#pragma once

#include "billingreport.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace tallivo {

// The report as comma-separated values (RFC 4180), UTF-8, a header line
//     Job,Size,Colour,Pages,A4 eq.,Unit,Unit price,Amount,Note,File
// then per job its lines, its files not counted (Note "not counted: why",
// File their path) and its total (Size "Total"); the grand total last (Job
// "Total"). Numbers have "." as their point, amounts two decimals; paths
// keep their bytes.
QByteArray billingCsvHeader();
bool writeBillingCsv(QIODevice &out, const BillingReport &report);

// The report as a spreadsheet: a sheet of one row per job and a sheet of
// the lines, numbers as numbers and amounts in a currency format; paths as
// displayName() shows them.
bool writeBillingXlsx(QIODevice &out, const BillingReport &report, QString *error = nullptr);

// Saves the CSV or XLSX report, by the extension of `path`, wholly or not
// at all (through SaveFile). False with the reason otherwise.
bool saveBillingCsv(const BillingReport &report, const QByteArray &path, QString *error = nullptr);
bool saveBillingXlsx(const BillingReport &report, const QByteArray &path, QString *error = nullptr);

// The note of a job's total or the grand total: "3 pages unpriced; 1 file
// not counted", empty when neither.
QString billingNote(qint64 unpricedPages, qint64 uncountedFiles);

} // namespace tallivo
