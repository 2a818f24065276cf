#pragma once

// Helpers shared by the GUI tests: finding controls, files, real mouse sequences and bounded
// modal runs.

#include "ui/names_checklist.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QPoint>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace dazoroz::ui::testing {

// The child control `name` of `parent`; a missing one ends the test run.
template <class W = QWidget> W* child(const QObject* parent, const char* name) {
    auto* w = parent->findChild<W*>(QString::fromLatin1(name));
    if (w == nullptr)
        qFatal("no child %s", name);
    return w;
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The rows of a names check list as "text", or "text [x]" when checked.
inline QStringList checkListRows(const NamesCheckList& list) {
    QStringList out;
    for (int r = 0; r < list.count(); ++r)
        out << QString::fromStdString(list.text(r)) + (list.isChecked(r) ? " [x]" : "");
    return out;
}

// A real double click as the platform delivers it: press, release, double-click, release.
inline void realDoubleClick(QWidget* widget, QPoint pos) {
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Shows a window and waits until it is the active one with its focus in place. The offscreen
// platform does not activate a window again that was the last active one before it was
// hidden, so another window takes the activation in between, as the main window would.
inline bool showActive(QWidget* window) {
    if (QGuiApplication::focusWindow() != nullptr && !window->isVisible() &&
        window->windowHandle() == QGuiApplication::focusWindow()) {
        static QWidget bounce;
        bounce.setGeometry(0, 0, 10, 10);
        bounce.show();
        if (!QTest::qWaitForWindowActive(&bounce))
            return false;
        bounce.hide();
    }
    window->show();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }, 5000);
}

// Drives a modal dialog that the next action opens: once it runs and is active with its focus
// in place, `drive` acts on it. A watchdog ends it with -1 after 10 s so that a test never
// hangs. `shown` counts its showings.
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

// dialog->exec(), driven by `drive` once the dialog runs.
inline int execDriven(QDialog* dialog, std::function<void()> drive) {
    ModalDriver driver(dialog, std::move(drive));
    return dialog->exec();
}

} // namespace dazoroz::ui::testing
