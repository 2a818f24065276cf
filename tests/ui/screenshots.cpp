// Takes the pictures of the README (scripts/screenshots.sh runs it under Xvfb): the main window
// after a page to one checked name through a scripted local server (banner, log, status), then
// the configuration, name entry, Instructions, About and History windows, each grabbed from the
// screen.
//
//   dazoroz_screenshots <output folder>

#include "store/history.h"
#include "store/settings.h"
#include "support/scripted_server.h"
#include "ui/about.h"
#include "ui/addname.h"
#include "ui/config.h"
#include "ui/fonts.h"
#include "ui/history.h"
#include "ui/instructions.h"
#include "ui/main.h"
#include "ui/names_checklist.h"
#include "ui/pictures.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <tuple>

using namespace dazoroz::ui;
using dazoroz::testsupport::ScriptedServer;
using dazoroz::testsupport::SnppScript;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

// Lets the window system draw what is pending.
void settle() {
    QDeadlineTimer deadline(300);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool grab(QWidget* window, const QString& file) {
    settle();
    const QRect r = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    if (shot.isNull() || !shot.save(file, "PNG")) {
        std::fprintf(stderr, "dazoroz_screenshots: cannot save %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: dazoroz_screenshots <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QApplication::setApplicationName(QStringLiteral("Dazoroz"));
    applyApplicationFont();
    QApplication::setWindowIcon(applicationIcon());

    ScriptedServer server;
    SnppScript script;
    script.greeting = "220 \x02Zovizir paging gateway ready\r\n";
    server.useSnppScript(script);

    // A first run's files in scratch folders: settings with two standard messages and the
    // scripted server, and a short names list.
    QTemporaryDir windir;
    QTemporaryDir work;
    QTemporaryDir state;
    qputenv("WINDIR", QFile::encodeName(windir.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QDir::setCurrent(work.path());
    const QByteArray ini = "[General]\r\nserverIP=127.0.0.1\r\nserverIP1=127.0.0.1\r\n"
                           "serverIP2=pager.example.net\r\nserverPort=" +
                           QByteArray::number(server.port()) +
                           "\r\ntimeout=60\r\nmessage1=Please call the office.\r\n"
                           "message2=Meeting moved to 3 pm.\r\nmessage3=On my way.\r\n"
                           "keepHistory=1\r\n";
    const QByteArray names = "Ann Lee, 5550101\r\nBob Marsh, 5550123\r\nCarla Diaz, 5550188\r\n"
                             "Dev Patel, 5550142\r\nErin Walsh, 5550177\r\n";
    if (!server.listening() || !writeFile(windir.filePath(QStringLiteral("dazoroz.ini")), ini) ||
        !writeFile(QStringLiteral("names.txt"), names)) {
        std::fprintf(stderr, "dazoroz_screenshots: cannot prepare the files\n");
        return 1;
    }

    // Earlier pages in the history.
    {
        using dazoroz::store::Outcome;
        dazoroz::store::History history(dazoroz::store::historyFilePath());
        for (auto [name, id, message, outcome, reply] :
             {std::tuple{"Ann Lee", "5550101", "Please call the office.", Outcome::accepted,
                         "250 Message Sent Successfully"},
              {"", "5550999", "Server room too hot", Outcome::refused, "550 Invalid pager ID"},
              {"Carla Diaz", "5550188", "On my way.", Outcome::accepted,
               "250 Message Sent Successfully"}}) {
            dazoroz::store::PageRow row{0, {},          {},  "window", name, id,      message,
                                        1, "127.0.0.1", 444, false,    {},   outcome, reply};
            history.insert(row);
        }
    }

    ProgramWindows windows;
    Tmainform& main = windows.mainform();
    main.show();
    if (!waitFor([&] { return main.isVisible() && main.windowHandle()->isExposed(); }))
        return 1;

    // One name checked and selected, a standard message, Send: the greeting fills the banner.
    NamesCheckList& list = main.namesListbox();
    list.setChecked(1, true);
    list.setSelectedRow(1);
    main.pickButtonClick(2);
    main.sendButtonClick();
    if (!waitFor([&] {
            return main.sendLogic().sendState() == dazoroz::sending::ssIdle &&
                   server.connectionCount() == 1 && !server.isOpen(0);
        })) {
        std::fprintf(stderr, "dazoroz_screenshots: the page did not go through\n");
        return 1;
    }
    bool ok = grab(&main, out.filePath(QStringLiteral("main-window.png")));

    // The dialog as a user sees it with the default port (the scripted server's port has five
    // digits): first with nothing optional set, folded, then unfolded by the history that is
    // kept. Only the record in memory changes, the file is not written.
    dazoroz::store::Settings& settings = dazoroz::store::settings();
    settings.serverPort = 444;
    settings.keepHistory = false;
    TconfigForm& config = windows.configForm();
    config.show();
    ok = ok && grab(&config, out.filePath(QStringLiteral("configuration.png")));
    config.hide();
    settings.keepHistory = true;
    config.show();
    ok = ok && grab(&config, out.filePath(QStringLiteral("configuration-more.png")));
    config.hide();

    TaddNameForm& nameEntry = windows.addNameForm();
    nameEntry.setFields(QStringLiteral("Ann"), QStringLiteral("12-34"));
    nameEntry.show();
    ok = ok && grab(&nameEntry, out.filePath(QStringLiteral("name-entry.png")));
    nameEntry.hide();

    TinstructionsForm& instructions = windows.instructionsForm();
    instructions.showOrRaise();
    ok = ok && grab(&instructions, out.filePath(QStringLiteral("instructions.png")));
    instructions.hide();

    TAboutform& about = windows.Aboutform();
    about.show();
    ok = ok && grab(&about, out.filePath(QStringLiteral("about.png")));
    about.hide();

    main.historyButtonClick();
    ok = ok && grab(&main.historyForm(), out.filePath(QStringLiteral("history.png")));
    main.historyForm().hide();

    main.hide();
    return ok ? 0 : 1;
}
