#include "pictures.h"

#include <QString>

namespace dazoroz::ui {

namespace {

QIcon buttonPicture(const char* name) {
    const QString base = QStringLiteral(":/dazoroz/pictures/") + QString::fromLatin1(name);
    QIcon icon;
    icon.addFile(base + QStringLiteral("-16.png"), QSize(16, 16), QIcon::Normal);
    icon.addFile(base + QStringLiteral("-16-disabled.png"), QSize(16, 16), QIcon::Disabled);
    return icon;
}

} // namespace

QIcon sendPicture() {
    return buttonPicture("pager");
}
QIcon clearPicture() {
    return buttonPicture("wand");
}
QIcon cancelSendPicture() {
    return buttonPicture("abort");
}

QIcon applicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/dazoroz/pictures/pager-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/dazoroz/pictures/dazoroz-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/dazoroz/pictures/dazoroz-256.png"), QSize(256, 256));
    return icon;
}

} // namespace dazoroz::ui
