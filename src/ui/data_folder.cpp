#include "data_folder.h"

#include "store/names_list.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dazoroz::ui {

namespace {

bool absolute(const QString& path) {
    return path.startsWith(QLatin1Char('/'));
}

QString failure(const char* what, const QByteArray& path, int error) {
    return QStringLiteral("cannot %1 %2: %3")
        .arg(QLatin1String(what), QFile::decodeName(path),
             QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

QString dataFolder(const QString& xdgDataHome, const QString& home) {
    const QByteArray xdg = QFile::encodeName(xdgDataHome);
    const QByteArray homeFolder = QFile::encodeName(home);
    return QFile::decodeName(QByteArray::fromStdString(
        store::userDataFolder(xdg.toStdString(), homeFolder.toStdString()).string()));
}

QString enterFolder(const QString& folder) {
    if (!absolute(folder))
        return QStringLiteral("no data folder: neither XDG_DATA_HOME nor HOME names one");
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const bool last = end < 0;
        const QByteArray part = last ? path : path.left(end);
        if (::mkdir(part.constData(), last ? 0700 : 0755) != 0 && errno != EEXIST)
            return failure("make", part, errno);
        if (last)
            break;
    }
    if (::chdir(path.constData()) != 0)
        return failure("enter", path, errno);
    return {};
}

} // namespace dazoroz::ui
