#include "commandline.h"

#include "localpath.h"

#include <QCoreApplication>

namespace tallivo {

namespace {

// "//" and "/./" say nothing more than "/"; ".." stays, as a symbolic link
// before it may lead elsewhere.
QByteArray tidied(const QByteArray &path)
{
    QByteArray out;
    out.reserve(path.size());
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        out += '/';
        out += part;
    }
    return out.isEmpty() ? QByteArray("/") : out;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

} // namespace

bool isOnThisMachine(const QUrl &url)
{
    const QString host = url.host();
    return host.isEmpty() || host.compare(u"localhost", Qt::CaseInsensitive) == 0;
}

CommandLine parseCommandLine(const QList<QByteArray> &arguments, const QByteArray &workingFolder)
{
    CommandLine line;
    bool options = true;
    for (const QByteArray &argument : arguments) {
        if (argument.isEmpty())
            continue;
        if (options && argument.startsWith('-') && argument != "-") {
            if (argument == "--") {
                options = false;
            } else if (argument == "-h" || argument == "--help") {
                line.help = true;
            } else if (argument == "--version") {
                line.version = true;
            } else if (line.error.isEmpty()) {
                line.error = tr("unknown option %1").arg(displayPath(argument));
            }
            continue;
        }
        // What a file manager's "Open With" may pass for %U instead of %F.
        if (argument.startsWith("file://")) {
            const QUrl url = QUrl::fromEncoded(argument, QUrl::StrictMode);
            if (url.isValid() && !localPath(url).isEmpty()) {
                if (!isOnThisMachine(url)) {
                    line.skipped.append(tr("%1 is on the machine %2, not this one: skipped")
                                            .arg(displayPath(argument), url.host()));
                    continue;
                }
                line.urls.append(urlFromLocalPath(tidied(localPath(url))));
                continue;
            }
        }
        const QByteArray path =
            argument.startsWith('/') ? argument : workingFolder + '/' + argument;
        line.urls.append(urlFromLocalPath(tidied(path)));
    }
    return line;
}

QString commandLineHelp()
{
    return tr("Usage: tallivo [PATH...]\n"
              "Counts the pages of TIFF and PDF files. The files and folders given are\n"
              "listed as if dropped on the window; with Tallivo already running, they go\n"
              "to its window.\n"
              "\n"
              "  -h, --help     show this text\n"
              "      --version  show the version\n"
              "\n"
              "For scripts and servers, without a window: tallivo-count --help\n");
}

} // namespace tallivo
