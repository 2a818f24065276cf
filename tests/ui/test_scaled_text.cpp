// Text at display scales 1, 1.5 and 2: each scale runs this program again with QT_SCALE_FACTOR
// set, which reports the ink of every label of the five windows. At a scale s, a label's text
// must look like its 1x picture, s times larger (not small letters spread apart), and no label
// may lose the end of its text.

#include "mainwin_fixture.h"
#include "ui/about.h"
#include "ui/addname.h"
#include "ui/config.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <cstring>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

namespace {

QImage shotOf(QLabel* label) {
    return label->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The ink of a label as drawn on screen, in device pixels: how many pixel columns hold ink, and
// its height from the topmost to the lowest inked row.
struct Ink {
    int columns = 0;
    int height = 0;
    int right = 0; // one past the rightmost inked column
};

Ink inkOf(const QImage& image) {
    const int background = qGray(image.pixel(0, 0));
    Ink ink;
    int top = image.height();
    int bottom = -1;
    for (int x = 0; x < image.width(); ++x) {
        bool inked = false;
        for (int y = 0; y < image.height(); ++y) {
            if (std::abs(qGray(image.pixel(x, y)) - background) < 96)
                continue;
            inked = true;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
        ink.columns += inked ? 1 : 0;
        ink.right = inked ? x + 1 : ink.right;
    }
    ink.height = bottom - top + 1;
    return ink;
}

// Whether the label shows only the start of what it would show if it were wider.
bool cutOff(QLabel* label, const QImage& shot) {
    const QSize size = label->size();
    label->resize(size.width() + 200, size.height());
    const QImage wide = shotOf(label);
    label->resize(size);
    return inkOf(wide).right > shot.width() && wide.copy(shot.rect()) == shot;
}

// Prints "window/label scale columns height cut" for every label with a text.
int reportInk() {
    applyApplicationFont();
    Program program(iniText("127.0.0.1", 444, 60), "Ann Lee, 5550101\r\n");
    ProgramWindows& w = program.windows();
    const QList<QWidget*> windows = {&w.mainform(), &w.configForm(), &w.addNameForm(),
                                     &w.Aboutform()};
    for (QWidget* window : windows)
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->window() != window || label->text().isEmpty())
                continue;
            const QImage shot = shotOf(label);
            const Ink ink = inkOf(shot);
            std::printf("%s/%s %g %d %d %d\n", qPrintable(window->objectName()),
                        qPrintable(label->objectName()), label->devicePixelRatio(), ink.columns,
                        ink.height, cutOff(label, shot) ? 1 : 0);
        }
    return 0;
}

// Runs this program at `scale` and returns its report by label.
QMap<QString, QStringList> inkAt(const QString& scale) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    env.remove(QStringLiteral("QT_SCREEN_SCALE_FACTORS"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--report-ink")});
    QMap<QString, QStringList> report;
    if (!child.waitForFinished(60000) || child.exitCode() != 0)
        return report;
    for (const QString& line : QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n')) {
        QStringList fields = line.split(' ');
        if (fields.size() == 5)
            report.insert(fields.takeFirst(), fields);
    }
    return report;
}

} // namespace

class TestScaledText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (loadUiFonts() != QStringLiteral("MS Sans Serif"))
            QSKIP("fonts-wine is not installed: no bitmap face to compare with");
        for (const char* scale : {"1", "1.5", "2"}) {
            reports_[scale] = inkAt(QString::fromLatin1(scale));
            QVERIFY2(reports_[scale].size() > 20, scale);
        }
    }

    void textGrowsWithTheScale_data() {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QString>("label");
        for (const char* scale : {"1.5", "2"})
            for (const char* label : {"mainform/Label1", "mainform/Label4", "mainform/Label3",
                                      "configForm/serverIPlabel", "addNameForm/Label2"})
                QTest::addRow("%s at %s", label, scale) << scale << label;
    }
    // Letters drawn at their 1x size on the scaled grid keep their 1x ink (columns, height).
    void textGrowsWithTheScale() {
        QFETCH(QString, scale);
        QFETCH(QString, label);
        const QStringList one = reports_["1"].value(label);
        const QStringList scaled = reports_[scale].value(label);
        QCOMPARE(one.value(0), QStringLiteral("1"));
        QCOMPARE(scaled.value(0), scale);
        const double s = scale.toDouble();
        for (int i : {1, 2}) {
            const double ratio = scaled.value(i).toDouble() / one.value(i).toDouble();
            QVERIFY2(ratio > 0.8 * s && ratio < 1.25 * s,
                     qPrintable(QStringLiteral("%1 of %2 at 1x, %3 at %4")
                                    .arg(i == 1 ? "ink columns" : "ink height", one.value(i),
                                         scaled.value(i), scale)));
        }
    }

    void noLabelIsCutOff() {
        QStringList cut;
        for (auto scale = reports_.cbegin(); scale != reports_.cend(); ++scale)
            for (auto label = scale->cbegin(); label != scale->cend(); ++label)
                if (label.value().value(3) != QStringLiteral("0"))
                    cut << label.key() + " at " + scale.key();
        QCOMPARE(cut, QStringList());
    }

private:
    QMap<QString, QMap<QString, QStringList>> reports_;
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--report-ink") == 0)
        return reportInk();
    TestScaledText test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_scaled_text.moc"
