// The XLSX and PDF reports for tallivo-count, as a module it loads only when
// asked for one: linked into the counter, QtGui and libxlsxwriter doubled the
// start-up of every run.
#include "billingprint.h"

#include <QGuiApplication>

extern "C" Q_DECL_EXPORT QCoreApplication *tallivoBillingApplication(int *argc, char **argv)
{
    // Fonts need the GUI application; it never shows a window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(*argc, argv);
}

extern "C" Q_DECL_EXPORT bool tallivoSaveBillingReport(const tallivo::BillingReport *report,
                                                       const QByteArray *path, QString *error)
{
    return tallivo::saveBillingReport(*report, *path, error);
}
