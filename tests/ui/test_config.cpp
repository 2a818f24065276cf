#include "store/settings.h"
#include "ui/config.h"
#include "ui/error_report.h"
#include "ui/fonts.h"
#include "ui/form_parts.h"
#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

using dazoroz::store::Settings;
using dazoroz::ui::ErrorReportCapture;
using dazoroz::ui::TconfigForm;
using namespace dazoroz::ui::testing;

namespace {

bool same(const Settings& a, const Settings& b) {
    return a.serverAddress == b.serverAddress && a.serverHistory == b.serverHistory &&
           a.serverPort == b.serverPort && a.sendTimeout == b.sendTimeout &&
           a.standardMessages == b.standardMessages && a.loginID == b.loginID &&
           a.password == b.password && a.useTLS == b.useTLS && a.tlsCAFile == b.tlsCAFile &&
           a.keepHistory == b.keepHistory && a.failover == b.failover;
}

Settings fromFile() {
    Settings s;
    dazoroz::store::loadSettings(s);
    return s;
}

const std::string kMessage1 = "Grüße, Zoë 😀";
const std::array<std::string, 3> kHistory = {"one.example", "", "three.example"};

// A hand-made settings file with a gap in the history keys, a comment and someone else's
// section.
const QByteArray kFile = "; written by hand\r\n[General]\r\nserverIP=pager.example\r\n"
                         "serverIP1=one.example\r\nserverIP3=three.example\r\nserverPort=444\r\n"
                         "timeout=60\r\nmessage1=" +
                         QByteArray::fromStdString(kMessage1) +
                         "\r\nmessage2=m2\r\n[Other]\r\nserverIP=keep\r\n";

QStringList listRows(const QComboBox* combo) {
    QStringList rows;
    for (int i = 0; i < combo->count(); ++i)
        rows << combo->itemText(i);
    return rows;
}

void retype(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

} // namespace

// Every test starts from the hand-made file in WINDIR, loaded as at start-up.
class TestConfigForm : public QObject {
    Q_OBJECT

private:
    Settings settings;
    std::unique_ptr<TconfigForm> form;
    std::unique_ptr<QTemporaryDir> windir;
    QList<std::pair<const char*, QByteArray>> savedEnvironment;

    // Without WINDIR: the user's own settings under `configHome` (empty: none to be had).
    void withoutWindir(const QString& configHome) {
        for (const char* name : {"WINDIR", "XDG_CONFIG_HOME", "HOME"})
            savedEnvironment.append({name, qgetenv(name)});
        qunsetenv("WINDIR");
        qunsetenv("HOME");
        configHome.isEmpty() ? qunsetenv("XDG_CONFIG_HOME")
                             : qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    }

    QString iniPath() const { return windir->filePath(QStringLiteral("dazoroz.ini")); }
    QComboBox* combo() { return child<QComboBox>(form.get(), "serverIPComboBox"); }
    QLineEdit* server() { return combo()->lineEdit(); }
    QLineEdit* port() { return child<QLineEdit>(form.get(), "serverPortEdit"); }
    QLineEdit* timeout() { return child<QLineEdit>(form.get(), "timeoutEdit"); }
    QLineEdit* login() { return child<QLineEdit>(form.get(), "loginIDEdit"); }
    QLineEdit* password() { return child<QLineEdit>(form.get(), "passwordEdit"); }
    QLineEdit* message(int n) {
        const QByteArray name = "message" + QByteArray::number(n) + "Edit";
        return child<QLineEdit>(form.get(), name.constData());
    }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(form.get(), button), Qt::LeftButton);
    }
    void clickOK() { click("OKButton"); }
    QPushButton* okButton() { return child<QPushButton>(form.get(), "OKButton"); }
    void showForm() { QVERIFY(showActive(form.get())); }
    void pickHistoryRow(int row) {
        combo()->showPopup();
        QAbstractItemView* view = combo()->view();
        QTRY_VERIFY(view->isVisible());
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_VERIFY(!view->isVisible());
    }

