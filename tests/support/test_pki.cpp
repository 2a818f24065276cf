#include "support/test_pki.h"

#include <QProcess>

namespace dazoroz::testsupport {

TestPki::TestPki() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder: ") + dir_.errorString();
        return;
    }
    QProcess make;
    make.setProcessChannelMode(QProcess::MergedChannels);
    make.start(QStringLiteral("bash"), {QStringLiteral(DAZOROZ_TEST_PKI_SCRIPT), dir_.path()});
    // Well under a second on an idle machine; generous for a loaded one.
    if (!make.waitForFinished(60'000) || make.exitStatus() != QProcess::NormalExit ||
        make.exitCode() != 0) {
        error_ =
            QStringLiteral("make-test-pki.sh failed: ") + QString::fromLocal8Bit(make.readAll());
        make.kill();
        make.waitForFinished();
    }
}

} // namespace dazoroz::testsupport
