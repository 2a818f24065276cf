// The name entry dialog on its own and the split of an entry for Edit. The Add and Edit flows
// with their typical entries (Cy,123, "Smith, J", no comma) are in the main window's tests.

#include "ui/addname.h"
#include "ui_test_support.h"

#include <QLineEdit>
#include <QPushButton>

#include <memory>

using dazoroz::ui::splitEntry;
using dazoroz::ui::TaddNameForm;
using namespace dazoroz::ui::testing;

class TestAddNameForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TaddNameForm> form;

    QLineEdit* nameEdit() { return child<QLineEdit>(form.get(), "nameEdit"); }
    QLineEdit* numberEdit() { return child<QLineEdit>(form.get(), "pagerIDEdit"); }

private slots:
    void init() { form = std::make_unique<TaddNameForm>(); }
    void cleanup() { form.reset(); }

    void splitting_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");
        const auto row = [](const char* tag, const QString& entry, const char* name,
                            const char* number) {
            QTest::newRow(tag) << entry << QString::fromUtf8(name) << QString::fromUtf8(number);
        };
        row("comma last", "Joe,", "Joe", "");
        row("one character after the comma", "Joe,x", "Joe", "");
        row("empty", "", "", "");
        row("comma first", ", 5", "", "5");
        row("letter after the comma is dropped whole", "Zoë,é7", "Zoë", "7");
        row("character outside the BMP dropped whole", QStringLiteral("A,\U0001F6009"), "A", "9");
        row("blanks kept", "  , x ", "  ", "x ");
    }
    void splitting() {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QFETCH(QString, number);
        const auto parts = splitEntry(entry);
        QCOMPARE(parts.name, name);
        QCOMPARE(parts.pagerNumber, number);
    }

    void emptyNameGetsTheFocusAtEveryShowing() {
        form->setFields({}, {});
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), nameEdit());
        QTest::keyClick(nameEdit(), Qt::Key_Tab);
        QTest::keyClick(numberEdit(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child(form.get(), "okButton"));
        form->hide();

        // Name filled in: the focus stays where the dialog last had it.
        form->setFields("Ann", "12-34");
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), child(form.get(), "okButton"));
        form->hide();

        form->setFields({}, "12-34");
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), nameEdit());
    }

    void typingLimits_data() {
        QTest::addColumn<bool>("name");
        QTest::addColumn<int>("limit");
        QTest::newRow("name") << true << 15;
        QTest::newRow("pager number") << false << 14;
    }
    void typingLimits() {
        QFETCH(bool, name);
        QFETCH(int, limit);
        QLineEdit* edit = name ? nameEdit() : numberEdit();
        form->setFields({}, {});
        QTest::keyClicks(edit, QString(20, QLatin1Char('a')) + "b");
        QCOMPARE(edit->text(), QString(limit, QLatin1Char('a')));
        // Any character is accepted.
        edit->clear();
        QTest::keyClicks(edit, " (+1) x-");
        QCOMPARE(edit->text(), QStringLiteral(" (+1) x-"));
        // Put in by the program, a longer text shows whole and can only be shortened.
        const QString longText(limit + 5, QLatin1Char('z'));
        form->setFields(name ? longText : QString(), name ? QString() : longText);
        QCOMPARE(edit->text(), longText);
        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Q);
        QCOMPARE(edit->text(), longText);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text().size(), limit + 4);
    }

    // The buttons themselves close it in the main window's Add and Edit flows.
    void enterAndEscReportHowItClosed_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter in the number field") << int{Qt::Key_Return} << int{QDialog::Accepted};
        QTest::newRow("Esc") << int{Qt::Key_Escape} << int{QDialog::Rejected};
    }
    void enterAndEscReportHowItClosed() {
        QFETCH(int, key);
        QFETCH(int, result);
        form->setFields({}, {});
        const int got = execDriven(form.get(), [&] {
            QTest::keyClicks(nameEdit(), "Ann");
            QTest::keyClicks(numberEdit(), "12-34");
            QTest::keyClick(numberEdit(), Qt::Key(key));
        });
        QCOMPARE(got, result);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->name(), QStringLiteral("Ann"));
        QCOMPARE(form->pagerNumber(), QStringLiteral("12-34"));
    }
};

QTEST_MAIN(TestAddNameForm)
#include "test_addname.moc"
