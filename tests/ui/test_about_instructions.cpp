#include "ui/about.h"
#include "ui/instructions.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <memory>

using dazoroz::ui::TAboutform;
using dazoroz::ui::TinstructionsForm;
using namespace dazoroz::ui::testing;

namespace {

int countVisible(const char* objectName) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == QLatin1String(objectName) && w->isVisible() ? 1 : 0;
    return n;
}

} // namespace

class TestAboutInstructions : public QObject {
    Q_OBJECT

private slots:
    void instructionsTextExactly() {
        TinstructionsForm form;
        const auto* memo = child<QPlainTextEdit>(&form, "Memo1");
        const QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 10);
        QCOMPARE(memo->document()->blockCount(), 10);
        QCOMPARE(lines[5], QString());
        QCOMPARE(lines[7], QStringLiteral("In the Names list, check the recipients you wish to "
                                          "send to by clicking the "));
        QCOMPARE(lines[8], QStringLiteral("check box to the left of each recipient.  When using "
                                          "this method, the Pager"));
        QVERIFY(memo->isReadOnly());
        QVERIFY(memo->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(memo->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    }

    void instructionsOpenedTwiceIsOneWindow() {
        TinstructionsForm form;
        QWidget other;
        other.show();
        form.showOrRaise();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.pos(), QPoint(238, 158));
        form.move(300, 200); // the user moves it
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        form.showOrRaise();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(countVisible("instructionsForm"), 1);
        QCOMPARE(form.pos(), QPoint(300, 200));

        // OK hides it; it comes back where it was, with the same text.
        QTest::mouseClick(child<QPushButton>(&form, "okButton"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        form.showOrRaise();
        QVERIFY(form.isVisible());
        QCOMPARE(form.pos(), QPoint(300, 200));
        // The close box hides it too.
        form.close();
        QVERIFY(!form.isVisible());
    }

    void escapeClosesNeitherWindow() {
        TinstructionsForm instructions;
        instructions.showOrRaise();
        QVERIFY(QTest::qWaitForWindowActive(&instructions));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(instructions.isVisible());
        QTest::keyClick(&instructions, Qt::Key_Escape);
        QVERIFY(instructions.isVisible());

        TAboutform about;
        bool stillOpen = false;
        const int result = execDriven(&about, [&] {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QTest::keyClick(&about, Qt::Key_Escape);
            QCoreApplication::processEvents();
            stillOpen = about.isVisible();
            about.done(7);
        });
        QVERIFY(stillOpen);
        QCOMPARE(result, 7);
    }

    void enterInAboutPressesOK() {
        TAboutform about;
        QWidget* focused = nullptr;
        const int result = execDriven(&about, [&] {
            focused = QApplication::focusWidget();
            QTest::keyClick(focused, Qt::Key_Return);
        });
        QCOMPARE(focused, child<QWidget>(&about, "okButton"));
        QCOMPARE(result, int{QDialog::Accepted});
        QVERIFY(!about.isVisible());
        // Shown again: the same window, centred.
        const int again = execDriven(&about, [&] {
            const QRect screen = about.screen()->availableGeometry();
            if (qAbs(about.frameGeometry().center().x() - screen.center().x()) <= 1)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        });
        QCOMPARE(again, int{QDialog::Accepted});
    }

    void contactLabelsFollowTheirTextAndFont() {
        TAboutform about;
        QFont big = about.font();
        big.setPixelSize(30);
        about.setFont(big); // as when the program's font arrives after the window was made
        for (const char* name : {"aboutPhoneLabel", "aboutEmailLabel", "aboutWebLabel"}) {
            auto* label = child<QLabel>(&about, name);
            QVERIFY(!label->text().isEmpty());
            QCOMPARE(label->width(), label->sizeHint().width());
            QCOMPARE(label->height(), 13);
        }
    }
};

QTEST_MAIN(TestAboutInstructions)
#include "test_about_instructions.moc"
