#pragma once

// The throwaway CA and certificates of make-test-pki.sh, made at test time in a temporary folder
// that goes with the object (see the script for the files).

#include <QString>
#include <QTemporaryDir>

#include <string>

namespace dazoroz::testsupport {

class TestPki {
public:
    TestPki();

    // Empty when the files are there, else what went wrong.
    const QString& error() const { return error_; }
    QString folder() const { return dir_.path(); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    std::string file(const QString& name) const { return path(name).toStdString(); }

private:
    QTemporaryDir dir_;
    QString error_;
};

} // namespace dazoroz::testsupport
