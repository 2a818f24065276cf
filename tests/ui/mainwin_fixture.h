#pragma once

// The whole program's windows for the main-window tests: WINDIR on a temporary folder holding
// the settings file, names.txt in the test's working directory, the five windows created in
// their order and the main window shown and active.

#include "ui/main.h"
#include "ui/names_checklist.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace dazoroz::ui::testing {

inline const QByteArray kNamesFile = "names.txt";

// An INI file for the settings folder.
inline QByteArray iniText(const QByteArray& server, int port, int timeout,
                          const QList<QByteArray>& messages = {}) {
    QByteArray ini = "[General]\r\nserverIP=" + server +
                     "\r\nserverPort=" + QByteArray::number(port) +
                     "\r\ntimeout=" + QByteArray::number(timeout) + "\r\n";
    for (qsizetype i = 0; i < messages.size(); ++i)
        ini += "message" + QByteArray::number(i + 1) + "=" + messages[i] + "\r\n";
    return ini;
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Program {
public:
    // `names` is written to names.txt (an empty one removes the file).
    Program(const QByteArray& ini, const QByteArray& names) {
        qputenv("WINDIR", QFile::encodeName(windir_.path()));
        writeFile(windir_.filePath(QStringLiteral("dazoroz.ini")), ini);
        QFile::remove(QString::fromLatin1(kNamesFile));
        if (!names.isEmpty())
            writeFile(QString::fromLatin1(kNamesFile), names);
        windows_ = std::make_unique<ProgramWindows>();
    }
    ~Program() {
        if (windows_)
            windows_->mainform().hide();
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool show() { return showActive(&main()); }

    ProgramWindows& windows() { return *windows_; }
    Tmainform& main() { return windows_->mainform(); }
    NamesCheckList& list() { return main().namesListbox(); }
    QString windirFile(const QString& name) const { return windir_.filePath(name); }

    template <class W = QWidget> W* child(const char* name) {
        auto* w = main().findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no child %s", name);
        return w;
    }
    QLineEdit* idEdit() { return child<QLineEdit>("idEditField"); }
    QPlainTextEdit* memo() { return child<QPlainTextEdit>("messageMemo"); }
    QPlainTextEdit* log() { return child<QPlainTextEdit>("sendingMemo"); }
    QString label(const char* name) { return child<QLabel>(name)->text(); }
    QString statusWord() { return label("messageStatusLabel"); }
    bool multiMode() {
        return !idEdit()->isEnabled() && child<QWidget>("selectingPanel")->isVisible();
    }
    bool singleMode() {
        return idEdit()->isEnabled() && !child<QWidget>("selectingPanel")->isVisible();
    }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }

    // Rows as "text" or "text [x]" when checked.
    QStringList rows() {
        QStringList out;
        for (int r = 0; r < list().count(); ++r)
            out << QString::fromStdString(list().text(r)) +
                       (list().isChecked(r) ? QStringLiteral(" [x]") : QString());
        return out;
    }
    int rowOf(const QString& text) {
        for (int r = 0; r < list().count(); ++r)
            if (QString::fromStdString(list().text(r)) == text)
                return r;
        return -1;
    }
    QPoint boxPoint(int row) { return list().checkBoxRect(row).center(); }
    QPoint textPoint(int row) {
        const QRect box = list().checkBoxRect(row);
        return {box.right() + 40, box.center().y()};
    }
    void clickBox(int row) {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, boxPoint(row));
    }
    void clickText(int row) {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, textPoint(row));
    }

private:
    QTemporaryDir windir_;
    std::unique_ptr<ProgramWindows> windows_;
};

// Drives a modal dialog that the next action opens: once it runs and is active, `drive` acts
// on it. A watchdog closes it after 10 s so that a test never hangs. `shown` counts its
// showings.
class ModalDriver : public QObject {
public:
    ModalDriver(QDialog* dialog, std::function<void()> drive)
        : dialog_(dialog), drive_(std::move(drive)) {
        dialog->installEventFilter(this);
        watchdog_.setSingleShot(true);
        connect(&watchdog_, &QTimer::timeout, this, [this] {
            if (dialog_->isVisible())
                dialog_->done(-1);
        });
    }
    ~ModalDriver() override { dialog_->removeEventFilter(this); }
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::Show) {
            ++shown;
            watchdog_.start(10000);
            QTimer::singleShot(0, this, [this] {
                if (QTest::qWaitForWindowActive(dialog_) &&
                    QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 2000))
                    drive_();
                else
                    dialog_->done(-1);
            });
        }
        return false;
    }

private:
    QDialog* dialog_; // outlives the driver
    std::function<void()> drive_;
    QTimer watchdog_;
};

} // namespace dazoroz::ui::testing
