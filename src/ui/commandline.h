#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

namespace tallivo {

// What `tallivo [PATH...]` asks for. Paths stay bytes: a file name need not
// be text.
struct CommandLine
{
    QList<QUrl> urls; // absolute file URLs, in the order given
    bool help = false;
    bool version = false;
    QString error; // for people; empty when the line made sense
};

// Reads the arguments after the program name. Relative paths are taken from
// `workingFolder` (an absolute path); "--" ends the options.
CommandLine parseCommandLine(const QList<QByteArray> &arguments, const QByteArray &workingFolder);
// The --help text.
QString commandLineHelp();

} // namespace tallivo
