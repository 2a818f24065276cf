#include "program.h"

#include "data_folder.h"
#include "error_report.h"
#include "fonts.h"
#include "main.h"
#include "net/qt_event_loop.h"
#include "pictures.h"
#include "store/settings.h"
#include "termination_signals.h"

#include <QApplication>
#include <QDir>
#include <QSessionManager>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace dazoroz::ui {

namespace {

constexpr const char* kHelp =
    "Usage: dazoroz [--data-folder]\n"
    "Desktop paging client: writes a short message and pages it to one pager number, or to\n"
    "the checked names of the names list, over SNPP.\n"
    "\n"
    "  --data-folder  keep names.txt in the user's data folder, $XDG_DATA_HOME/dazoroz\n"
    "                 (~/.local/share/dazoroz), made if missing, instead of the working\n"
    "                 directory; the desktop menu entry starts the program so\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, -reverse, ...) are taken as well.\n";

// Control characters shown as \xNN, so that no argument reaches the terminal raw.
QString shown(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

bool given(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt aborts when it finds no display; this says so first, in one line. A platform chosen on
// the command line or in QT_QPA_PLATFORM (offscreen, vnc...) needs none.
bool displayFound(int argc, char** argv) {
    return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY") ||
           environmentSet("QT_QPA_PLATFORM") || given(argc, argv, "-platform") ||
           given(argc, argv, "--platform");
}

} // namespace

int runProgram(int& argc, char** argv, const std::function<void(QWidget&)>& beforeShow) {
    // Answered before the application starts, so that they work without a display.
    if (given(argc, argv, "--help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (given(argc, argv, "--version")) {
        std::printf("dazoroz %s\n", DAZOROZ_VERSION);
        return 0;
    }
    if (!displayFound(argc, argv)) {
        std::fputs("dazoroz: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; start it "
                   "in a desktop session\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    net::useQtEventLoop();
    bool inDataFolder = false;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument != QStringLiteral("--data-folder")) {
            std::fprintf(stderr, "dazoroz: unknown option \"%s\" (see dazoroz --help)\n",
                         qPrintable(shown(argument)));
            return 2;
        }
        inDataFolder = true;
    }
    QApplication::setApplicationName(QStringLiteral("Dazoroz"));
    applyApplicationFont();
    QApplication::setWindowIcon(applicationIcon());
    if (inDataFolder) {
        const QString folder =
            dataFolder(qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("HOME"));
        const QString failed = enterFolder(folder);
        if (!failed.isEmpty())
            reportError(
                nullptr,
                QStringLiteral("The names list stays in %1: %2").arg(QDir::currentPath(), failed));
    }

    std::unique_ptr<ProgramWindows> windows;
    if (!guarded(nullptr, [&windows] { windows = std::make_unique<ProgramWindows>(); }))
        return 1;
    // The names list is saved after every change; it is saved once more at the end of the
    // desktop session, and when the program is told to end (it then closes as by Exit).
    Tmainform& mainform = windows->mainform();
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainform,
                     [&mainform](QSessionManager&) { mainform.saveNames(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &mainform,
                     [&mainform] { mainform.saveNames(); });
    int caught = 0;
    TerminationSignals ending;
    QObject::connect(&ending, &TerminationSignals::received, &mainform,
                     [&mainform, &caught](int signalNumber) {
                         caught = signalNumber;
                         mainform.close();
                     });
    if (beforeShow)
        beforeShow(mainform);
    mainform.show();
    const int status = QApplication::exec();
    return caught != 0 ? 128 + caught : status;
}

} // namespace dazoroz::ui
