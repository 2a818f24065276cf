// The login password through the configuration dialog into the desktop keyring, a real one
// (with_keyring.sh starts it), or into dazoroz.ini where there is none.

#include "store/settings.h"
#include "ui/config.h"
#include "ui/keyring.h"
#include "ui/password_keeper.h"
#include "ui_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using dazoroz::store::Settings;
using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;
using Place = PasswordKeeper::Place;

class TestKeyring : public QObject {
    Q_OBJECT
    QTemporaryDir windir_;

private slots:
    void initTestCase() { qputenv("WINDIR", QFile::encodeName(windir_.path())); }

    // The password typed on OK (none: the one shown) goes to the keyring when there is one,
    // and only then leaves the file; without one, the file keeps it (made private as the store's
    // tests show). A start after that finds it.
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
        const QString ini = windir_.filePath(QStringLiteral("dazoroz.ini"));
        writeFile(ini, file);
        DesktopKeyring desktop;
        // Two starts of the program: the first one's OK, then what the second one finds.
        for (const bool first : {true, false}) {
            Settings settings;
            dazoroz::store::loadSettings(settings);
            PasswordKeeper keeper(settings, desktop);
            TconfigForm form(settings, nullptr, &keeper);
            keeper.load();
            QTRY_VERIFY_WITH_TIMEOUT(!keeper.reading(), 30000);
            if (!first) {
                QCOMPARE(QString::fromStdString(settings.password), kept);
                QCOMPARE(keeper.place(), keyring ? Place::Keyring : Place::File);
                break;
            }
            QVERIFY(showActive(&form));
            if (!typed.isEmpty())
                child<QLineEdit>(&form, "passwordEdit")->setText(typed);
            QSignalSpy answered(&keeper, &PasswordKeeper::placeChanged);
            QTest::mouseClick(child<QPushButton>(&form, "OKButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 30000);
            QCOMPARE(keeper.place(), keyring ? Place::Keyring : Place::NoKeyring);
            QVERIFY(child<QLabel>(&form, "passwordPlaceNote")
                        ->text()
                        .contains(keyring ? "kept in the desktop keyring" : "kept in dazoroz.ini"));
            QCOMPARE(readFile(ini).contains("password="), !keyring);
        }
    }
};

QTEST_MAIN(TestKeyring)
#include "test_keyring.moc"
