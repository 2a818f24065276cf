#include "support/load_adjusted_timer.h"

#include <QFile>

#include <algorithm>

#include <sys/syscall.h>
#include <unistd.h>

namespace dazoroz::testsupport {

namespace {

// The second field: nanoseconds spent waiting on a run queue. -1 when it cannot be read.
qint64 waitNs(const QString& file) {
    QFile stat(file);
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = stat.readAll().simplified().split(' ');
    bool ok = false;
    const qint64 ns = fields.size() >= 2 ? fields[1].toLongLong(&ok) : -1;
    return ok ? ns : -1;
}

} // namespace

LoadAdjustedTimer::LoadAdjustedTimer(const QStringList& schedstatFiles) {
    for (const QString& file : schedstatFiles) {
        const qint64 ns = waitNs(file);
        watched_.append({file, ns, ns});
    }
    wall_.start();
}

QString LoadAdjustedTimer::thisThread() {
    return QStringLiteral("/proc/%1/task/%2/schedstat").arg(::getpid()).arg(::syscall(SYS_gettid));
}

QString LoadAdjustedTimer::mainThreadOf(qint64 pid) {
    return QStringLiteral("/proc/%1/task/%1/schedstat").arg(pid);
}

void LoadAdjustedTimer::sample() {
    for (Watched& w : watched_) {
        if (const qint64 ns = waitNs(w.file); ns >= 0 && w.startNs >= 0) {
            w.lastNs = ns;
        }
    }
}

qint64 LoadAdjustedTimer::waitedMs() const {
    qint64 most = 0;
    for (const Watched& w : watched_) {
        most = std::max(most, w.lastNs - w.startNs);
    }
    return most / 1'000'000;
}

qint64 LoadAdjustedTimer::elapsedMs() {
    sample();
    return std::max<qint64>(0, wall_.elapsed() - waitedMs());
}

} // namespace dazoroz::testsupport
