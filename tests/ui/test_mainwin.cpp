// The main window without a server: start-up, recipient modes, the message and its counter, the
// pager-number field, the banner, the names flows, the other windows and shutdown.

#include "mainwin_fixture.h"

#include "store/settings.h"
#include "ui/about.h"
#include "ui/addname.h"
#include "ui/config.h"
#include "ui/error_report.h"
#include "ui/instructions.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QScreen>
#include <QSignalSpy>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

namespace {

const QByteArray kThreeNames = "Ann, 111\r\nbob, 222\r\nCy, 333\r\n";

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Program> p;

    void start(const QByteArray& names = kThreeNames,
               const QByteArray& ini = iniText("127.0.0.1", 444, 60)) {
        p = std::make_unique<Program>(ini, names);
        QVERIFY(p->show());
    }
    TaddNameForm& nameForm() { return p->windows().addNameForm(); }
    // Runs `action` (which opens the name entry dialog), then types into the dialog and closes
    // it with OK or Cancel. Returns the fields as the dialog showed them, at each showing.
    QStringList withNameDialog(const std::function<void()>& action, const QString& name,
                               const QString& number, bool ok) {
        QStringList prefilled;
        ModalDriver driver(&nameForm(), [&] {
            const std::pair<const char*, QString> fields[] = {{"nameEdit", name},
                                                              {"pagerIDEdit", number}};
            for (const auto& [field, text] : fields) {
                auto* edit = child<QLineEdit>(&nameForm(), field);
                prefilled << edit->text();
                edit->selectAll();
                QTest::keyClick(edit, Qt::Key_Delete);
                QTest::keyClicks(edit, text);
            }
            QTest::mouseClick(child<QPushButton>(&nameForm(), ok ? "okButton" : "cancelButton"),
                              Qt::LeftButton);
        });
        action();
        return prefilled;
    }

private slots:
    void cleanup() { p.reset(); }

    void windowAndStartState() {
        start();
        Tmainform& w = p->main();
        QCOMPARE(w.minimumSize(), w.maximumSize());
        const QPoint centre = w.screen()->availableGeometry().center();
        QVERIFY((w.frameGeometry().center() - centre).manhattanLength() <= 2);
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        // First show: names loaded unchecked, single-recipient mode, focus on the field.
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333"}));
        QCOMPARE(p->mode(), "single");
        QCOMPARE(QApplication::focusWidget(), p->idEdit());
        QCOMPARE(w.sendLogic().sendState(), dazoroz::sending::ssIdle);
        QVERIFY(w.findChild<QTimer*>("Timer1")->isActive());
        // The other windows were made in their order after the main one, and stay hidden.
        QStringList order;
        for (QDialog* d : w.findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
            order << d->objectName();
            QVERIFY(!d->isVisible());
        }
        QCOMPARE(order,
                 (QStringList{"Aboutform", "addNameForm", "configForm", "instructionsForm"}));
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
        QCOMPARE(p->mode(), "single 222");
        // Box of an unchecked name: checked, multi-recipient mode, field emptied.
        p->clickBox(0);
        QCOMPARE(p->rows(), (QStringList{"Ann, 111 [x]", "bob, 222", "Cy, 333"}));
        QCOMPARE(p->mode(), "multi");
        // Text in multi-recipient mode: only the selection moves.
        p->clickText(2);
        QCOMPARE(p->list().selectedRow(), 2);
        QCOMPARE(p->mode(), "multi");
        // Box of a checked name while another stays checked: mode unchanged.
        p->clickBox(2);
        p->clickBox(0);
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333 [x]"}));
        QCOMPARE(p->mode(), "multi");
        QCOMPARE(p->list().selectedRow(), 0);
        // Box of the only checked name: single mode with that name's ID.
        p->clickBox(2);
        QCOMPARE(p->list().checkedCount(), 0);
        QCOMPARE(p->mode(), "single 333");
    }

