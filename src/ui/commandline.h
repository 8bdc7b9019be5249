#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace tallivo {

// What `tallivo [PATH...]` asks for. Paths stay bytes: a file name need not
// be text.
struct CommandLine
{
    QList<QUrl> urls; // absolute file URLs, in the order given
    bool help = false;
    bool version = false;
    QString error;       // for people; empty when the line made sense
    QStringList skipped; // for people: each argument left out, and why
};

// Whether a file URL names this machine: no host, or "localhost". A file
// URL naming another machine is not a local file, whatever its path.
bool isOnThisMachine(const QUrl &url);

// Reads the arguments after the program name. Relative paths are taken from
// `workingFolder` (an absolute path); "--" ends the options.
CommandLine parseCommandLine(const QList<QByteArray> &arguments, const QByteArray &workingFolder);
// The --help text.
QString commandLineHelp();

} // namespace tallivo
