#pragma once

// Helpers shared by the GUI tests: real mouse sequences and bounded modal runs.

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QPoint>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

namespace dazoroz::ui::testing {

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

// Runs dialog->exec() and, once its modal loop runs and the dialog is active with its focus
// in place, `drive` on the open dialog. A watchdog ends the dialog with -1 after 10 s, so that
// a test never hangs on a modal window.
inline int execDriven(QDialog* dialog, const std::function<void()>& drive) {
    QTimer::singleShot(0, dialog, [dialog, drive] {
        if (QTest::qWaitForWindowActive(dialog) &&
            QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 2000))
            drive();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, dialog, [dialog] { dialog->done(-1); });
    watchdog.start(10000);
    return dialog->exec();
}

} // namespace dazoroz::ui::testing
