#include "ui/addname.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using dazoroz::ui::joinEntry;
using dazoroz::ui::splitEntry;
using dazoroz::ui::TaddNameForm;
using dazoroz::ui::testing::execDriven;
using dazoroz::ui::testing::showActive;

class TestAddNameForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TaddNameForm> form;

    template <class W> W* child(const char* name) {
        auto* w = form->findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no child %s", name);
        return w;
    }
    QLineEdit* nameEdit() { return child<QLineEdit>("nameEdit"); }
    QLineEdit* numberEdit() { return child<QLineEdit>("pagerIDEdit"); }

private slots:
    void init() { form = std::make_unique<TaddNameForm>(); }
    void cleanup() { form.reset(); }

    void splitting_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");
        QTest::newRow("dialog-made") << "Ann, 12-34"
                                     << "Ann"
                                     << "12-34";
        QTest::newRow("no blank after the comma") << "Cy,123"
                                                  << "Cy"
                                                  << "23";
        QTest::newRow("name with a comma") << "Smith, J, 555"
                                           << "Smith"
                                           << "J, 555";
        QTest::newRow("no comma") << "Just a name"
                                  << "Just a name"
                                  << "";
        QTest::newRow("comma last") << "Joe,"
                                    << "Joe"
                                    << "";
        QTest::newRow("one character after the comma") << "Joe,x"
                                                       << "Joe"
                                                       << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("comma first") << ", 5"
                                     << ""
                                     << "5";
        QTest::newRow("letter after the comma is dropped whole") << "Zoë,é7"
                                                                 << "Zoë"
                                                                 << "7";
        QTest::newRow("character outside the BMP dropped whole")
            << QStringLiteral("A,\U0001F600") + "9"
            << "A"
            << "9";
        QTest::newRow("blanks kept") << "  , x "
                                     << "  "
                                     << "x ";
    }
    void splitting() {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QFETCH(QString, number);
        const auto parts = splitEntry(entry);
        QCOMPARE(parts.name, name);
        QCOMPARE(parts.pagerNumber, number);
    }

    void smithRoundTrips() {
        const QString entry = joinEntry("Smith, J", "555");
        QCOMPARE(entry, QStringLiteral("Smith, J, 555"));
        const auto parts = splitEntry(entry);
        QCOMPARE(joinEntry(parts.name, parts.pagerNumber), entry);
    }

    void emptyNameGetsTheFocusAtEveryShowing() {
        form->setFields({}, {});
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), nameEdit());
        QTest::keyClick(nameEdit(), Qt::Key_Tab);
        QTest::keyClick(numberEdit(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("okButton"));
        form->hide();

        // Name filled in: the focus stays where the dialog last had it.
        form->setFields("Ann", "12-34");
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("okButton"));
        form->hide();

        form->setFields({}, "12-34");
        QVERIFY(showActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), nameEdit());
    }

    void typingLimits_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("limit");
        QTest::newRow("name") << "name" << 15;
        QTest::newRow("pager number") << "number" << 14;
    }
    void typingLimits() {
        QFETCH(QString, field);
        QFETCH(int, limit);
        QLineEdit* edit = field == "name" ? nameEdit() : numberEdit();
        form->setFields({}, {});
        QTest::keyClicks(edit, QString(20, QLatin1Char('a')) + "b");
        QCOMPARE(edit->text(), QString(limit, QLatin1Char('a')));
        // Any character is accepted.
        edit->clear();
        QTest::keyClicks(edit, " (+1) x-");
        QCOMPARE(edit->text(), QStringLiteral(" (+1) x-"));
        // Put in by the program, a longer text shows whole and can only be shortened.
        const QString longText(limit + 5, QLatin1Char('z'));
        form->setFields(field == "name" ? longText : QString(),
                        field == "name" ? QString() : longText);
        QCOMPARE(edit->text(), longText);
        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Q);
        QCOMPARE(edit->text(), longText);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text().size(), limit + 4);
    }

    void okAndCancelReportHowItClosed_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("OK button") << "ok" << int{QDialog::Accepted};
        QTest::newRow("Enter in the number field") << "enter" << int{QDialog::Accepted};
        QTest::newRow("Cancel button") << "cancel" << int{QDialog::Rejected};
        QTest::newRow("Esc") << "esc" << int{QDialog::Rejected};
    }
    void okAndCancelReportHowItClosed() {
        QFETCH(QString, how);
        QFETCH(int, result);
        form->setFields({}, {});
        const int got = execDriven(form.get(), [&] {
            QTest::keyClicks(nameEdit(), "Ann");
            QTest::keyClicks(numberEdit(), "12-34");
            if (how == "ok")
                QTest::mouseClick(child<QPushButton>("okButton"), Qt::LeftButton);
            else if (how == "enter")
                QTest::keyClick(numberEdit(), Qt::Key_Return);
            else if (how == "cancel")
                QTest::mouseClick(child<QPushButton>("cancelButton"), Qt::LeftButton);
            else
                QTest::keyClick(numberEdit(), Qt::Key_Escape);
        });
        QCOMPARE(got, result);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->name(), QStringLiteral("Ann"));
        QCOMPARE(form->pagerNumber(), QStringLiteral("12-34"));
    }
};

QTEST_MAIN(TestAddNameForm)
#include "test_addname.moc"
