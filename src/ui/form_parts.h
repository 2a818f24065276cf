#pragma once

#include <QRect>
#include <QString>
#include <QStyle>

class QAbstractButton;
class QFrame;
class QLabel;
class QLineEdit;
class QWidget;

namespace dazoroz::ui {

// Small pieces shared by the windows: fixed layouts in pixels, typing limits, placement.

// Limits what the user can type into `edit` to `limit` characters. Text that the program puts
// in with setFullText is shown in full even when longer; the user may then shorten it but not
// lengthen it while it is over the limit. A refused keystroke beeps.
void setTypingLimit(QLineEdit* edit, int limit);
// Puts `text` into `edit` whole, whatever its typing limit.
void setFullText(QLineEdit* edit, const QString& text);

// Moves a window so that it is centred on its screen.
void centreOnScreen(QWidget* window);

// Gives `widget` its object name and its place in its parent, and returns it.
template <class W> W* placed(W* widget, const char* objectName, const QRect& geometry) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setGeometry(geometry);
    return widget;
}

// A label showing `text` as plain text (never markup), aligned to the top left.
QLabel* addLabel(QWidget* parent, const char* objectName, const QString& text,
                 const QRect& geometry);
// A label whose width follows its text (and font); `left`, `top` and `height` are fixed.
QLabel* addAutoSizeLabel(QWidget* parent, const char* objectName, const QString& text, int left,
                         int top, int height);
// Gives `button` the style's stock picture `which` when it is first shown. The stock pictures
// come from the icon theme, whose first lookup costs more than the whole dialog; the windows are
// all made at start-up, so the lookup waits until a picture is needed.
void setStockIconWhenShown(QAbstractButton* button, QStyle::StandardPixmap which);

// A lowered box frame, kept behind its siblings.
QFrame* addBevel(QWidget* parent, const char* objectName, const QRect& geometry);

} // namespace dazoroz::ui
