#include "ui/fonts.h"
#include "ui/pictures.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QTest>

using namespace dazoroz::ui;

namespace {

QImage asImage(const QIcon& icon, QIcon::Mode mode) {
    return icon.pixmap(QSize(16, 16), 1.0, mode)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage resource(const QString& name) {
    return QImage(QStringLiteral(DAZOROZ_PICTURES_DIR "/") + name)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestLooks : public QObject {
    Q_OBJECT

private slots:
    void buttonPicturesHaveTheirOwnDisabledImage_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<QString>("base");
        QTest::newRow("send: pager") << sendPicture() << "pager";
        QTest::newRow("clear: wand") << clearPicture() << "wand";
        QTest::newRow("cancel: abort sign") << cancelSendPicture() << "abort";
    }
    void buttonPicturesHaveTheirOwnDisabledImage() {
        QFETCH(QIcon, icon);
        QFETCH(QString, base);
        const QImage normal = resource(base + "-16.png");
        const QImage disabled = resource(base + "-16-disabled.png");
        QCOMPARE(normal.size(), QSize(16, 16));
        QCOMPARE(disabled.size(), QSize(16, 16));
        QVERIFY(normal != disabled);
        QCOMPARE(asImage(icon, QIcon::Normal), normal);
        QCOMPARE(asImage(icon, QIcon::Disabled), disabled);
    }

    void applicationIconSizes() {
        const QList<QSize> sizes = applicationIcon().availableSizes();
        for (const QSize s : {QSize(16, 16), QSize(48, 48)})
            QVERIFY2(sizes.contains(s), qPrintable(QString::number(s.width())));
        QCOMPARE(applicationIcon()
                     .pixmap(QSize(48, 48))
                     .toImage()
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 resource("dazoroz-48.png"));
    }

    void fontHasTheWindowsMetrics() {
        const QString family = loadUiFonts();
        if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/ms_sans_serif.ttf")))
            QSKIP("fonts-wine is not installed");
        QCOMPARE(family, QStringLiteral("MS Sans Serif"));
        const QFont normal = uiFont(11);
        QCOMPARE(QFontInfo(normal).family(), QStringLiteral("MS Sans Serif"));
        const QFontMetrics fm(normal);
        // The widths the windows' labels were laid out for.
        QCOMPARE(fm.horizontalAdvance(QStringLiteral("Pager Number:")), 71);
        QCOMPARE(fm.horizontalAdvance(QStringLiteral("Message Status:")), 79);
        QCOMPARE(fm.horizontalAdvance(QStringLiteral("Names List:  (click to select)")), 132);
        QCOMPARE(fm.height(), 13);
        QCOMPARE(QFontInfo(uiFont(13)).family(), QStringLiteral("Tahoma"));
        QCOMPARE(QFontInfo(uiFont(13)).pixelSize(), 13);
        applyApplicationFont();
        QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("MS Sans Serif"));
    }
};

QTEST_MAIN(TestLooks)
#include "test_looks.moc"
