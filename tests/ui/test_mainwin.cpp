// The main window without a server: layout, recipient modes, the message and its counter, the
// pager-number field, the banner, the names flows, start-up and shutdown.

#include "mainwin_fixture.h"

#include "store/settings.h"
#include "ui/about.h"
#include "ui/addname.h"
#include "ui/config.h"
#include "ui/error_report.h"
#include "ui/instructions.h"

#include <QClipboard>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

namespace {

const QByteArray kThreeNames = "Ann, 111\r\nbob, 222\r\nCy, 333\r\n";

QByteArray defaultIni() {
    return iniText("127.0.0.1", 444, 60);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Program> p;

    void start(const QByteArray& names = kThreeNames, const QByteArray& ini = defaultIni()) {
        p = std::make_unique<Program>(ini, names);
        QVERIFY(p->show());
    }
    TaddNameForm& nameForm() { return p->windows().addNameForm(); }
    QLineEdit* nameField(const char* name) {
        return nameForm().findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    // Runs `action` (which opens the name entry dialog), then types into the dialog and closes
    // it with OK or Cancel. Returns the fields as the dialog showed them.
    QStringList withNameDialog(const std::function<void()>& action, const QString& name,
                               const QString& number, bool ok) {
        QStringList prefilled;
        ModalDriver driver(&nameForm(), [&] {
            prefilled << nameField("nameEdit")->text() << nameField("pagerIDEdit")->text();
            nameField("nameEdit")->selectAll();
            QTest::keyClick(nameField("nameEdit"), Qt::Key_Delete);
            QTest::keyClicks(nameField("nameEdit"), name);
            nameField("pagerIDEdit")->selectAll();
            QTest::keyClick(nameField("pagerIDEdit"), Qt::Key_Delete);
            QTest::keyClicks(nameField("pagerIDEdit"), number);
            QTest::mouseClick(nameForm().findChild<QPushButton*>(ok ? "okButton" : "cancelButton"),
                              Qt::LeftButton);
        });
        action();
        if (driver.shown != 1)
            qWarning("the name entry dialog was shown %d times", driver.shown);
        return prefilled;
    }

private slots:
    void cleanup() { p.reset(); }

    // --- the window ---

    void windowAndStartState() {
        start();
        Tmainform& w = p->main();
        QCOMPARE(w.objectName(), QStringLiteral("mainform"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Dazoroz"));
        QCOMPARE(w.centralWidget()->size(), QSize(529, 360));
        QCOMPARE(w.centralWidget()->y(), w.menuBar()->height());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        const QPoint centre = w.screen()->availableGeometry().center();
        QVERIFY((w.frameGeometry().center() - centre).manhattanLength() <= 2);
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        // First show: names loaded unchecked, single-recipient mode, focus on the field.
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333"}));
        QVERIFY(p->singleMode());
        QCOMPARE(QApplication::focusWidget(), p->idEdit());
        QCOMPARE(p->statusWord(), QStringLiteral("NONE"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(0)"));
        QCOMPARE(p->label("messageLabel"), QString());
        QCOMPARE(p->log()->toPlainText(), QString());
        QCOMPARE(w.statusBarText(), QString());
        QCOMPARE(w.sendLogic().sendState(), dazoroz::sending::ssIdle);
        // Only the main window is shown.
        QVERIFY(!p->windows().Aboutform().isVisible());
        QVERIFY(!nameForm().isVisible());
        QVERIFY(!p->windows().configForm().isVisible());
        QVERIFY(!p->windows().instructionsForm().isVisible());
        auto* timer = w.findChild<QTimer*>("Timer1");
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 333);
    }

    void windowsMadeInTheirOrder() {
        writeFile(QStringLiteral("names.txt"), kThreeNames);
        ProgramWindows windows(dazoroz::store::settings());
        QList<QDialog*> dialogs =
            windows.mainform().findChildren<QDialog*>(Qt::FindDirectChildrenOnly);
        QStringList order;
        for (QDialog* d : dialogs)
            order << d->objectName();
        QCOMPARE(order,
                 (QStringList{"Aboutform", "addNameForm", "configForm", "instructionsForm"}));
        windows.mainform().show();
        for (QDialog* d : dialogs)
            QVERIFY(!d->isVisible());
        windows.mainform().hide();
    }

    void mnemonicsPressTheirButtons() {
        start();
        p->memo()->setPlainText("text");
        // A mnemonic presses its button (animated: the click comes a moment later).
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_M, Qt::AltModifier);
        QTRY_COMPARE(p->memo()->toPlainText(), QString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
        QTRY_COMPARE(p->statusWord(), QStringLiteral("CANCEL"));
    }

    // --- recipient modes ---

    void boxClickVersusTextClick() {
        start();
        // Text of a name in single-recipient mode: its ID replaces what was typed.
        QTest::keyClicks(p->idEdit(), "999");
        p->clickText(1);
        QCOMPARE(p->idEdit()->text(), QStringLiteral("222"));
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333"}));
        QVERIFY(p->singleMode());
        // Box of an unchecked name: checked, multi-recipient mode, field emptied.
        p->clickBox(0);
        QCOMPARE(p->rows(), (QStringList{"Ann, 111 [x]", "bob, 222", "Cy, 333"}));
        QVERIFY(p->multiMode());
        QCOMPARE(p->idEdit()->text(), QString());
        // Text in multi-recipient mode: only the selection moves.
        p->clickText(2);
        QCOMPARE(p->list().selectedRow(), 2);
        QVERIFY(p->multiMode());
        QCOMPARE(p->idEdit()->text(), QString());
        // Box of a checked name while another stays checked: mode unchanged.
        p->clickBox(2);
        p->clickBox(0);
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333 [x]"}));
        QVERIFY(p->multiMode());
        QCOMPARE(p->list().selectedRow(), 0);
        // Box of the only checked name: single mode with that name's ID.
        p->clickBox(2);
        QCOMPARE(p->list().checkedCount(), 0);
        QVERIFY(p->singleMode());
        QCOMPARE(p->idEdit()->text(), QStringLiteral("333"));
    }

    void typedBlankOnTheOnlyCheckedName() {
        start();
        p->clickBox(1);
        QVERIFY(p->multiMode());
        QTest::keyClick(p->list().viewport(), Qt::Key_Space);
        QCOMPARE(p->list().checkedCount(), 0);
        QVERIFY(p->singleMode());
        QCOMPARE(p->idEdit()->text(), QStringLiteral("222"));
        // And back: a blank checks it again.
        QTest::keyClick(p->list().viewport(), Qt::Key_Space);
        QVERIFY(p->multiMode());
        QCOMPARE(p->idEdit()->text(), QString());
    }

    void arrowKeys_data() {
        QTest::addColumn<bool>("multi");
        QTest::newRow("single-recipient mode") << false;
        QTest::newRow("multi-recipient mode") << true;
    }
    void arrowKeys() {
        QFETCH(bool, multi);
        start();
        p->clickText(0);
        if (multi)
            p->clickBox(2);
        p->list().setSelectedRow(0);
        QStringList fields;
        for (int i = 0; i < 2; ++i) {
            QTest::keyClick(p->list().viewport(), Qt::Key_Down);
            fields << p->idEdit()->text();
        }
        QTest::keyClick(p->list().viewport(), Qt::Key_Up);
        fields << p->idEdit()->text();
        QCOMPARE(p->list().selectedRow(), 1);
        if (multi) {
            QCOMPARE(fields, (QStringList{"", "", ""}));
            QVERIFY(p->multiMode());
        } else {
            QCOMPARE(fields, (QStringList{"222", "333", "222"}));
            QVERIFY(p->singleMode());
        }
    }

    void selectAllAndDeselectAll() {
        start();
        QTest::keyClicks(p->idEdit(), "42");
        p->clickBox(1);
        p->list().setSelectedRow(2);
        QSignalSpy changes(&p->list(), &NamesCheckList::stateChanged);
        p->click("checkAllButton");
        QCOMPARE(changes.size(), 3); // one per row, the checked one included
        QCOMPARE(p->rows(), (QStringList{"Ann, 111 [x]", "bob, 222 [x]", "Cy, 333 [x]"}));
        QVERIFY(p->multiMode());
        QCOMPARE(p->list().selectedRow(), 2);
        p->click("uncheckAllButton");
        QCOMPARE(p->list().checkedCount(), 0);
        QVERIFY(p->singleMode());
        QCOMPARE(p->idEdit()->text(), QString()); // the typed number is not restored
        // De-select All in single-recipient mode empties the field.
        QTest::keyClicks(p->idEdit(), "77");
        p->click("uncheckAllButton");
        QCOMPARE(p->idEdit()->text(), QString());
    }

    void selectAllOnAnEmptyList() {
        start({});
        QCOMPARE(p->list().count(), 0);
        QTest::keyClicks(p->idEdit(), "5");
        p->click("checkAllButton");
        QVERIFY(p->multiMode());
        QCOMPARE(p->idEdit()->text(), QString());
        p->click("uncheckAllButton");
        QVERIFY(p->singleMode());
    }

    void doubleClickOnABoxTogglesOnceThenEdits() {
        start();
        QStringList prefilled = withNameDialog(
            [&] { realDoubleClick(p->list().viewport(), p->boxPoint(1)); }, "x", "y", false);
        QCOMPARE(prefilled, (QStringList{"bob", "222"}));
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222 [x]", "Cy, 333"}));
        QVERIFY(p->multiMode());
    }

    // --- the message ---

    void counterCountsLineBreaksTwice() {
        start();
        QTest::keyClicks(p->memo(), "ab c");
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(4)"));
        QApplication::clipboard()->setText("x\r\ny\nz");
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("ab cx\ny\nz"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(11)"));
        // Enter, with any modifier, inserts no line break.
        for (auto mod : {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
            QTest::keyClick(p->memo(), Qt::Key_Return, mod);
        QTest::keyClick(p->memo(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("ab cx\ny\nz"));
        // Wrapping at the edge counts nothing; a character outside the BMP counts one.
        p->memo()->setPlainText(QString(80, QLatin1Char('w')) + QStringLiteral("\U0001F600"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(81)"));
        QCOMPARE(messageLength(QStringLiteral("a\r\nb\rc\u2029d")), 10);
    }

    void typingAndPastingStopAt999() {
        start();
        const QString almost(997, QLatin1Char('a'));
        p->memo()->setPlainText(almost);
        p->memo()->moveCursor(QTextCursor::End);
        QTest::keyClicks(p->memo(), "bcd");
        QCOMPARE(p->memo()->toPlainText(), almost + "bc");
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(999)"));
        // With a selection, typing replaces it.
        QTest::keyClick(p->memo(), Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClicks(p->memo(), "Z");
        QCOMPARE(p->memo()->toPlainText(), almost + "bZ");
        // A paste is cut to what fits; a line break needs room for two.
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QApplication::clipboard()->setText("\r\nxyz");
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->memo()->toPlainText(), almost + "\n");
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(999)"));
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->memo()->toPlainText(), almost.left(996) + "\nx");
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(999)"));
        // Full: nothing more goes in.
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QTest::keyClicks(p->memo(), "q");
        QCOMPARE(p->memo()->toPlainText(), almost.left(996) + "\nx");
    }

    void standardMessages() {
        const QByteArray longMessage(1200, 'L');
        start(kThreeNames, iniText("127.0.0.1", 444, 60, {"Hello", "", longMessage}));
        p->clickText(0);
        QTest::keyClicks(p->memo(), "typed");
        // An empty standard message changes nothing.
        p->click("pickButton2");
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("typed"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(5)"));
        p->click("pickButton1");
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("Hello"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(5)"));
        // Longer than the typing limit: put in whole, counted whole.
        p->click("pickButton3");
        QCOMPARE(p->memo()->toPlainText(), QString::fromLatin1(longMessage));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(1200)"));
        // The value in memory at the time of the click counts.
        dazoroz::store::settings().standardMessages[7] = "changed";
        p->click("pickButton8");
        QCOMPARE(p->memo()->toPlainText(), QStringLiteral("changed"));
        QCOMPARE(p->idEdit()->text(), QStringLiteral("111"));
        QVERIFY(p->singleMode());
    }

    void clearMessage() {
        start();
        p->clickBox(2);
        QTest::keyClicks(p->memo(), "abc");
        p->click("clearButton");
        QCOMPARE(p->memo()->toPlainText(), QString());
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(0)"));
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333 [x]"}));
        QVERIFY(p->multiMode());
        // Clear on an empty memo still shows "(0)".
        p->click("clearButton");
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(0)"));
    }

    // --- the pager-number field ---

    void pagerNumberField() {
        start();
        QLineEdit* field = p->idEdit();
        auto* edit = qobject_cast<PagerNumberEdit*>(field);
        QVERIFY(edit != nullptr);
        QSignalSpy rejected(field, &QLineEdit::inputRejected);
        QTest::keyClicks(field, "+1 (555) 0123");
        QCOMPARE(field->text(), QStringLiteral("+1 (555) 0")); // any character, at most 10
        QCOMPARE(rejected.size(), 3);
        // Overwrite mode: Insert toggles; typed characters replace the ones after the caret.
        field->setText("12345");
        field->setCursorPosition(1);
        QTest::keyClick(field, Qt::Key_Insert);
        QVERIFY(edit->overwriteMode());
        QVERIFY(field->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, field) > 1);
        QTest::keyClicks(field, "ab");
        QCOMPARE(field->text(), QStringLiteral("1ab45"));
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, "67");
        QCOMPARE(field->text(), QStringLiteral("1ab4567"));
        QTest::keyClick(field, Qt::Key_Insert);
        QVERIFY(!edit->overwriteMode());
        QCOMPARE(field->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, field), 1);
        field->setCursorPosition(0);
        QTest::keyClicks(field, "x");
        QCOMPARE(field->text(), QStringLiteral("x1ab4567"));
        // Full: in overwrite mode a character can still replace one.
        field->setText("0123456789");
        field->setCursorPosition(0);
        QTest::keyClick(field, Qt::Key_Insert);
        QTest::keyClicks(field, "9");
        QCOMPARE(field->text(), QStringLiteral("9123456789"));
        QTest::keyClick(field, Qt::Key_Insert);
        // Focus from the keyboard selects the whole text.
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p->memo());
        QTest::keyClick(p->memo(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->selectedText(), QStringLiteral("9123456789"));
        QCOMPARE(field->cursor().shape(), Qt::IBeamCursor);
        // Disabled: the window's background, greyed text.
        p->clickBox(0);
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->palette().color(QPalette::Disabled, QPalette::Base),
                 p->main().palette().color(QPalette::Active, QPalette::Window));
        QCOMPARE(field->palette().color(QPalette::Disabled, QPalette::Text),
                 field->palette().color(QPalette::Disabled, QPalette::WindowText));
    }

    // --- the banner ---

    void bannerScroll_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<int>>("lefts");
        // 4 + w reaches 529 after some steps, then 2, then onwards.
        QTest::newRow("narrow") << 500 << QList<int>{8, 12, 16, 20, 24, 28, 32, 2, 6};
        QTest::newRow("right end at the edge") << 525 << QList<int>{2, 6, 2, 6};
        QTest::newRow("as wide as the panel less 2") << 527 << QList<int>{2, 2, 2};
        QTest::newRow("wider than the panel") << 700 << QList<int>{2, 2};
    }
    void bannerScroll() {
        QFETCH(int, width);
        QFETCH(QList<int>, lefts);
        start();
        auto* label = p->child<QLabel>("messageLabel");
        // Empty: nothing moves.
        p->main().Timer1Timer();
        QCOMPARE(label->x(), 4);
        label->setText("banner");
        label->resize(width, label->height());
        QList<int> seen;
        for (qsizetype i = 0; i < lefts.size(); ++i) {
            p->main().Timer1Timer();
            seen << label->x();
        }
        QCOMPARE(seen, lefts);
    }

    // --- names: Add, Edit, Delete ---

    void addName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("rows");
        const QStringList unchanged{"Ann, 111", "bob, 222", "Cy, 333"};
        QTest::newRow("Ann / 12-34 at its sorted place")
            << "Ann"
            << "12-34" << true << QStringList{"Ann, 111", "Ann, 12-34", "bob, 222", "Cy, 333"};
        QTest::newRow("Bea") << "Bea"
                             << "9" << true
                             << QStringList{"Ann, 111", "Bea, 9", "bob, 222", "Cy, 333"};
        QTest::newRow("OK with an empty number") << "Dee"
                                                 << "" << true << unchanged;
        QTest::newRow("OK with an empty name") << ""
                                               << "5" << true << unchanged;
        QTest::newRow("a name of blanks only")
            << "   "
            << "7" << true << QStringList{"   , 7", "Ann, 111", "bob, 222", "Cy, 333"};
        QTest::newRow("Cancel") << "Dee"
                                << "4" << false << unchanged;
    }
    void addName() {
        QFETCH(QString, name);
        QFETCH(QString, number);
        QFETCH(bool, ok);
        QFETCH(QStringList, rows);
        start();
        p->clickBox(2);
        const QStringList prefilled =
            withNameDialog([&] { p->click("AddButton"); }, name, number, ok);
        QCOMPARE(prefilled, (QStringList{"", ""}));
        QStringList expected;
        for (const QString& r : rows)
            expected << r + (r == "Cy, 333" ? " [x]" : "");
        QCOMPARE(p->rows(), expected);
        QVERIFY(p->multiMode());
    }

    void editName_data() {
        QTest::addColumn<QByteArray>("names");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("prefilled");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("newNumber");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("Cy,123 pre-fills 23")
            << QByteArray("Ann, 1\r\nCy,123\r\n") << "Cy,123" << QStringList{"Cy", "23"} << "Cy"
            << "23" << true << QStringList{"Ann, 1", "Cy, 23"};
        QTest::newRow("Smith, J with 555 round-trips")
            << QByteArray("Smith, J, 555\r\nAnn, 1\r\n") << "Smith, J, 555"
            << QStringList{"Smith", "J, 555"} << "Smith"
            << "J, 555" << true << QStringList{"Ann, 1", "Smith, J, 555"};
        QTest::newRow("no comma, OK without a number changes nothing")
            << QByteArray("Just a name\r\nAnn, 1\r\n") << "Just a name"
            << QStringList{"Just a name", ""} << "Just a name"
            << "" << true << QStringList{"Ann, 1", "Just a name"};
        QTest::newRow("no comma, a number typed")
            << QByteArray("Just a name\r\nAnn, 1\r\n") << "Just a name"
            << QStringList{"Just a name", ""} << "Just a name"
            << "8" << true << QStringList{"Ann, 1", "Just a name, 8"};
        QTest::newRow("renamed to another place")
            << QByteArray("Ann, 1\r\nBob, 2\r\n") << "Ann, 1" << QStringList{"Ann", "1"} << "Zed"
            << "1" << true << QStringList{"Bob, 2", "Zed, 1"};
    }
    void editName() {
        QFETCH(QByteArray, names);
        QFETCH(QString, entry);
        QFETCH(QStringList, prefilled);
        QFETCH(QString, newName);
        QFETCH(QString, newNumber);
        QFETCH(bool, ok);
        QFETCH(QStringList, rows);
        start(names);
        p->clickText(p->rowOf(entry));
        const QStringList shown =
            withNameDialog([&] { p->click("editNameButton"); }, newName, newNumber, ok);
        QCOMPARE(shown, prefilled);
        QCOMPARE(p->rows(), rows);
    }

    void editOfACheckedEntry_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("confirmed: back unchecked") << true;
        QTest::newRow("cancelled: still checked") << false;
    }
    void editOfACheckedEntry() {
        QFETCH(bool, ok);
        start();
        p->clickBox(1);
        p->clickBox(2);
        p->clickText(1);
        withNameDialog([&] { p->click("editNameButton"); }, "bob", "222", ok);
        QCOMPARE(p->rows(),
                 (QStringList{"Ann, 111", ok ? "bob, 222" : "bob, 222 [x]", "Cy, 333 [x]"}));
        QVERIFY(p->multiMode());
    }

    void editAndDeleteWithoutSelection() {
        start();
        p->clickBox(0);
        p->list().setSelectedRow(-1);
        ModalDriver driver(&nameForm(), [&] { nameForm().reject(); });
        p->click("editNameButton");
        p->click("deleteButton");
        QCOMPARE(driver.shown, 0);
        QCOMPARE(p->rows(), (QStringList{"Ann, 111 [x]", "bob, 222", "Cy, 333"}));
    }

    void deleteOrEditOfTheOnlyCheckedName_data() {
        QTest::addColumn<bool>("edit");
        QTest::newRow("Delete") << false;
        QTest::newRow("Edit, confirmed") << true;
    }
    void deleteOrEditOfTheOnlyCheckedName() {
        QFETCH(bool, edit);
        start();
        p->clickBox(1);
        if (edit)
            withNameDialog([&] { p->click("editNameButton"); }, "bob", "223", true);
        else
            p->click("deleteButton");
        QCOMPARE(p->list().checkedCount(), 0);
        const QStringList rows = edit ? QStringList{"Ann, 111", "bob, 223", "Cy, 333"}
                                      : QStringList{"Ann, 111", "Cy, 333"};
        QCOMPARE(p->rows(), rows);
        // The mode stays until the next click on a name or De-select All.
        QVERIFY(p->multiMode());
        QCOMPARE(p->idEdit()->text(), QString());
        p->clickText(0);
        QVERIFY(p->singleMode());
        QCOMPARE(p->idEdit()->text(), QStringLiteral("111"));
    }

    // --- other windows ---

    void instructionsModelessAndRaisedOnce() {
        start();
        p->click("instructionsButton");
        TinstructionsForm& instructions = p->windows().instructionsForm();
        QVERIFY(instructions.isVisible());
        QVERIFY(!instructions.isModal());
        QVERIFY(QTest::qWaitForWindowActive(&instructions));
        // The main window stays usable; a second press brings the one window back to the front.
        QVERIFY(showActive(&p->main()));
        p->click("instructionsButton");
        QVERIFY(QTest::qWaitForWindowActive(&instructions));
    }

    void configureAndAboutAreModal_data() {
        QTest::addColumn<QString>("item");
        QTest::newRow("Configure") << "Configure1";
        QTest::newRow("About") << "About1";
    }
    void configureAndAboutAreModal() {
        QFETCH(QString, item);
        start();
        QDialog* dialog = item == "Configure1" ? static_cast<QDialog*>(&p->windows().configForm())
                                               : static_cast<QDialog*>(&p->windows().Aboutform());
        bool modal = false;
        ModalDriver driver(dialog, [&] {
            modal = QApplication::activeModalWidget() == dialog;
            dialog->done(QDialog::Rejected);
        });
        p->main().findChild<QAction*>(item)->trigger();
        QCOMPARE(driver.shown, 1);
        QVERIFY(modal);
        QVERIFY(!dialog->isVisible());
    }

    // --- shutdown ---

    void exitSavesTheNames() {
        start();
        withNameDialog([&] { p->click("AddButton"); }, "Dee", "4", true);
        p->clickText(0);
        p->click("deleteButton");
        QCOMPARE(readFile(kNamesFile), kThreeNames); // saved only when the window closes
        p->click("instructionsButton");
        p->main().findChild<QAction*>("Exit1")->trigger();
        QVERIFY(!p->main().isVisible());
        QVERIFY(!p->windows().instructionsForm().isVisible());
        QCOMPARE(readFile(kNamesFile), QByteArray("bob, 222\r\nCy, 333\r\nDee, 4\r\n"));
    }

    // --- plain text only ---

    void namesAreNeverMarkup() {
        start("<b>Ann</b>, 1\r\n<img src=x>, 2\r\n");
        QCOMPARE(p->rows(), (QStringList{"<b>Ann</b>, 1", "<img src=x>, 2"}));
        const QModelIndex first = p->list().model()->index(0, 0);
        QCOMPARE(first.data().toString(), QStringLiteral("<b>Ann</b>, 1"));
        p->clickText(0);
        QCOMPARE(p->idEdit()->text(), QStringLiteral("1"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwin.moc"
