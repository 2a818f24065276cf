#pragma once

// The resident memory of a process (this one when no pid is given), in bytes; 0 when the
// system does not tell.

#include <QFile>
#include <QString>

#include <unistd.h>

namespace dazoroz::testsupport {

// Under AddressSanitizer freed memory waits in its quarantine (up to 256 MB): a process's
// resident memory then says nothing about what it keeps.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kResidentBytesTell = false;
#else
inline constexpr bool kResidentBytesTell = true;
#endif

inline qint64 residentBytes(qint64 pid = 0) {
    QFile statm(pid == 0 ? QStringLiteral("/proc/self/statm")
                         : QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

} // namespace dazoroz::testsupport