    void typedBlankOnTheOnlyCheckedName() {
        start();
        p->clickBox(1);
        QTest::keyClick(p->list().viewport(), Qt::Key_Space);
        QCOMPARE(p->list().checkedCount(), 0);
        QCOMPARE(p->mode(), "single 222");
        // And back: a blank checks it again.
        QTest::keyClick(p->list().viewport(), Qt::Key_Space);
        QCOMPARE(p->mode(), "multi");
    }

    void arrowKeys_data() {
        QTest::addColumn<bool>("multi");
        QTest::addColumn<QStringList>("modes");
        QTest::newRow("single-recipient mode")
            << false << QStringList{"single 222", "single 333", "single 222"};
        QTest::newRow("multi-recipient mode") << true << QStringList{"multi", "multi", "multi"};
    }
    void arrowKeys() {
        QFETCH(bool, multi);
        QFETCH(QStringList, modes);
        start();
        p->clickText(0);
        if (multi)
            p->clickBox(2);
        p->list().setSelectedRow(0);
        QStringList seen;
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(p->list().viewport(), key);
            seen << p->mode();
        }
        QCOMPARE(seen, modes);
        QCOMPARE(p->list().selectedRow(), 1);
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
        QCOMPARE(p->mode(), "multi");
        QCOMPARE(p->list().selectedRow(), 2);
        p->click("uncheckAllButton");
        QCOMPARE(p->list().checkedCount(), 0);
        QCOMPARE(p->mode(), "single"); // the typed number is not restored
        // De-select All in single-recipient mode empties the field.
        QTest::keyClicks(p->idEdit(), "77");
        p->click("uncheckAllButton");
        QCOMPARE(p->mode(), "single");
    }

    void selectAllOnAnEmptyList() {
        start({});
        QCOMPARE(p->list().count(), 0);
        QTest::keyClicks(p->idEdit(), "5");
        p->click("checkAllButton");
        QCOMPARE(p->mode(), "multi");
        p->click("uncheckAllButton");
        QCOMPARE(p->mode(), "single");
    }

    void doubleClickOnABoxTogglesOnceThenEdits() {
        start();
        QStringList prefilled = withNameDialog(
            [&] { realDoubleClick(p->list().viewport(), p->boxPoint(1)); }, "x", "y", false);
        QCOMPARE(prefilled, (QStringList{"bob", "222"}));
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222 [x]", "Cy, 333"}));
        QCOMPARE(p->mode(), "multi");
    }

    // --- the message ---

    void counterCountsLineBreaksTwice() {
        start();
        QTest::keyClicks(p->memo(), "ab c");
        QCOMPARE(p->message(), "ab c (4)");
        QApplication::clipboard()->setText("x\r\ny\nz");
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->message(), "ab cx\ny\nz (11)");
        // Enter, with any modifier, inserts no line break.
        for (auto mod : {Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
            QTest::keyClick(p->memo(), Qt::Key_Return, mod);
        QTest::keyClick(p->memo(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(p->message(), "ab cx\ny\nz (11)");
        // Wrapping at the edge counts nothing; a character outside the BMP counts one.
        p->memo()->setPlainText(QString(80, QLatin1Char('w')) + QStringLiteral("\U0001F600"));
        QCOMPARE(p->label("lengthLabel"), QStringLiteral("(81)"));
        QCOMPARE(messageLength(QStringLiteral("a\r\nb\rc\u2029d")), 10);
    }

    // Both settings from the dialog (a limit under 20 refused), through a restart; the page
    // count beside the counter, which stays in its place.
    void pageCountAndLongMessageSettings() {
        start();
        QVERIFY(!p->child("pagesLabel")->isVisible());
        ErrorReportCapture errors;
        TconfigForm& form = p->windows().configForm();
        {
            ModalDriver driver(&form, [&] {
                for (const char* limit : {"19", "20"}) {
                    child<QLineEdit>(&form, "messageLimitEdit")->setText(limit);
                    child<QCheckBox>(&form, "useDataCheckBox")->setChecked(true);
                    form.OKButtonClick();
                }
            });
            p->main().configureButtonClick();
        }
        QCOMPARE(errors.texts(), QStringList{"Messages can be split only into parts of 20 "
                                             "characters or more; 0 never splits."});
        start(kThreeNames, readFile(p->windirFile(QStringLiteral("dazoroz.ini"))));
        // With DATA a line break counts two: 21 bytes, where MESS would need 20.
        p->memo()->setPlainText(QStringLiteral("abcdefghij\nklmnopqrs"));
        QVERIFY(p->label("pagesLabel").startsWith("2 p")); // "2 pp." where "pages" has no room
        const QRect pages = p->child("pagesLabel")->geometry();
        QCOMPARE(p->child("lengthLabel")->pos(), QPoint(72, 70));
        QVERIFY(pages.left() > p->child("lengthLabel")->geometry().right() &&
                pages.right() < p->child("clearButton")->x());
    }

    void typingAndPastingStopAt999() {
        start();
        const QString almost(997, QLatin1Char('a'));
        p->memo()->setPlainText(almost);
        p->memo()->moveCursor(QTextCursor::End);
        QTest::keyClicks(p->memo(), "bcd");
        QCOMPARE(p->message(), almost + "bc (999)");
        // With a selection, typing replaces it.
        QTest::keyClick(p->memo(), Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClicks(p->memo(), "Z");
        QCOMPARE(p->message(), almost + "bZ (999)");
        // A paste is cut to what fits; a line break needs room for two.
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QApplication::clipboard()->setText("\r\nxyz");
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->message(), almost + "\n (999)");
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_Backspace);
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(p->message(), almost.left(996) + "\nx (999)");
        // Full: nothing more goes in.
        QTest::keyClick(p->memo(), Qt::Key_V, Qt::ControlModifier);
        QTest::keyClicks(p->memo(), "q");
        QCOMPARE(p->message(), almost.left(996) + "\nx (999)");
    }

    void standardMessages() {
        const QByteArray longMessage(1200, 'L');
        start(kThreeNames, iniText("127.0.0.1", 444, 60, {"Hello", "", longMessage}));
        p->clickText(0);
        QTest::keyClicks(p->memo(), "typed");
        // An empty standard message changes nothing.
        p->click("pickButton2");
        QCOMPARE(p->message(), "typed (5)");
        p->click("pickButton1");
        QCOMPARE(p->message(), "Hello (5)");
        // Longer than the typing limit: put in whole, counted whole.
        p->click("pickButton3");
        QCOMPARE(p->message(), QString::fromLatin1(longMessage) + " (1200)");
        // The value in memory at the time of the click counts.
        dazoroz::store::settings().standardMessages[7] = "changed";
        p->click("pickButton8");
        QCOMPARE(p->message(), "changed (7)");
        QCOMPARE(p->mode(), "single 111");
    }

    void clearMessage() {
        start();
        p->clickBox(2);
        QTest::keyClicks(p->memo(), "abc");
        p->click("clearButton");
        QCOMPARE(p->message(), " (0)");
        QCOMPARE(p->rows(), (QStringList{"Ann, 111", "bob, 222", "Cy, 333 [x]"}));
        QCOMPARE(p->mode(), "multi");
        // Clear on an empty memo still shows "(0)".
        p->click("clearButton");
        QCOMPARE(p->message(), " (0)");
    }

    void pagerNumberField() {
        start();
        auto* field = qobject_cast<PagerNumberEdit*>(p->idEdit());
        QVERIFY(field != nullptr);
        const auto caretWidth = [field] {
            return field->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, field);
        };
        QSignalSpy rejected(field, &QLineEdit::inputRejected);
        QTest::keyClicks(field, "+1 (555) 0123");
        QCOMPARE(field->text(), QStringLiteral("+1 (555) 0")); // any character, at most 10
        QCOMPARE(rejected.size(), 3);
        // Insert toggles overwrite mode (a block caret): typed characters replace the ones
        // after the caret, also in a full field, and go on at the end.
        field->setCursorPosition(0);
        QTest::keyClick(field, Qt::Key_Insert);
        QVERIFY(field->overwriteMode() && caretWidth() > 1);
        QTest::keyClicks(field, "ab");
        QCOMPARE(field->text(), QStringLiteral("ab (555) 0"));
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, "67");
        QCOMPARE(field->text(), QStringLiteral("ab (555)67"));
        QTest::keyClick(field, Qt::Key_Insert);
        QVERIFY(!field->overwriteMode() && caretWidth() == 1);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClick(field, Qt::Key_Home);
        QTest::keyClicks(field, "x");
        QCOMPARE(field->text(), QStringLiteral("xab (555)6"));
        // Focus from the keyboard selects the whole text.
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p->memo());
        QTest::keyClick(p->memo(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->selectedText(), QStringLiteral("xab (555)6"));
    }

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
        const auto row = [](const char* tag, const char* name, const char* number, bool ok,
                            const QStringList& rows) {
            QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(number) << ok
                               << rows;
        };
        const QStringList unchanged{"Ann, 111", "bob, 222", "Cy, 333 [x]"};
        row("Ann / 12-34 at its sorted place", "Ann", "12-34", true,
            {"Ann, 111", "Ann, 12-34", "bob, 222", "Cy, 333 [x]"});
        row("Bea: letter case ignored", "Bea", "9", true,
            {"Ann, 111", "Bea, 9", "bob, 222", "Cy, 333 [x]"});
        row("OK with an empty number", "Dee", "", true, unchanged);
        row("OK with an empty name", "", "5", true, unchanged);
        row("a name of blanks only", "   ", "7", true,
            {"   , 7", "Ann, 111", "bob, 222", "Cy, 333 [x]"});
        row("Cancel", "Dee", "4", false, unchanged);
    }
    void addName() {
        QFETCH(QString, name);
        QFETCH(QString, number);
        QFETCH(bool, ok);
        QFETCH(QStringList, rows);
        start();
        p->clickBox(2);
        QCOMPARE(withNameDialog([&] { p->click("AddButton"); }, name, number, ok),
                 (QStringList{"", ""}));
        QCOMPARE(p->rows(), rows);
        QCOMPARE(p->mode(), "multi");
    }

    void editName_data() {
        QTest::addColumn<QByteArray>("names");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("prefilled");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("newNumber");
        QTest::addColumn<QStringList>("rows");
        const auto row = [](const char* tag, const char* names, const char* entry,
                            const QStringList& prefilled, const char* name, const char* number,
                            const QStringList& rows) {
            QTest::newRow(tag) << QByteArray(names) << QString::fromUtf8(entry) << prefilled
                               << QString::fromUtf8(name) << QString::fromUtf8(number) << rows;
        };
        row("Cy,123 pre-fills 23", "Ann, 1\r\nCy,123\r\n", "Cy,123", {"Cy", "23"}, "Cy", "23",
            {"Ann, 1", "Cy, 23"});
        row("Smith, J with 555 round-trips", "Smith, J, 555\r\nAnn, 1\r\n", "Smith, J, 555",
            {"Smith", "J, 555"}, "Smith", "J, 555", {"Ann, 1", "Smith, J, 555"});
        row("no comma, OK without a number changes nothing", "Just a name\r\nAnn, 1\r\n",
            "Just a name", {"Just a name", ""}, "Just a name", "", {"Ann, 1", "Just a name"});
        row("no comma, a number typed", "Just a name\r\nAnn, 1\r\n", "Just a name",
            {"Just a name", ""}, "Just a name", "8", {"Ann, 1", "Just a name, 8"});
        row("renamed to another place", "Ann, 1\r\nBob, 2\r\n", "Ann, 1", {"Ann", "1"}, "Zed", "1",
            {"Bob, 2", "Zed, 1"});
    }
    void editName() {
        QFETCH(QByteArray, names);
        QFETCH(QString, entry);
        QFETCH(QStringList, prefilled);
        QFETCH(QString, newName);
        QFETCH(QString, newNumber);
        QFETCH(QStringList, rows);
        start(names);
        p->clickText(p->rowOf(entry));
        QCOMPARE(withNameDialog([&] { p->click("editNameButton"); }, newName, newNumber, true),
                 prefilled);
        QCOMPARE(p->rows(), rows);
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

    // Edit and Delete of bob, checked. The mode stays until the next click on a name or
    // De-select All.
    void editOrDeleteOfACheckedName_data() {
        QTest::addColumn<bool>("alone"); // bob is the only checked name
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("number"); // typed in the dialog
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("Edit confirmed unchanged: back unchecked")
            << false << "ok"
            << "222" << QStringList{"Ann, 111", "bob, 222", "Cy, 333 [x]"};
        QTest::newRow("Edit cancelled: still checked")
            << false << "cancel"
            << "223" << QStringList{"Ann, 111", "bob, 222 [x]", "Cy, 333 [x]"};
        QTest::newRow("Delete of the only checked name")
            << true << "delete"
            << "" << QStringList{"Ann, 111", "Cy, 333"};
        QTest::newRow("Edit of the only checked name")
            << true << "ok"
            << "223" << QStringList{"Ann, 111", "bob, 223", "Cy, 333"};
    }
    void editOrDeleteOfACheckedName() {
        QFETCH(bool, alone);
        QFETCH(QString, action);
        QFETCH(QString, number);
        QFETCH(QStringList, rows);
        start();
        p->clickBox(1);
        if (!alone)
            p->clickBox(2);
        p->clickText(1);
        if (action == "delete")
            p->click("deleteButton");
        else
            withNameDialog([&] { p->click("editNameButton"); }, "bob", number, action == "ok");
        QCOMPARE(p->rows(), rows);
        QCOMPARE(p->mode(), "multi");
        if (alone) {
            p->clickText(0);
            QCOMPARE(p->mode(), "single 111");
        }
    }

    // --- other windows, shutdown ---

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

    // Every change of the list is saved at once, as the close saves it; a save that fails
    // says nothing, as at the close.
    void everyChangeIsSaved_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("Add") << "add"
                             << QByteArray("Ann, 111\r\nbob, 222\r\nCy, 333\r\nDee, 4\r\n");
        QTest::newRow("Add cancelled") << "cancel" << kThreeNames;
        QTest::newRow("Edit") << "edit" << QByteArray("Ann, 111\r\nbob, 222\r\nDee, 4\r\n");
        QTest::newRow("Delete") << "delete" << QByteArray("bob, 222\r\nCy, 333\r\n");
        QTest::newRow("names.txt cannot be written") << "unwritable" << QByteArray("<missing>");
    }
    void everyChangeIsSaved() {
        QFETCH(QString, change);
        QFETCH(QByteArray, saved);
        ErrorReportCapture errors;
        start(change == "unwritable" ? QByteArray() : kThreeNames);
        if (change == "unwritable") // a folder in its place: no save can replace it
            QVERIFY(QDir().mkdir(QString::fromLatin1(kNamesFile)));
        if (change == "delete" || change == "edit")
            p->clickText(change == "delete" ? 0 : 2);
        if (change == "delete")
            p->click("deleteButton");
        else
            withNameDialog([&] { p->click(change == "edit" ? "editNameButton" : "AddButton"); },
                           "Dee", "4", change != "cancel");
        QCOMPARE(readFile(kNamesFile), saved);
        QCOMPARE(errors.texts(), QStringList{});
        QDir().rmdir(QString::fromLatin1(kNamesFile));
    }

    void exitSavesTheNames() {
        start();
        withNameDialog([&] { p->click("AddButton"); }, "Dee", "4", true);
        writeFile(QString::fromLatin1(kNamesFile), "changed by hand\r\n");
        // The Instructions window is modeless and ends with the program.
        p->click("instructionsButton");
        QVERIFY(QTest::qWaitForWindowActive(&p->windows().instructionsForm()));
        QVERIFY(!p->windows().instructionsForm().isModal());
        p->main().findChild<QAction*>("Exit1")->trigger();
        QVERIFY(!p->main().isVisible());
        QVERIFY(!p->windows().instructionsForm().isVisible());
        QCOMPARE(readFile(kNamesFile), QByteArray("Ann, 111\r\nbob, 222\r\nCy, 333\r\nDee, 4\r\n"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwin.moc"
