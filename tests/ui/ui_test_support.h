#pragma once

// Helpers shared by the GUI tests: real mouse sequences and bounded modal runs.

#include <QDialog>
#include <QPoint>
#include <QTest>
#include <QTimer>

#include <functional>

namespace dazoroz::ui::testing {

// A real double click as the platform delivers it: press, release, double-click, release.
inline void realDoubleClick(QWidget* widget, QPoint pos) {
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Runs dialog->exec() and, once its modal loop runs, `drive` on the open dialog. A watchdog
// ends the dialog with -1 after 10 s, so that a test never hangs on a modal window.
inline int execDriven(QDialog* dialog, const std::function<void()>& drive) {
    QTimer::singleShot(0, dialog, drive);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, dialog, [dialog] { dialog->done(-1); });
    watchdog.start(10000);
    return dialog->exec();
}

} // namespace dazoroz::ui::testing
