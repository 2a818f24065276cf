#include "fonts.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QtMath>

#include <initializer_list>

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

QString firstKnown(std::initializer_list<QString> families) {
    for (const QString& f : families)
        if (familyKnown(f))
            return f;
    return {};
}

struct Families {
    QString text;     // the 11-pixel text of every window
    QString scalable; // other sizes
};

Families chooseFamilies() {
    // The files of fonts-wine come first: asking the font database what it knows costs more
    // than the rest of start-up together. Without them, a family the system knows (through a
    // fontconfig snippet, say) is used as it is.
    const bool bitmap = loadFile("ms_sans_serif.ttf") || familyKnown(kBitmapFamily);
    const bool tahoma = loadFile("tahoma.ttf") || familyKnown(kTahomaFamily);
    // Qt registers only the first strike of a bitmap font, the one for 11-pixel characters;
    // larger text takes the scalable lookalike.
    const QString scalable = tahoma ? kTahomaFamily : firstKnown({kArialMetricFamily});
    return {bitmap ? kBitmapFamily : scalable, scalable};
}

const Families& chosenFamilies() {
    static const Families families = chooseFamilies();
    return families;
}

QFont fontOf(const QString& family, int pixelSize) {
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setFamily(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
    font.setPixelSize(pixelSize);
    return font;
}

// At a display scale other than 1 (QT_SCALE_FACTOR, a high-resolution screen), Qt lays the
// bitmap strike's glyphs out on the scaled grid but draws them at their own size: small letters
// far apart. The scalable lookalike is drawn at the scaled size instead.
bool displayScaled() {
    return qGuiApp != nullptr && !qFuzzyCompare(qGuiApp->devicePixelRatio(), qreal(1));
}

bool bitmapText() {
    return chosenFamilies().text == kBitmapFamily && !displayScaled();
}

} // namespace

QString loadUiFonts() {
    return bitmapText() ? kBitmapFamily : chosenFamilies().scalable;
}

QFont uiFont(int characterHeight) {
    if (characterHeight == 11 && bitmapText())
        return fontOf(kBitmapFamily, 13); // the strike is named by its cell height
    return fontOf(chosenFamilies().scalable, characterHeight);
}

void applyApplicationFont() {
    QApplication::setFont(uiFont(11));
}

} // namespace dazoroz::ui
