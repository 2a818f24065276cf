#include "store/settings.h"
#include "ui/config.h"
#include "ui/error_report.h"
#include "ui/form_parts.h"
#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

using dazoroz::store::Settings;
using dazoroz::ui::ErrorReportCapture;
using dazoroz::ui::TconfigForm;

namespace {

Settings sampleSettings() {
    Settings s;
    s.serverAddress = "pager.example";
    s.serverHistory = {"one.example", "", "three.example"};
    s.serverPort = 444;
    s.sendTimeout = 60;
    s.standardMessages = {"m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8"};
    return s;
}

bool same(const Settings& a, const Settings& b) {
    return a.serverAddress == b.serverAddress && a.serverHistory == b.serverHistory &&
           a.serverPort == b.serverPort && a.sendTimeout == b.sendTimeout &&
           a.standardMessages == b.standardMessages;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A hand-made settings file with history keys, a comment and a section of someone else's.
const QByteArray kHandMadeFile = "; written by hand\r\n"
                                 "[General]\r\n"
                                 "serverIP=pager.example\r\n"
                                 "serverIP1=one.example\r\n"
                                 "serverIP3=three.example\r\n"
                                 "serverPort=444\r\n"
                                 "message2=m2\r\n"
                                 "[Other]\r\n"
                                 "serverIP=keep\r\n";

QStringList listRows(const QComboBox* combo) {
    QStringList rows;
    for (int i = 0; i < combo->count(); ++i)
        rows << combo->itemText(i);
    return rows;
}

} // namespace

class TestConfigForm : public QObject {
    Q_OBJECT

private:
    Settings settings;
    std::unique_ptr<TconfigForm> form;
    std::unique_ptr<QTemporaryDir> windir; // WINDIR of each test: the settings file's folder

    QString iniPath() const { return windir->filePath(QStringLiteral("dazoroz.ini")); }
    // The file's contents loaded into the record the dialog shows, as at start-up.
    void loadFrom(const QByteArray& bytes) {
        writeFile(iniPath(), bytes);
        dazoroz::store::loadSettings(settings);
    }

    template <class W> W* child(const char* name) {
        auto* w = form->findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no child %s", name);
        return w;
    }
    QComboBox* combo() { return child<QComboBox>("serverIPComboBox"); }
    QLineEdit* port() { return child<QLineEdit>("serverPortEdit"); }
    QLineEdit* timeout() { return child<QLineEdit>("timeoutEdit"); }
    QLineEdit* message(int n) {
        return child<QLineEdit>(QStringLiteral("message%1Edit").arg(n).toLatin1().constData());
    }
    void clickOK() { QTest::mouseClick(child<QPushButton>("OKButton"), Qt::LeftButton); }
    void showForm() { QVERIFY(dazoroz::ui::testing::showActive(form.get())); }

private slots:
    void init() {
        windir = std::make_unique<QTemporaryDir>();
        QVERIFY(windir->isValid());
        qputenv("WINDIR", QFile::encodeName(windir->path()));
        settings = sampleSettings();
        form = std::make_unique<TconfigForm>(settings);
    }
    void cleanup() {
        form.reset();
        windir.reset();
    }

    void tabOrderStartsAtOK() {
        showForm();
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("OKButton"));
        QStringList visited;
        for (int i = 0; i < 13; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(visited, (QStringList{"OKButton", "cancelbutton", "serverPortEdit", "timeoutEdit",
                                       "serverIPComboBox", "message1Edit", "message2Edit",
                                       "message3Edit", "message4Edit", "message5Edit",
                                       "message6Edit", "message7Edit", "message8Edit"}));
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("OKButton"));
    }

    void historyRows_data() {
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("none") << QStringList{"", "", ""} << QStringList{};
        QTest::newRow("only serverIP2") << QStringList{"", "two", ""} << QStringList{"two"};
        QTest::newRow("duplicates and the current one")
            << QStringList{"dup", "dup", "pager.example"}
            << QStringList{"dup", "dup", "pager.example"};
        QTest::newRow("first and third") << QStringList{"a", "", "c"} << QStringList{"a", "c"};
    }
    void historyRows() {
        QFETCH(QStringList, history);
        QFETCH(QStringList, rows);
        for (int i = 0; i < 3; ++i)
            settings.serverHistory[static_cast<std::size_t>(i)] = history[i].toStdString();
        showForm();
        QCOMPARE(listRows(combo()), rows);
        QCOMPARE(combo()->currentText(), QStringLiteral("pager.example"));
    }

