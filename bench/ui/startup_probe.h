#pragma once

// The start-up benchmark's probe: installed on a window, it writes "shown <peak resident kB>" to
// standard output once the window has been painted for the first time, and ends the program.

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace dazoroz::bench {

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

} // namespace dazoroz::bench