private slots:
    void initTestCase() { dazoroz::ui::applyApplicationFont(); } // the windows' own font
    void init() {
        windir = std::make_unique<QTemporaryDir>();
        QVERIFY(windir->isValid());
        qputenv("WINDIR", QFile::encodeName(windir->path()));
        writeFile(iniPath(), kFile);
        settings = fromFile();
        form = std::make_unique<TconfigForm>(settings);
    }
    void cleanup() {
        form.reset();
        windir.reset();
        for (const auto& [name, value] : savedEnvironment)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        savedEnvironment.clear();
    }

    // The specified controls as they were, then the toggle, then the optional settings when
    // they are unfolded (the CA file only with TLS).
    void tabOrderStartsAtOK_data() {
        QTest::addColumn<bool>("unfold");
        QTest::addColumn<QStringList>("optional");
        QTest::newRow("folded") << false << QStringList{};
        QTest::newRow("unfolded") << true << QStringList{"loginIDEdit",      "passwordEdit",
                                                         "useTLSCheckBox",   "keepHistoryCheckBox",
                                                         "messageLimitEdit", "useDataCheckBox",
                                                         "failoverCheckBox"};
    }
    void tabOrderStartsAtOK() {
        QFETCH(bool, unfold);
        QFETCH(QStringList, optional);
        showForm();
        if (unfold)
            click("moreSettingsButton");
        okButton()->setFocus();
        const QStringList want =
            QStringList{"OKButton",         "cancelbutton",      "serverPortEdit", "timeoutEdit",
                        "serverIPComboBox", "message1Edit",      "message2Edit",   "message3Edit",
                        "message4Edit",     "message5Edit",      "message6Edit",   "message7Edit",
                        "message8Edit",     "moreSettingsButton"} +
            optional + QStringList{"OKButton"};
        QStringList visited;
        for (qsizetype i = 0; i < want.size(); ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(visited, want);
    }

    // The dialog opens at its own size with every specified control in its place (the port
    // field two digits wider, the label after it moved as much); the optional settings unfold
    // beside them, by the toggle or when one is set, and nothing specified moves.
    void specifiedControlsKeepTheirPlaces_data() {
        QTest::addColumn<QString>("set");
        QTest::addColumn<int>("toggles");
        QTest::addColumn<bool>("unfolded");
        QTest::newRow("nothing optional set") << "" << 0 << false;
        QTest::newRow("a login set") << "login" << 0 << true;
        QTest::newRow("TLS set") << "tls" << 0 << true;
        QTest::newRow("unfolded by the toggle") << "" << 1 << true;
        QTest::newRow("and folded again") << "" << 2 << false;
        QTest::newRow("a login set, folded by the toggle") << "login" << 1 << false;
    }
    void specifiedControlsKeepTheirPlaces() {
        QFETCH(QString, set);
        QFETCH(int, toggles);
        QFETCH(bool, unfolded);
        settings.loginID = set == "login" ? "ann" : "";
        settings.useTLS = set == "tls";
        showForm();
        for (int i = 0; i < toggles; ++i)
            click("moreSettingsButton");
        const QList<std::pair<const char*, QRect>> places{
            {"Bevel1", {12, 12, 273, 85}},
            {"serverIPlabel", {24, 24, 88, 13}},
            {"serverIPComboBox", {120, 20, 157, 21}},
            {"portLabel", {24, 48, 22, 13}},
            {"serverPortEdit", {120, 44, 41, 21}},
            {"defaultLabel", {164, 48, 62, 13}},
            {"msgSendLabel", {24, 72, 89, 13}},
            {"timeoutEdit", {120, 68, 25, 21}},
            {"Label10", {148, 72, 46, 13}},
            {"Label5", {12, 106, 96, 13}},
            {"Label9", {4, 268, 6, 13}},
            {"message1Edit", {16, 124, 269, 21}},
            {"message8Edit", {16, 264, 269, 21}},
            {"OKButton", {124, 292, 75, 25}},
            {"cancelbutton", {208, 292, 75, 25}},
            {"moreSettingsButton", {12, 292, 100, 25}}};
        for (const auto& [name, rect] : places)
            QCOMPARE(child<QWidget>(form.get(), name)->geometry(), rect);
        auto* box = child<QWidget>(form.get(), "optionalBox");
        QCOMPARE(box->isVisible(), unfolded);
        QCOMPARE(child<QPushButton>(form.get(), "moreSettingsButton")->text(),
                 unfolded ? QStringLiteral("Fewer settings") : QStringLiteral("More settings"));
        if (unfolded) {
            QVERIFY(form->height() >= 320);
            QVERIFY(box->geometry().left() >= 285 && form->rect().contains(box->geometry()));
        } else {
            QCOMPARE(form->size(), QSize(296, 320));
        }
        QCOMPARE(password()->echoMode(), QLineEdit::Password);
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
        for (std::size_t i = 0; i < 3; ++i)
            settings.serverHistory[i] = history[static_cast<qsizetype>(i)].toStdString();
        showForm();
        QCOMPARE(listRows(combo()), rows);
        QCOMPARE(combo()->currentText(), QStringLiteral("pager.example"));
    }

    void everyShowingRefillsFromSettings() {
        showForm();
        QCOMPARE(port()->text(), QStringLiteral("444"));
        QTest::keyClicks(message(3), "xyz");
        form->hide();
        settings.serverPort = 25;
        settings.serverHistory = {"", "", ""};
        settings.standardMessages[7] = "new eight";
        showForm();
        QCOMPARE(port()->text(), QStringLiteral("25"));
        QCOMPARE(message(3)->text(), QString::fromStdString(settings.standardMessages[2]));
        QCOMPARE(message(8)->text(), QStringLiteral("new eight"));
        QCOMPARE(combo()->count(), 0);
    }

    void discardingChangesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void discardingChangesNothing() {
        QFETCH(QString, how);
        const Settings before = settings;
        showForm();
        server()->selectAll();
        QTest::keyClicks(server(), "other.example");
        retype(port(), "25");
        QTest::keyClicks(message(1), " changed");
        QTest::keyClicks(login(), "ann");
        QTest::keyClicks(password(), "pw");
        timeout()->clear();
        if (how == "cancel")
            click("cancelbutton");
        else if (how == "esc")
            QTest::keyClick(timeout(), Qt::Key_Escape);
        else
            form->close();
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int{QDialog::Rejected});
        QVERIFY(same(settings, before));
        QCOMPARE(readFile(iniPath()), kFile);
        showForm();
        QCOMPARE(combo()->currentText(), QStringLiteral("pager.example"));
        QCOMPARE(port()->text(), QStringLiteral("444"));
        QCOMPARE(timeout()->text(), QStringLiteral("60"));
        QCOMPARE(message(1)->text(), QString::fromStdString(kMessage1));
        QCOMPARE(login()->text() + password()->text(), QString());
    }

    // The login is stored with the rest (the file's keys and modes are the store's own tests').
    void okStoresTheLogin() {
        showForm();
        QTest::keyClicks(login(), "ann");
        QTest::keyClicks(password(), "pa ss");
        clickOK();
        QCOMPARE(settings.loginID, std::string("ann"));
        QCOMPARE(settings.password, std::string("pa ss"));
        QVERIFY(same(fromFile(), settings));
        showForm();
        QCOMPARE(password()->text(), QStringLiteral("pa ss"));
    }

    // TLS and its CA file: the file only with TLS, and the login note says how the password
    // travels. The history is turned on below them.
    void okStoresTls() {
        auto* tls = child<QCheckBox>(form.get(), "useTLSCheckBox");
        auto* caFile = child<QLineEdit>(form.get(), "tlsCAFileEdit");
        auto* note = child<QLabel>(form.get(), "loginNote");
        showForm();
        QVERIFY(!tls->isChecked() && !caFile->isEnabled());
        QVERIFY(note->text().endsWith("travels unencrypted."));
        QTest::mouseClick(tls, Qt::LeftButton, {}, QPoint(6, tls->height() / 2));
        QVERIFY(caFile->isEnabled() &&
                child<QPushButton>(form.get(), "tlsCAFileButton")->isEnabled());
        QVERIFY(note->text().endsWith("travels encrypted (TLS)."));
        QTest::keyClicks(caFile, "/etc/our ca.pem");
        child<QCheckBox>(form.get(), "keepHistoryCheckBox")->click();
        child<QCheckBox>(form.get(), "failoverCheckBox")->click();
        clickOK();
        QVERIFY(settings.useTLS && settings.keepHistory && settings.failover);
        QCOMPARE(settings.tlsCAFile, std::string("/etc/our ca.pem"));
        QVERIFY(
            readFile(iniPath()).contains("\r\nmessage8=Don't call\r\nuseTLS=1\r\ntlsCAFile=/etc/"
                                         "our ca.pem\r\nkeepHistory=1\r\nfailover=1\r\n[Other]"));
        QVERIFY(same(fromFile(), settings));
        settings.useTLS = false;
        showForm();
        QVERIFY(!tls->isChecked() && !caFile->isEnabled());
        QCOMPARE(caFile->text(), QStringLiteral("/etc/our ca.pem"));
    }

    void okStoresWhatIsShown_data() {
        QTest::addColumn<QString>("serverText");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("timeoutText");
        QTest::addColumn<int>("portValue");
        QTest::addColumn<int>("timeoutValue");
        QTest::addColumn<bool>("byEnter"); // Enter in the server box instead of a click on OK
        const auto row = [](const char* tag, const char* server, const char* portText,
                            const char* timeoutText, int portValue, int timeoutValue, bool enter) {
            QTest::newRow(tag) << QString::fromUtf8(server) << QString::fromUtf8(portText)
                               << QString::fromUtf8(timeoutText) << portValue << timeoutValue
                               << enter;
        };
        row("typical", "10.0.0.7", "25", "30", 25, 30, false);
        row("empty server stored empty", "", "444", "60", 444, 60, false);
        row("port 0 and time-out 0", "h", "0", "0", 0, 0, false);
        row("leading zeros", "h", "007", "09", 7, 9, false);
        row("blanks kept in the server", " h ", "1", "1", 1, 1, false);
        row("Enter in the server box", "typed.example", "1", "2", 1, 2, true);
        row("longest IPv6 address",
            "[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255%interface15char]", "1", "2", 1, 2,
            false);
    }
    void okStoresWhatIsShown() {
        QFETCH(QString, serverText);
        QFETCH(QString, portText);
        QFETCH(QString, timeoutText);
        QFETCH(int, portValue);
        QFETCH(int, timeoutValue);
        QFETCH(bool, byEnter);
        const std::string message5 = settings.standardMessages[4];
        ErrorReportCapture errors;
        showForm();
        retype(port(), portText);
        retype(timeout(), timeoutText);
        message(2)->clear(); // an empty standard message is stored empty
        QTest::keyClicks(message(5), "!");
        server()->setFocus();
        retype(server(), serverText);
        if (byEnter)
            QTest::keyClick(server(), Qt::Key_Return);
        else
            clickOK();
        QCOMPARE(errors.texts(), QStringList{});
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int{QDialog::Accepted});
        QCOMPARE(QString::fromStdString(settings.serverAddress), serverText);
        QCOMPARE(settings.serverPort, portValue);
        QCOMPARE(settings.sendTimeout, timeoutValue);
        QCOMPARE(settings.standardMessages[0], kMessage1);
        QCOMPARE(settings.standardMessages[1], std::string());
        QCOMPARE(settings.standardMessages[4], message5 + "!");
        // The typed text never joins the history, in the list or the file.
        QCOMPARE(settings.serverHistory, kHistory);
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
        QVERIFY(same(fromFile(), settings));
    }

    void pickedHistoryEntryBecomesServerIPOnly() {
        showForm();
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
        pickHistoryRow(1);
        QCOMPARE(combo()->currentText(), QStringLiteral("three.example"));
        clickOK();
        QCOMPARE(settings.serverAddress, std::string("three.example"));
        const QByteArray bytes = readFile(iniPath());
        QVERIFY(bytes.contains("\r\nserverIP=three.example\r\n"));
        QVERIFY(bytes.contains("\r\nserverIP1=one.example\r\nserverIP3=three.example\r\n"));
        QVERIFY(!bytes.contains("serverIP2"));
        QVERIFY(bytes.endsWith("[Other]\r\nserverIP=keep\r\n"));
        QCOMPARE(fromFile().serverHistory, kHistory);
        showForm(); // the list is the same at the next opening
        QCOMPARE(listRows(combo()), (QStringList{"one.example", "three.example"}));
        QCOMPARE(combo()->currentText(), QStringLiteral("three.example"));
    }

    void badNumber_data() {
        QTest::addColumn<bool>("inPort");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("storedPort");
        QTest::addColumn<QString>("error");
        const QString notInteger = QStringLiteral("is not a valid integer value");
        QTest::newRow("letters in the port") << true << "abc" << 444 << notInteger;
        QTest::newRow("emptied port") << true << "" << 444 << notInteger;
        QTest::newRow("port over 65535") << true << "65536" << 444 << "is not a valid port number";
        QTest::newRow("emptied time-out") << false << "" << 25 << notInteger;
        QTest::newRow("minus alone") << false << "-" << 25 << notInteger;
        QTest::newRow("over 32 bits") << false << "2147483648" << 25 << notInteger;
    }
    void badNumber() {
        QFETCH(bool, inPort);
        QFETCH(QString, text);
        QFETCH(int, storedPort);
        QFETCH(QString, error);
        QLineEdit* field = inPort ? port() : timeout();
        ErrorReportCapture errors;
        showForm();
        server()->setText(QStringLiteral("new.example"));
        port()->setText(QStringLiteral("25"));
        QTest::keyClicks(message(1), "?");
        // The fields refuse such text from the keyboard; put it in as a stored value would.
        dazoroz::ui::setFullText(field, text);
        clickOK();
        QCOMPARE(errors.texts(), QStringList{"'" + text + "' " + error + "."});
        QCOMPARE(errors.parents(), QList<QWidget*>{form.get()});
        QVERIFY(form->isVisible());
        QCOMPARE(settings.serverAddress, std::string("new.example")); // already replaced
        QCOMPARE(settings.serverPort, storedPort);
        QCOMPARE(settings.sendTimeout, 60);
        QCOMPARE(settings.standardMessages[0], kMessage1);
        QCOMPARE(readFile(iniPath()), kFile);

        // Corrected, OK goes through.
        field->setText(QStringLiteral("5"));
        clickOK();
        QCOMPARE(errors.texts().size(), 1);
        QVERIFY(!form->isVisible());
        QCOMPARE(settings.standardMessages[0], kMessage1 + "?");
    }

    // A login ID goes out as one word: no blank can be typed, and a stored one stops OK.
    void loginIDWithABlank() {
        ErrorReportCapture errors;
        showForm();
        QTest::keyClicks(login(), "a b");
        QCOMPARE(login()->text(), QStringLiteral("ab"));
        dazoroz::ui::setFullText(login(), QStringLiteral("a b"));
        clickOK();
        QCOMPARE(errors.texts(),
                 QStringList{"The login ID may not hold blanks or control characters."});
        QCOMPARE(readFile(iniPath()), kFile);
    }

    void numericFieldsTakeDigitsOnly() {
        showForm();
        retype(port(), "1a2-3 4567");
        QCOMPARE(port()->text(), QStringLiteral("12345"));
        // The widest port is seen whole (2 pixels of margin on each side of the text).
        QStyleOptionFrame frame;
        frame.initFrom(port());
        frame.lineWidth =
            port()->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, port());
        const QRect text =
            port()->style()->subElementRect(QStyle::SE_LineEditContents, &frame, port());
        QVERIFY2(port()->fontMetrics().horizontalAdvance(QStringLiteral("65535")) <=
                     text.width() - 4,
                 qPrintable(QString::number(text.width())));
        // A pasted text goes through the same rules.
        timeout()->clear();
        timeout()->insert(QStringLiteral("x7"));
        QCOMPARE(timeout()->text(), QString());
    }

    // A stored value one character over the field's typing limit (a port of -12345 written by
    // hand): shown whole, stored whole by OK; the user may shorten it but not lengthen it.
    void storedTextOverTheTypingLimit_data() {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("stored");
        QTest::newRow("server: 63") << QByteArray("serverIPComboBox") << QString(64, u's');
        QTest::newRow("port: 5 digits") << QByteArray("serverPortEdit") << QStringLiteral("-12345");
        QTest::newRow("time-out: 2 digits") << QByteArray("timeoutEdit") << QStringLiteral("123");
        QTest::newRow("message: 100") << QByteArray("message4Edit") << QString(101, u'm');
    }
    void storedTextOverTheTypingLimit() {
        QFETCH(QByteArray, field);
        QFETCH(QString, stored);
        const bool isServer = field == "serverIPComboBox";
        const bool isTimeout = field == "timeoutEdit";
        QLineEdit* edit = isServer ? server() : child<QLineEdit>(form.get(), field.constData());
        settings.serverPort = field == "serverPortEdit" ? stored.toInt() : 444;
        settings.sendTimeout = isTimeout ? stored.toInt() : -1;
        (isServer ? settings.serverAddress : settings.standardMessages[3]) = stored.toStdString();
        settings.serverHistory = {std::string(40, 'h'), "", ""};
        showForm();
        clickOK();
        showForm(); // what OK stored
        QCOMPARE(edit->text(), stored);
        QCOMPARE(timeout()->text(), isTimeout ? stored : "-1"); // a negative time-out too
        edit->setFocus();
        edit->end(false);
        QList<qsizetype> sizes;
        for (Qt::Key key :
             {Qt::Key_7, Qt::Key_Backspace, Qt::Key_7, Qt::Key_Backspace, Qt::Key_7}) {
            QTest::keyClick(edit, key);
            sizes << edit->text().size();
        }
        const qsizetype limit = stored.size() - 1;
        QCOMPARE(sizes, (QList<qsizetype>{limit + 1, limit, limit, limit - 1, limit}));
        retype(edit, QString(limit + 5, u'7'));
        QCOMPARE(edit->text(), QString(limit, u'7'));
        if (isServer) { // a long history entry picked from the list shows whole
            pickHistoryRow(0);
            QCOMPARE(edit->text(), QString(40, u'h'));
        }
    }

    void failedWrite_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("settings file is a folder") << "folder";
        QTest::newRow("settings folder missing") << "nofolder";
        QTest::newRow("write-protected file") << "readonly";
        QTest::newRow("no WINDIR and no home folder") << "nohome";
    }
    void failedWrite() {
        QFETCH(QString, how);
        const QString missing = windir->filePath(QStringLiteral("missing"));
        if (how == "readonly") {
            if (::geteuid() == 0)
                QSKIP("file permissions do not stop root");
            QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::ReadGroup);
        } else {
            QFile::remove(iniPath());
            if (how == "folder")
                QVERIFY(QDir(windir->path()).mkdir(QStringLiteral("dazoroz.ini")));
            else if (how == "nohome")
                withoutWindir({});
            else
                qputenv("WINDIR", QFile::encodeName(missing));
            settings = fromFile();
        }
        const Settings before = settings;
        ErrorReportCapture errors;
        showForm();
        retype(port(), "25");
        QTest::keyClicks(message(8), "!");
        clickOK();
        QCOMPARE(errors.texts(), QStringList{"Unable to write to dazoroz.ini."});
        QCOMPARE(errors.parents(), QList<QWidget*>{form.get()});
        QVERIFY(form->isVisible());
        // The new values hold for this run, even after Cancel.
        QCOMPARE(settings.standardMessages[7], before.standardMessages[7] + "!");
        click("cancelbutton");
        QVERIFY(!form->isVisible());
        QCOMPARE(settings.serverPort, 25);
        if (how == "readonly")
            QCOMPARE(readFile(iniPath()), kFile);
        else
            QVERIFY(!QFileInfo(iniPath()).isFile() && !QFileInfo::exists(missing));
    }

    // Without WINDIR, OK writes the user's own file.
    void okWritesTheUsersOwnFile() {
        withoutWindir(windir->filePath(QStringLiteral("config")));
        showForm();
        retype(port(), "25");
        clickOK();
        QVERIFY(!form->isVisible());
        QVERIFY(readFile(windir->filePath(QStringLiteral("config/dazoroz/dazoroz.ini")))
                    .contains("serverPort=25\n"));
        Settings want = settings;
        want.serverHistory = {}; // they came from WINDIR's file
        QVERIFY(same(fromFile(), want));
        QCOMPARE(readFile(iniPath()), kFile); // WINDIR's file is not the one any more
    }
};

QTEST_MAIN(TestConfigForm)
#include "test_config.moc"
