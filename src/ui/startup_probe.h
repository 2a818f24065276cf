#pragma once

// A developer's hook for the start-up benchmark (bench/ui): with DAZOROZ_STARTUP_PROBE set, the
// program writes "shown <peak resident kB>" to standard output once its window has been painted
// for the first time, and ends. Nothing happens without the variable.

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace dazoroz::ui {

// Peak resident memory of this process in kB (VmHWM), or -1 where /proc does not tell.
inline long peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            bool ok = false;
            const long kb = line.mid(6).trimmed().split(' ').value(0).toLong(&ok);
            return ok ? kb : -1;
        }
    }
    return -1;
}

class StartupProbe : public QObject {
public:
    explicit StartupProbe(QWidget* window) : QObject(window) { window->installEventFilter(this); }

    // Installs a probe on `window` when the variable is set.
    static void installIfAsked(QWidget* window) {
        if (qEnvironmentVariableIsSet("DAZOROZ_STARTUP_PROBE"))
            new StartupProbe(window);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_) {
            done_ = true;
            // After this paint has reached the screen.
            QTimer::singleShot(0, this, [] {
                std::printf("shown %ld\n", peakResidentKb());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool done_ = false;
};

} // namespace dazoroz::ui
