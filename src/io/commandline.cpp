#include "commandline.h"

#include "colourtolerance.h"
#include "localpath.h"

#include <QCoreApplication>

namespace tallivo {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

// An option of tallivo-count that takes a file name, as "--name FILE" or
// "--name=FILE". Returns whether `argument` was that option.
bool takeFileOption(const QList<QByteArray> &arguments, qsizetype *i, const QByteArray &name,
                    std::optional<QByteArray> *value, QString *error)
{
    const QByteArray &argument = arguments.at(*i);
    if (argument == name) {
        if (*i + 1 < arguments.size())
            *value = arguments.at(++*i);
        else
            *value = QByteArray();
    } else if (argument.startsWith(name + '=')) {
        *value = argument.mid(name.size() + 1);
    } else {
        return false;
    }
    if (value->value().isEmpty() && error->isEmpty())
        *error = tr("%1 needs a file name").arg(QString::fromLatin1(name));
    return true;
}

// --colour-min-area MM2 or --colour-min-area=MM2. Returns whether
// `argument` was that option.
bool takeAreaOption(const QList<QByteArray> &arguments, qsizetype *i, std::optional<double> *value,
                    QString *error)
{
    static const QByteArray name = "--colour-min-area";
    const QByteArray &argument = arguments.at(*i);
    QByteArray text;
    if (argument == name) {
        if (*i + 1 < arguments.size())
            text = arguments.at(++*i);
    } else if (argument.startsWith(name + '=')) {
        text = argument.mid(name.size() + 1);
    } else {
        return false;
    }
    *value = parseColourMinArea(QString::fromUtf8(text));
    if (!*value && error->isEmpty())
        *error = tr("%1 needs an area in mm\u00b2 over 0 and up to %2, such as 1.5")
                     .arg(QString::fromLatin1(name), QString::number(kMaxColourMinArea));
    return true;
}

// The options QApplication takes out of the command line itself, with one
// or two leading hyphens. They are read here too, so that the line is
// understood before the window system is asked for anything.
bool isToolkitOption(QByteArrayView argument, bool *takesValue)
{
    static constexpr const char *withValue[] = {"platform",
                                                "platformpluginpath",
                                                "platformtheme",
                                                "plugin",
                                                "qwindowgeometry",
                                                "geometry",
                                                "qwindowtitle",
                                                "title",
                                                "qwindowicon",
                                                "icon",
                                                "session",
                                                "style",
                                                "stylesheet",
                                                "display",
                                                "name"};
    static constexpr const char *alone[] = {"reverse", "testability", "widgetcount", "nograb",
                                            "dograb"};
    QByteArrayView name = argument.sliced(argument.startsWith("--") ? 2 : 1);
    if (name.startsWith("style=") || name.startsWith("stylesheet=")) {
        *takesValue = false;
        return true;
    }
    for (const char *option : withValue) {
        if (name == option) {
            *takesValue = true;
            return true;
        }
    }
    for (const char *option : alone) {
        if (name == option) {
            *takesValue = false;
            return true;
        }
    }
    return false;
}

} // namespace

bool isOnThisMachine(const QUrl &url)
{
    const QString host = url.host();
    return host.isEmpty() || host.compare(u"localhost", Qt::CaseInsensitive) == 0;
}

