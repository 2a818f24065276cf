#pragma once

// Wall-clock time without what the machine's load costs: the time that the watched threads were
// ready to run but had to wait for a CPU is left out (the most any one of them waited, from
// /proc/<pid>/task/<tid>/schedstat; nothing where the system does not tell). A bound on how
// fast the program reacts then holds on a busy machine too, while time the program spends
// running (a loop that never returns, say) still counts in full.

#include <QElapsedTimer>
#include <QList>
#include <QString>

namespace dazoroz::testsupport {

class LoadAdjustedTimer {
public:
    // Starts at once, watching the threads whose schedstat files are given.
    explicit LoadAdjustedTimer(const QStringList& schedstatFiles);

    static QString thisThread();
    static QString mainThreadOf(qint64 pid);

    // Reads the waits again; a thread that has gone keeps its last reading.
    void sample();
    // Milliseconds since the start, less the longest wait of a watched thread (samples first).
    qint64 elapsedMs();
    // The longest wait left out, in milliseconds.
    qint64 waitedMs() const;

private:
    struct Watched {
        QString file;
        qint64 startNs = -1;
        qint64 lastNs = -1;
    };
    QList<Watched> watched_;
    QElapsedTimer wall_;
};

} // namespace dazoroz::testsupport
