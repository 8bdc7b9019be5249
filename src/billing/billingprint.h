#pragma once

#include "billingreport.h"

#include <QByteArray>
#include <QLocale>
#include <QPageSize>
#include <QString>

class QPagedPaintDevice;
class QTextDocument;

namespace tallivo {

// The paper a report is printed on where `locale` is: Letter where inches
// are used, A4 elsewhere.
QPageSize reportPageSize(const QLocale &locale = QLocale());

// The printable report: the shop's name and the date, then a section per
// job with its lines, files not counted and total, then the grand total.
// Numbers are written for the people of `locale`.
void fillBillingDocument(QTextDocument &document, const BillingReport &report,
                         const QLocale &locale = QLocale());
// Prints the report on `device`: a QPdfWriter or a QPrinter. Needs a
// QGuiApplication (fonts).
void printBillingReport(QPagedPaintDevice &device, const BillingReport &report,
                        const QLocale &locale = QLocale());
// The report as a PDF file's bytes, on reportPageSize(locale).
QByteArray billingPdf(const BillingReport &report, const QLocale &locale = QLocale());

// Saves the report to `path` as CSV, XLSX or PDF by its extension
// (case-insensitive), wholly or not at all. False with the reason.
bool saveBillingReport(const BillingReport &report, const QByteArray &path,
                       QString *error = nullptr);

} // namespace tallivo
