// The login password through the configuration dialog into the desktop keyring, a real one
// (with_keyring.sh starts it), or into dazoroz.ini where there is none.

#include "store/settings.h"
#include "ui/config.h"
#include "ui/error_report.h"
#include "ui/keyring.h"
#include "ui/password_keeper.h"
#include "ui_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

using dazoroz::store::Settings;
using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;
using Place = PasswordKeeper::Place;

class TestKeyring : public QObject {
    Q_OBJECT

    QTemporaryDir windir_;
    QString ini() const { return windir_.filePath(QStringLiteral("dazoroz.ini")); }

    // What a window started now would find: the settings, the password, and where it is.
    std::pair<Settings, Place> restarted() {
        Settings s;
        dazoroz::store::loadSettings(s);
        DesktopKeyring keyring;
        PasswordKeeper keeper(s, keyring);
        keeper.load();
        if (!QTest::qWaitFor([&] { return !keeper.reading(); }, 30000))
            qFatal("the keyring did not answer");
        return {s, keeper.place()};
    }

private slots:
    void initTestCase() { qputenv("WINDIR", QFile::encodeName(windir_.path())); }

    // The password typed on OK (empty: the one shown is kept) goes to the keyring when there
    // is one, and only then leaves the file; without one, the file keeps it, private.
    void passwordGoesWhereItCan_data() {
        QTest::addColumn<bool>("keyring");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const QByteArray plain = "[General]\r\nloginID=ann\r\n";
        const QByteArray withPassword = plain + "password=old pw\r\n";
        QTest::newRow("round trip") << true << plain << "new pw"
                                    << "new pw";
        QTest::newRow("moved from the file") << true << withPassword << ""
                                             << "old pw";
        QTest::newRow("no keyring: kept in the file") << false << withPassword << ""
                                                      << "old pw";
        QTest::newRow("no keyring: a new one too") << false << plain << "new pw"
                                                   << "new pw";
    }
    void passwordGoesWhereItCan() {
        QFETCH(bool, keyring);
        QFETCH(QByteArray, file);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        if (keyring != qEnvironmentVariableIsSet("DAZOROZ_TEST_KEYRING"))
            QSKIP(keyring ? "needs the keyring of with_keyring.sh" : "needs no keyring");
        writeFile(ini(), file);
        const QString key = QStringLiteral("ann@127.0.0.1");

        Settings settings;
        dazoroz::store::loadSettings(settings);
        DesktopKeyring desktop;
        PasswordKeeper keeper(settings, desktop);
        TconfigForm form(settings, nullptr, &keeper);
        keeper.load();
        QVERIFY(showActive(&form));
        auto* password = child<QLineEdit>(&form, "passwordEdit");
        auto* note = child<QLabel>(&form, "passwordPlaceNote");
        QTRY_VERIFY_WITH_TIMEOUT(password->isEnabled(), 30000);
        if (!typed.isEmpty())
            password->setText(typed);
        ErrorReportCapture errors;
        QSignalSpy answered(&keeper, &PasswordKeeper::placeChanged);
        QTest::mouseClick(child<QPushButton>(&form, "OKButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 30000);
        QCOMPARE(keeper.place(), keyring ? Place::Keyring : Place::NoKeyring);
        QCOMPARE(errors.texts(), QStringList{});
        QVERIFY(
            note->text().contains(keyring ? "kept in the desktop keyring" : "kept in dazoroz.ini"));
        const QByteArray bytes = readFile(ini());
        QCOMPARE(bytes.contains("password="), !keyring);
        QVERIFY(bytes.contains("loginID=ann\r\n"));
        if (!keyring) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(ini()).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, 0600u);
        }

        const auto [again, placeAgain] = restarted();
        QCOMPARE(QString::fromStdString(again.password), kept);
        QCOMPARE(placeAgain, keyring ? Place::Keyring : Place::File);
        QCOMPARE(PasswordKeeper::keyFor(again), key);
    }
};

QTEST_MAIN(TestKeyring)
#include "test_keyring.moc"
