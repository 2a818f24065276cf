#include "fonts.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>

namespace dazoroz::ui {

namespace {

constexpr const char* kWineFontDir = "/usr/share/wine/fonts/";
const QString kBitmapFamily = QStringLiteral("MS Sans Serif");
const QString kTahomaFamily = QStringLiteral("Tahoma");
const QString kArialMetricFamily = QStringLiteral("Liberation Sans");

bool familyKnown(const QString& family) {
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

bool loadFile(const char* name) {
    const QString path = QString::fromLatin1(kWineFontDir) + QString::fromLatin1(name);
    return QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0;
}

QString chooseFamily() {
    // A family the system already knows (through a fontconfig snippet, say) is used as it is.
    if (familyKnown(kBitmapFamily) || loadFile("ms_sans_serif.ttf"))
        return kBitmapFamily;
    if (familyKnown(kTahomaFamily) || loadFile("tahoma.ttf"))
        return kTahomaFamily;
    if (familyKnown(kArialMetricFamily))
        return kArialMetricFamily;
    return {};
}

const QString& chosenFamily() {
    static const QString family = chooseFamily();
    return family;
}

} // namespace

QString loadUiFonts() {
    return chosenFamily();
}

QFont uiFont(int characterHeight) {
    const QString& family = chosenFamily();
    QFont font;
    if (family.isEmpty()) {
        font.setStyleHint(QFont::SansSerif);
        font.setFamily(QStringLiteral("Sans Serif"));
    } else {
        font.setFamily(family);
    }
    if (family == kBitmapFamily) {
        // The bitmap strikes are named by their cell height: 13 px holds 11 px characters.
        font.setPixelSize(characterHeight <= 11 ? 13 : characterHeight <= 13 ? 16 : 20);
    } else {
        font.setPixelSize(characterHeight);
    }
    return font;
}

void applyApplicationFont() {
    QApplication::setFont(uiFont(11));
}

} // namespace dazoroz::ui
