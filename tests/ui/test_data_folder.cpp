// The user's data folder of `dazoroz --data-folder` (the desktop launcher's way to start it):
// where it is, how it is made, and a program started so that loads its names list from there.

#include "ui/data_folder.h"
#include "ui/main.h"
#include "ui/program.h"
#include "ui_test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

class TestDataFolder : public QObject {
    Q_OBJECT

private slots:
    void folderFromTheEnvironment() {
        const struct {
            const char* xdgDataHome;
            const char* home;
            const char* folder;
        } rows[] = {{"/x/data/", "/home/u", "/x/data/dazoroz"},
                    {"", "/home/u", "/home/u/.local/share/dazoroz"},
                    {"data", "/home/u", "/home/u/.local/share/dazoroz"}, // relative: ignored
                    {"", "", ""},
                    {"", "u", ""}}; // a relative HOME
        for (const auto& row : rows)
            QCOMPARE(dataFolder(row.xdgDataHome, row.home), QString::fromUtf8(row.folder));
    }

    void enterMakesWhatIsMissing_data() {
        QTest::addColumn<QString>("folder"); // under a scratch folder holding the file "file"
        QTest::addColumn<QString>("failure");
        const QString notDir = QStringLiteral(": Not a directory");
        QTest::newRow("missing, nested") << "a/b/dazoroz" << QString();
        QTest::newRow("existing") << "." << QString();
        QTest::newRow("a file on the way") << "file/dazoroz"
                                           << "cannot make %1/file/dazoroz" + notDir;
        QTest::newRow("a file itself") << "file"
                                       << "cannot enter %1/file" + notDir;
    }
    void enterMakesWhatIsMissing() {
        QFETCH(QString, folder);
        QFETCH(QString, failure);
        QTemporaryDir scratch;
        writeFile(scratch.filePath(QStringLiteral("file")), "x");
        const QString before = QDir::currentPath();
        const QString path = QDir::cleanPath(scratch.filePath(folder));
        const QString failed = enterFolder(path);
        const QString now = QDir::currentPath();
        QDir::setCurrent(before);
        QCOMPARE(failed, failure.isEmpty() ? failure : failure.arg(scratch.path()));
        QCOMPARE(now, failure.isEmpty() ? path : before);
        if (failure.isEmpty() && folder.endsWith(QStringLiteral("dazoroz")))
            QCOMPARE(QFileInfo(path).permissions() & ~QFile::ReadUser & ~QFile::WriteUser &
                         ~QFile::ExeUser,
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(enterFolder(QString()),
                 QStringLiteral("no data folder: neither XDG_DATA_HOME nor HOME names one"));
    }

    // Started with --data-folder, the program shows and saves the list of the data folder.
    void programUsesTheDataFolder() {
        QTemporaryDir home;
        QTemporaryDir windir;
        const QString folder = home.filePath(QStringLiteral(".local/share/dazoroz"));
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + "/names.txt", "Ann Lee, 5550101\r\n");
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_DATA_HOME");
        qputenv("WINDIR", QFile::encodeName(windir.path()));
        const QString before = QDir::currentPath();

        QString shownIn;
        QStringList shown;
        int argc = 2;
        char name[] = "dazoroz";
        char option[] = "--data-folder";
        char* argv[] = {name, option, nullptr};
        const int status = runProgram(argc, argv, [&](QWidget& window) {
            // The list is read when the window first shows.
            QTimer::singleShot(0, &window, [&] {
                shownIn = QDir::currentPath();
                shown = checkListRows(static_cast<Tmainform&>(window).namesListbox());
                window.close();
            });
        });
        QDir::setCurrent(before);
        QCOMPARE(status, 0);
        QCOMPARE(shownIn, folder);
        QCOMPARE(shown, QStringList{"Ann Lee, 5550101"});
        QCOMPARE(readFile(folder + "/names.txt"), QByteArray("Ann Lee, 5550101\r\n"));
        QVERIFY(!QFile::exists(QStringLiteral("names.txt")));
    }
};

QTEST_APPLESS_MAIN(TestDataFolder)
#include "test_data_folder.moc"