    void everyShowingRefillsFromSettings() {
        showForm();
        QCOMPARE(port()->text(), QStringLiteral("444"));
        QCOMPARE(message(8)->text(), QStringLiteral("m8"));
        QTest::keyClicks(message(3), "xyz");
        form->hide();
        settings.serverPort = 25;
        settings.serverHistory = {"", "", ""};
        settings.standardMessages[7] = "new eight";
        showForm();
        QCOMPARE(port()->text(), QStringLiteral("25"));
        QCOMPARE(message(3)->text(), QStringLiteral("m3"));
        QCOMPARE(message(8)->text(), QStringLiteral("new eight"));
        QCOMPARE(combo()->count(), 0);
    }

    void discardingLeavesSettingsUnchanged_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void discardingLeavesSettingsUnchanged() {
        QFETCH(QString, how);
        const Settings before = settings;
        showForm();
        combo()->lineEdit()->selectAll();
        QTest::keyClicks(combo()->lineEdit(), "other.example");
        port()->selectAll();
        QTest::keyClicks(port(), "25");
        QTest::keyClicks(message(1), " changed");
        if (how == "cancel")
            QTest::mouseClick(child<QPushButton>("cancelbutton"), Qt::LeftButton);
        else if (how == "esc")
            QTest::keyClick(message(1), Qt::Key_Escape);
        else
            form->close();
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int{QDialog::Rejected});
        QVERIFY(same(settings, before));
        showForm();
        QCOMPARE(combo()->currentText(), QStringLiteral("pager.example"));
        QCOMPARE(port()->text(), QStringLiteral("444"));
        QCOMPARE(message(1)->text(), QStringLiteral("m1"));
    }

    void okStoresWhatIsShown_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("timeoutText");
        QTest::addColumn<int>("portValue");
        QTest::addColumn<int>("timeoutValue");
        QTest::newRow("typical") << "10.0.0.7"
                                 << "25"
                                 << "30" << 25 << 30;
        QTest::newRow("empty server stored empty") << ""
                                                   << "444"
                                                   << "60" << 444 << 60;
        QTest::newRow("port 0 and time-out 0") << "h"
                                               << "0"
                                               << "0" << 0 << 0;
        QTest::newRow("leading zeros") << "h"
                                       << "007"
                                       << "09" << 7 << 9;
        QTest::newRow("blanks kept in the server") << " h "
                                                   << "1"
                                                   << "1" << 1 << 1;
    }
    void okStoresWhatIsShown() {
        QFETCH(QString, server);
        QFETCH(QString, portText);
        QFETCH(QString, timeoutText);
        QFETCH(int, portValue);
        QFETCH(int, timeoutValue);
        ErrorReportCapture errors;
        showForm();
        combo()->lineEdit()->clear();
        QTest::keyClicks(combo()->lineEdit(), server);
        port()->clear();
        QTest::keyClicks(port(), portText);
        timeout()->clear();
        QTest::keyClicks(timeout(), timeoutText);
        message(2)->clear(); // an empty standard message is stored empty
        QTest::keyClicks(message(5), "!");
        clickOK();
        QCOMPARE(errors.texts(), QStringList{});
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int{QDialog::Accepted});
        QCOMPARE(QString::fromStdString(settings.serverAddress), server);
        QCOMPARE(settings.serverPort, portValue);
        QCOMPARE(settings.sendTimeout, timeoutValue);
        QCOMPARE(settings.standardMessages[1], std::string());
        QCOMPARE(settings.standardMessages[4], std::string("m5!"));
        QCOMPARE(settings.serverHistory, sampleSettings().serverHistory);
    }

    void pickingAHistoryEntry() {
        showForm();
        QComboBox* c = combo();
        c->showPopup();
        QAbstractItemView* view = c->view();
        QTRY_VERIFY(view->isVisible());
        const QModelIndex third = view->model()->index(1, 0); // "three.example"
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(third).center());
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(c->currentText(), QStringLiteral("three.example"));
        clickOK();
        QCOMPARE(settings.serverAddress, std::string("three.example"));
        QCOMPARE(settings.serverHistory, sampleSettings().serverHistory);
        showForm(); // the list is the same at the next opening
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
        QCOMPARE(combo()->currentText(), QStringLiteral("three.example"));
    }

    void enterInTheServerBoxPressesOK() {
        showForm();
        combo()->lineEdit()->setFocus();
        combo()->lineEdit()->selectAll();
        QTest::keyClicks(combo()->lineEdit(), "typed.example");
        QTest::keyClick(combo()->lineEdit(), Qt::Key_Return);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int{QDialog::Accepted});
        QCOMPARE(settings.serverAddress, std::string("typed.example"));
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
    }

    void badNumber_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("storedPort");
        QTest::newRow("letters in the port") << "port"
                                             << "abc"
                                             << "'abc' is not a valid integer value." << 444;
        QTest::newRow("emptied port") << "port"
                                      << ""
                                      << "'' is not a valid integer value." << 444;
        QTest::newRow("emptied time-out") << "timeout"
                                          << ""
                                          << "'' is not a valid integer value." << 25;
        QTest::newRow("minus alone") << "timeout"
                                     << "-"
                                     << "'-' is not a valid integer value." << 25;
        QTest::newRow("over 32 bits") << "timeout"
                                      << "2147483648"
                                      << "'2147483648' is not a valid integer value." << 25;
    }
    void badNumber() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, error);
        QFETCH(int, storedPort);
        ErrorReportCapture errors;
        showForm();
        combo()->lineEdit()->setText(QStringLiteral("new.example"));
        port()->setText(QStringLiteral("25"));
        QTest::keyClicks(message(1), "?");
        // The fields refuse such text from the keyboard; put it in as a stored value would.
        dazoroz::ui::setFullText(field == "port" ? port() : timeout(), text);
        clickOK();
        QCOMPARE(errors.texts(), QStringList{error});
        QCOMPARE(errors.parents(), QList<QWidget*>{form.get()});
        QVERIFY(form->isVisible());
        QCOMPARE(settings.serverAddress, std::string("new.example")); // already replaced
        QCOMPARE(settings.serverPort, storedPort);
        QCOMPARE(settings.sendTimeout, 60);
        QCOMPARE(settings.standardMessages[0], std::string("m1"));

        // Corrected, OK goes through.
        (field == "port" ? port() : timeout())->setText(QStringLiteral("5"));
        clickOK();
        QCOMPARE(errors.texts().size(), 1);
        QVERIFY(!form->isVisible());
        QCOMPARE(settings.standardMessages[0], std::string("m1?"));
    }

    void numericFieldsTakeDigitsOnly() {
        showForm();
        port()->clear();
        QTest::keyClicks(port(), "1a2-3 45");
        QCOMPARE(port()->text(), QStringLiteral("123"));
        timeout()->clear();
        QTest::keyClicks(timeout(), "999");
        QCOMPARE(timeout()->text(), QStringLiteral("99"));
        // A pasted text goes through the same rules.
        timeout()->clear();
        timeout()->insert(QStringLiteral("x7"));
        QCOMPARE(timeout()->text(), QString());
    }

    void storedNumbersLongerThanTheMaskShowWhole() {
        settings.serverPort = 8080;
        settings.sendTimeout = -1;
        showForm();
        QCOMPARE(port()->text(), QStringLiteral("8080"));
        QCOMPARE(timeout()->text(), QStringLiteral("-1"));
        clickOK();
        QCOMPARE(settings.serverPort, 8080);
        QCOMPARE(settings.sendTimeout, -1);

        // Over the mask the user may shorten the number but not lengthen it.
        showForm();
        port()->setFocus();
        port()->end(false);
        QTest::keyClick(port(), Qt::Key_1);
        QCOMPARE(port()->text(), QStringLiteral("8080"));
        QTest::keyClick(port(), Qt::Key_Backspace);
        QCOMPARE(port()->text(), QStringLiteral("808"));
        QTest::keyClick(port(), Qt::Key_1);
        QCOMPARE(port()->text(), QStringLiteral("808"));
        QTest::keyClick(port(), Qt::Key_Backspace);
        QTest::keyClick(port(), Qt::Key_1);
        QCOMPARE(port()->text(), QStringLiteral("801"));
    }

    void typingLimitsButStoredTextWhole() {
        const std::string longServer(50, 's');
        const std::string longMessage(150, 'm');
        settings.serverAddress = longServer;
        settings.serverHistory = {std::string(40, 'h'), "", ""};
        settings.standardMessages[3] = longMessage;
        showForm();
        QCOMPARE(combo()->currentText().size(), 50);
        QCOMPARE(message(4)->text().size(), 150);
        combo()->lineEdit()->end(false);
        QTest::keyClicks(combo()->lineEdit(), "more");
        QCOMPARE(combo()->currentText().size(), 50);
        QTest::keyClicks(message(4), "more");
        QCOMPARE(message(4)->text().size(), 150);
        clickOK();
        QCOMPARE(settings.serverAddress, longServer);
        QCOMPARE(settings.standardMessages[3], longMessage);

        // Typed from scratch: 35 for the server, 100 for a message.
        showForm();
        combo()->lineEdit()->clear();
        QTest::keyClicks(combo()->lineEdit(), QString(40, QLatin1Char('x')));
        QCOMPARE(combo()->currentText(), QString(35, QLatin1Char('x')));
        message(1)->clear();
        QTest::keyClicks(message(1), QString(120, QLatin1Char('y')));
        QCOMPARE(message(1)->text(), QString(100, QLatin1Char('y')));

        // A long history entry picked from the list shows whole.
        combo()->showPopup();
        QTRY_VERIFY(combo()->view()->isVisible());
        const QModelIndex first = combo()->view()->model()->index(0, 0);
        QTest::mouseClick(combo()->view()->viewport(), Qt::LeftButton, {},
                          combo()->view()->visualRect(first).center());
        QTRY_VERIFY(!combo()->view()->isVisible());
        QCOMPARE(combo()->currentText(), QString(40, QLatin1Char('h')));
    }

    void nonAsciiRoundTrip() {
        settings.standardMessages[0] = "Grüße, Zoë 😀";
        showForm();
        QCOMPARE(message(1)->text(), QStringLiteral("Grüße, Zoë 😀"));
        clickOK();
        QCOMPARE(settings.standardMessages[0], std::string("Grüße, Zoë 😀"));
    }

    void modalRunEndsWithOK() {
        const int result = dazoroz::ui::testing::execDriven(form.get(), [this] {
            port()->setText(QStringLiteral("99"));
            clickOK();
        });
        QCOMPARE(result, int{QDialog::Accepted});
        QCOMPARE(settings.serverPort, 99);
    }

    // --- with the settings file -----------------------------------------------------------

    void discardingLeavesTheFileUnchanged_data() { discardingLeavesSettingsUnchanged_data(); }
    void discardingLeavesTheFileUnchanged() {
        QFETCH(QString, how);
        loadFrom(kHandMadeFile);
        const Settings before = settings;
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        QTest::keyClicks(message(2), "x");
        timeout()->clear();
        if (how == "cancel")
            QTest::mouseClick(child<QPushButton>("cancelbutton"), Qt::LeftButton);
        else if (how == "esc")
            QTest::keyClick(timeout(), Qt::Key_Escape);
        else
            form->close();
        QVERIFY(!form->isVisible());
        QCOMPARE(fileBytes(iniPath()), kHandMadeFile);
        QVERIFY(same(settings, before));
    }

    void firstOKWritesElevenKeysInOrder() {
        dazoroz::store::loadSettings(settings); // no file: the defaults
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        QCOMPARE(combo()->count(), 0);
        QCOMPARE(combo()->currentText(), QStringLiteral("127.0.0.1"));
        clickOK();
        QVERIFY(!form->isVisible());
        QCOMPARE(fileBytes(iniPath()), QByteArray("[General]\n"
                                                  "serverIP=127.0.0.1\n"
                                                  "serverPort=444\n"
                                                  "timeout=60\n"
                                                  "message1=Click the \"Configure\" button to set "
                                                  "these messages\n"
                                                  "message2=Call home\n"
                                                  "message3=Call the office\n"
                                                  "message4=Call me\n"
                                                  "message5=I love you\n"
                                                  "message6=See you soon\n"
                                                  "message7=Break a leg\n"
                                                  "message8=Don't call\n"));
    }

    void pickedHistoryEntryBecomesServerIPOnly() {
        loadFrom(kHandMadeFile);
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
        combo()->showPopup();
        QTRY_VERIFY(combo()->view()->isVisible());
        const QModelIndex three = combo()->view()->model()->index(1, 0);
        QTest::mouseClick(combo()->view()->viewport(), Qt::LeftButton, {},
                          combo()->view()->visualRect(three).center());
        QTRY_VERIFY(!combo()->view()->isVisible());
        clickOK();
        const QByteArray bytes = fileBytes(iniPath());
        QVERIFY(bytes.contains("\r\nserverIP=three.example\r\n"));
        QVERIFY(bytes.contains("\r\nserverIP1=one.example\r\nserverIP3=three.example\r\n"));
        QVERIFY(!bytes.contains("serverIP2"));
        QVERIFY(bytes.endsWith("[Other]\r\nserverIP=keep\r\n"));

        Settings reloaded;
        dazoroz::store::loadSettings(reloaded);
        QCOMPARE(reloaded.serverAddress, std::string("three.example"));
        QCOMPARE(reloaded.serverHistory,
                 (std::array<std::string, 3>{"one.example", "", "three.example"}));
    }

    void emptyServerAndZerosStoredAsShown() {
        loadFrom(kHandMadeFile);
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        combo()->lineEdit()->clear();
        port()->clear();
        QTest::keyClicks(port(), "0");
        timeout()->clear();
        QTest::keyClicks(timeout(), "0");
        message(3)->clear();
        clickOK();
        QVERIFY(!form->isVisible());
        Settings reloaded;
        dazoroz::store::loadSettings(reloaded);
        QCOMPARE(reloaded.serverAddress, std::string()); // not the default
        QCOMPARE(reloaded.serverPort, 0);
        QCOMPARE(reloaded.sendTimeout, 0);
        QCOMPARE(reloaded.standardMessages[2], std::string());
        QVERIFY(same(reloaded, settings));
    }

    void badNumberWritesNothing() {
        loadFrom(kHandMadeFile);
        ErrorReportCapture errors;
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        combo()->lineEdit()->setText(QStringLiteral("new.example"));
        timeout()->clear();
        clickOK();
        QCOMPARE(errors.texts(), QStringList{"'' is not a valid integer value."});
        QVERIFY(form->isVisible());
        QCOMPARE(fileBytes(iniPath()), kHandMadeFile);
        QCOMPARE(settings.serverAddress, std::string("new.example"));
    }

    void failedWrite_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("settings file is a folder") << "folder";
        QTest::newRow("settings folder missing") << "nofolder";
        QTest::newRow("write-protected file") << "readonly";
    }
    void failedWrite() {
        QFETCH(QString, how);
        if (how == "folder") {
            QVERIFY(QDir(windir->path()).mkdir(QStringLiteral("dazoroz.ini")));
        } else if (how == "nofolder") {
            qputenv("WINDIR", QFile::encodeName(windir->filePath(QStringLiteral("missing"))));
        } else {
            if (::geteuid() == 0)
                QSKIP("file permissions do not stop root");
            writeFile(iniPath(), kHandMadeFile);
            QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::ReadGroup);
        }
        dazoroz::store::loadSettings(settings);
        const Settings before = settings;
        ErrorReportCapture errors;
        QVERIFY(dazoroz::ui::testing::showActive(form.get()));
        port()->clear();
        QTest::keyClicks(port(), "25");
        QTest::keyClicks(message(8), "!");
        clickOK();
        QCOMPARE(errors.texts(), QStringList{"Unable to write to dazoroz.ini."});
        QCOMPARE(errors.parents(), QList<QWidget*>{form.get()});
        QVERIFY(form->isVisible());
        // The new values hold for this run, even after Cancel.
        QCOMPARE(settings.serverPort, 25);
        QCOMPARE(settings.standardMessages[7], before.standardMessages[7] + "!");
        QTest::mouseClick(child<QPushButton>("cancelbutton"), Qt::LeftButton);
        QVERIFY(!form->isVisible());
        QCOMPARE(settings.serverPort, 25);
        if (how == "readonly")
            QCOMPARE(fileBytes(iniPath()), kHandMadeFile);
        else
            QVERIFY(!QFileInfo(iniPath()).isFile());
    }
};

QTEST_MAIN(TestConfigForm)
#include "test_config.moc"
