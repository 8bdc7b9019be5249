#pragma once

#include "billingreport.h"

#include <QByteArray>
#include <QLocale>
#include <QPageSize>
#include <QString>

class QPagedPaintDevice;

namespace tallivo {

// The paper a report is printed on where `locale` is: Letter where inches
// are used, A4 elsewhere.
QPageSize reportPageSize(const QLocale &locale = QLocale());

// Prints the report on `device`, a QPdfWriter or a QPrinter: the shop's
// name and the date atop each page, then a section per job with its lines,
// total and files not counted, then the grand total. Numbers are written for
// the people of `locale`. Needs a QGuiApplication (fonts). False when the
// device could not be painted on.
bool printBillingReport(QPagedPaintDevice &device, const BillingReport &report,
                        const QLocale &locale = QLocale());
// The report as a PDF file's bytes, on reportPageSize(locale); empty on
// failure.
QByteArray billingPdf(const BillingReport &report, const QLocale &locale = QLocale());

// Saves the report to `path` as CSV, XLSX or PDF by its extension
// (case-insensitive), wholly or not at all. False with the reason.
bool saveBillingReport(const BillingReport &report, const QByteArray &path,
                       QString *error = nullptr);

} // namespace tallivo
