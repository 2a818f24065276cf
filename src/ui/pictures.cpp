#include "pictures.h"

#include "pictures/pictures_data.h"

#include <QImage>
#include <QPixmap>

#include <cstdint>

namespace dazoroz::ui {

namespace {

// The pictures come from arrays compiled in rather than from PNG files: reading an image file
// makes Qt scan its image format plugins first, which costs more at start-up than the window.
QPixmap picture(const std::uint32_t* argb, int size) {
    // QImage only borrows the words; the pixmap copies them.
    const QImage image(reinterpret_cast<const uchar*>(argb), size, size, size * 4,
                       QImage::Format_ARGB32);
    return QPixmap::fromImage(image);
}

QIcon buttonPicture(const std::uint32_t* normal, const std::uint32_t* disabled) {
    QIcon icon(picture(normal, 16));
    icon.addPixmap(picture(disabled, 16), QIcon::Disabled);
    return icon;
}

} // namespace

QIcon sendPicture() {
    return buttonPicture(pictures::kPager16, pictures::kPager16Disabled);
}
QIcon clearPicture() {
    return buttonPicture(pictures::kWand16, pictures::kWand16Disabled);
}
QIcon cancelSendPicture() {
    return buttonPicture(pictures::kAbort16, pictures::kAbort16Disabled);
}

QIcon applicationIcon() {
    QIcon icon(picture(pictures::kPager16, pictures::kPager16Size));
    icon.addPixmap(picture(pictures::kDazoroz48, pictures::kDazoroz48Size));
    return icon;
}

} // namespace dazoroz::ui
