#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tallivo {

// Which program reads the line: the window (`tallivo [PATH...]`) or the
// headless counter (`tallivo-count [OPTION...] PATH...`). Both collect paths
// the same way, as a drop on the window does.
enum class Program
{
    Window,
    Counter
};

// What a command line asks for. Paths stay bytes: a file name need not be
// text.
struct CommandLine
{
    QList<QUrl> urls; // absolute file URLs, in the order given
    bool help = false;
    bool version = false;
    // tallivo-count only.
    bool subfolders = false;
    bool quiet = false;
    bool summary = false;
    std::optional<QByteArray> exportPath; // as given, never decoded
    std::optional<QByteArray> pagesPath;
    // The billing report: each PATH a job, or each of its subfolders.
    std::optional<QByteArray> reportPath;
    std::optional<QByteArray> pricesPath;
    bool jobPerSubfolder = false;
    std::optional<double> colourMinArea; // mm^2, valid when set
    QString error;                       // for people; empty when the line made sense
    QStringList skipped;                 // for people: each argument left out, and why
};

// Whether a file URL names this machine: no host, or "localhost". A file
// URL naming another machine is not a local file, whatever its path.
bool isOnThisMachine(const QUrl &url);

// Reads the arguments after the program name. Relative paths are taken from
// `workingFolder` (an absolute path) and tidied without resolving "..";
// "--" ends the options.
CommandLine parseCommandLine(const QList<QByteArray> &arguments, const QByteArray &workingFolder,
                             Program program = Program::Window);
// The --help text.
QString commandLineHelp(Program program = Program::Window);

} // namespace tallivo