CommandLine parseCommandLine(const QList<QByteArray> &arguments, const QByteArray &workingFolder,
                             Program program)
{
    CommandLine line;
    const bool counter = program == Program::Counter;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &argument = arguments.at(i);
        if (argument.isEmpty())
            continue;
        if (options && argument.startsWith('-') && argument != "-") {
            if (argument == "--") {
                options = false;
            } else if (argument == "-h" || argument == "--help") {
                line.help = true;
            } else if (argument == "--version") {
                line.version = true;
            } else if (bool takesValue = false;
                       !counter && isToolkitOption(argument, &takesValue)) {
                if (takesValue)
                    ++i;
            } else if (counter && argument == "--subfolders") {
                line.subfolders = true;
            } else if (counter && argument == "--quiet") {
                line.quiet = true;
            } else if (counter && argument == "--summary") {
                line.summary = true;
            } else if (counter && argument == "--job-per-subfolder") {
                line.jobPerSubfolder = true;
            } else if (counter &&
                       (takeFileOption(arguments, &i, "--export", &line.exportPath, &line.error) ||
                        takeFileOption(arguments, &i, "--pages", &line.pagesPath, &line.error) ||
                        takeFileOption(arguments, &i, "--report", &line.reportPath, &line.error) ||
                        takeFileOption(arguments, &i, "--prices", &line.pricesPath, &line.error) ||
                        takeAreaOption(arguments, &i, &line.colourMinArea, &line.error))) {
            } else if (line.error.isEmpty()) {
                line.error = tr("unknown option %1")
                                 .arg(displayPath(escapedForRow(argument, RowTarget::Terminal)));
            }
            continue;
        }
        // What a file manager's "Open With" may pass for %U instead of %F.
        if (argument.startsWith("file://")) {
            const QUrl url = QUrl::fromEncoded(argument, QUrl::StrictMode);
            if (url.isValid() && !localPath(url).isEmpty()) {
                if (!isOnThisMachine(url)) {
                    line.skipped.append(tr("%1: the path is on another machine (%2), not "
                                           "this one: skipped")
                                            .arg(displayPath(argument), url.host()));
                    continue;
                }
                line.urls.append(urlFromLocalPath(tidyPath(localPath(url))));
                continue;
            }
        }
        line.urls.append(urlFromLocalPath(absolutePath(argument, workingFolder)));
    }
    // Paths given but left out are said as such, not as none given.
    if (counter && line.error.isEmpty() && !line.help && !line.version && line.urls.isEmpty() &&
        line.skipped.isEmpty())
        line.error = tr("no path given");
    if (counter && line.error.isEmpty() && !line.reportPath &&
        (line.pricesPath || line.jobPerSubfolder))
        line.error = tr("--prices and --job-per-subfolder go with --report");
    return line;
}

QString commandLineHelp(Program program)
{
    if (program == Program::Counter) {
        return tr("Usage: tallivo-count [--subfolders] [--export FILE] [--pages FILE] [--summary]\n"
                  "                     [--report FILE [--prices FILE] [--job-per-subfolder]]\n"
                  "                     [--colour-min-area MM2]\n"
                  "                     [--quiet] [--] PATH...\n"
                  "Counts the pages of the TIFF and PDF files at PATH (files or folders),\n"
                  "collecting them as a drop on the Tallivo window does, and prints a line\n"
                  "per file (name, pages, size, folder) and the totals. The size is the\n"
                  "space the file takes on disk, not its length.\n"
                  "\n"
                  "  --subfolders   walk folders with their subfolders\n"
                  "  --export FILE  also write the tab-delimited list to FILE\n"
                  "  --export=FILE  the same\n"
                  "  --pages FILE   write one tab-separated line per page to FILE\n"
                  "  --pages=FILE   the same\n"
                  "  --summary      print the pages by paper size and colour\n"
                  "  --report FILE  write the billing report to FILE: .csv, .xlsx or .pdf;\n"
                  "                 each PATH is a job, billed by paper size and colour\n"
                  "  --report=FILE  the same\n"
                  "  --prices FILE  price the report with the tab-separated price list FILE\n"
                  "                 (header Size, Colour, Unit, Price); without it nothing\n"
                  "                 is priced\n"
                  "  --prices=FILE  the same\n"
                  "  --job-per-subfolder  each subfolder of a PATH is a job of its own, and\n"
                  "                 the files of the PATH itself one more\n"
                  "  --colour-min-area MM2\n"
                  "                 the smallest coloured area that makes a page Colour, in\n"
                  "                 mm\u00b2 (over 0, up to 100; default about 1); less colour\n"
                  "                 leaves it B/W or Grey\n"
                  "  --quiet        print only the totals and the problems, not a line per file\n"
                  "  -h, --help     show this help\n"
                  "      --version  show the version\n"
                  "  --             end of the options: the arguments after it are paths\n"
                  "\n"
                  "Exit status: 0 all counted; 1 a PATH is missing or a file could not be\n"
                  "written; 2 bad usage or a bad price list; 3 some files could not be\n"
                  "counted or folders not read;\n"
                  "130 stopped by Ctrl+C.\n");
    }
    return tr("Usage: tallivo [--] [PATH...]\n"
              "Counts the pages of TIFF and PDF files. The files and folders given are\n"
              "listed as if dropped on the window; with Tallivo already running, they go\n"
              "to its window.\n"
              "\n"
              "  -h, --help     show this text\n"
              "      --version  show the version\n"
              "  --             end of the options: the arguments after it are paths\n"
              "The options of the Qt toolkit, such as -platform NAME or -style NAME, are\n"
              "taken as well.\n"
              "\n"
              "Exit status: 0 the window was closed or the paths were handed over;\n"
              "1 no window could be opened (no display); 2 bad usage.\n"
              "\n"
              "For scripts and servers, without a window: tallivo-count --help\n");
}

} // namespace tallivo
