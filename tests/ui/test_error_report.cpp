#include "ui/error_report.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <stdexcept>

using namespace dazoroz::ui;

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void fullStopRule_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* tag, const char* message, const char* shown) {
            QTest::newRow(tag) << QString::fromUtf8(message) << QString::fromUtf8(shown);
        };
        row("letter", "Unable to write to dazoroz.ini", "Unable to write to dazoroz.ini.");
        row("digit", "code 11001", "code 11001.");
        row("quote sorts before the stop", "'x' is \"odd\"", "'x' is \"odd\"");
        row("ends with a stop", "Host not found.", "Host not found.");
        row("bracket", "failed (see log)", "failed (see log)");
        row("blank", "trailing ", "trailing ");
        row("slash sorts after the stop", "path a/", "path a/.");
        row("colon", "Error:", "Error:.");
        row("comma sorts before", "a,", "a,");
        row("non-ASCII letter", "Zoë", "Zoë.");
        row("empty", "", "");
    }
    void fullStopRule() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errorReportText(message), shown);
    }

    void guardedReportsWhatEscapesAndSkipsTheRest() {
        ErrorReportCapture capture;
        QWidget parent;
        QStringList steps;
        const bool ran = guarded(&parent, [&] {
            steps << "first";
            throw std::runtime_error("'abc' is not a valid integer value");
            steps << "second";
        });
        QVERIFY(!ran);
        QCOMPARE(steps, QStringList{"first"});
        QCOMPARE(capture.texts(), QStringList{"'abc' is not a valid integer value."});
        QCOMPARE(capture.parents(), QList<QWidget*>{&parent});

        capture.clear();
        QVERIFY(!guarded(nullptr, [] { throw 42; }));
        QCOMPARE(capture.texts(), QStringList{"An unexpected error occurred."});

        capture.clear();
        QVERIFY(guarded(nullptr, [&] { steps << "third"; }));
        QCOMPARE(capture.texts(), QStringList{});
        QCOMPARE(steps, (QStringList{"first", "third"}));

        // UTF-8 from what() arrives whole.
        guarded(nullptr, [] { throw std::runtime_error("Zo\xc3\xab"); });
        QCOMPARE(capture.texts(), QStringList{QStringLiteral("Zoë.")});
    }

    void defaultReportIsAnErrorBoxTitledDazoroz() {
        QWidget parent;
        parent.show();
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        QWidget* boxParent = nullptr;
        int polls = 0;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            // Bounded: after 5 s any modal window is closed, found or not.
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                if (++polls > 500 && QApplication::activeModalWidget() != nullptr)
                    QApplication::activeModalWidget()->close();
                return;
            }
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            format = box->textFormat();
            boxParent = box->parentWidget();
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll.start();
        reportError(&parent, "<b>x</b> failed");
        poll.stop();
        QCOMPARE(title, QStringLiteral("Dazoroz"));
        QCOMPARE(text, QStringLiteral("<b>x</b> failed."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(boxParent, &parent);
    }
};

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
