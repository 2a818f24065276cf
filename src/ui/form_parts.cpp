#include "form_parts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QVariant>

#include <algorithm>

namespace dazoroz::ui {

namespace {

constexpr const char* kLimitProperty = "dazorozTypingLimit";

int typingLimit(const QLineEdit* edit) {
    bool ok = false;
    const int limit = edit->property(kLimitProperty).toInt(&ok);
    return ok ? limit : edit->maxLength();
}

int lengthOf(const QString& text) {
    return static_cast<int>(text.size());
}

} // namespace

void setTypingLimit(QLineEdit* edit, int limit) {
    edit->setProperty(kLimitProperty, limit);
    edit->setMaxLength(std::max(limit, lengthOf(edit->text())));
    // QLineEdit's own limit would cut program text too, so it follows the text: never below the
    // typing limit, never below what is shown.
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, limit](const QString& text) {
        edit->setMaxLength(std::max(limit, lengthOf(text)));
    });
    QObject::connect(edit, &QLineEdit::inputRejected, edit, [] { QApplication::beep(); });
}

void setFullText(QLineEdit* edit, const QString& text) {
    edit->setMaxLength(std::max(typingLimit(edit), lengthOf(text)));
    edit->setText(text);
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

namespace {

// A label whose width follows its text, also when the font changes after it was made.
class AutoWidthLabel : public QLabel {
public:
    using QLabel::QLabel;
    void fit() { resize(sizeHint().width(), height()); }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            fit();
    }
};

// A label of fixed size. The sizes were made for the bitmap face; the scalable face used at a
// display scale other than 1 runs a few per cent wider, so a text that would lose its end is
// drawn condensed just enough to fit (never below 85 % of its width) instead.
class FixedLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        constexpr int kNarrowest = 85;
        const QRect room = contentsRect();
        QFont condensed = font();
        int stretch = 100;
        while (stretch > kNarrowest &&
               QFontMetricsF(condensed, this).horizontalAdvance(text()) > room.width())
            condensed.setStretch(--stretch);
        if (stretch == 100) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setFont(condensed);
        const auto align = QStyle::visualAlignment(layoutDirection(), alignment());
        style()->drawItemText(&painter, room, static_cast<int>(align.toInt()), palette(),
                              isEnabled(), text(), foregroundRole());
    }
};

template <class L>
L* makeLabel(QWidget* parent, const char* objectName, const QString& text, const QRect& geometry) {
    auto* label = new L(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(text);
    return placed(label, objectName, geometry);
}

} // namespace

QLabel* addLabel(QWidget* parent, const char* objectName, const QString& text,
                 const QRect& geometry) {
    return makeLabel<FixedLabel>(parent, objectName, text, geometry);
}

QLabel* addAutoSizeLabel(QWidget* parent, const char* objectName, const QString& text, int left,
                         int top, int height) {
    auto* label = makeLabel<AutoWidthLabel>(parent, objectName, text, QRect(left, top, 0, height));
    label->fit();
    return label;
}

namespace {

class StockIconLoader : public QObject {
public:
    StockIconLoader(QAbstractButton* button, QStyle::StandardPixmap which)
        : QObject(button), button_(button), which_(which) {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == button_ && event->type() == QEvent::Show) {
            button_->removeEventFilter(this);
            button_->setIcon(button_->style()->standardIcon(which_, nullptr, button_));
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAbstractButton* button_;
    QStyle::StandardPixmap which_;
};

} // namespace

void setStockIconWhenShown(QAbstractButton* button, QStyle::StandardPixmap which) {
    new StockIconLoader(button, which);
}

QFrame* addBevel(QWidget* parent, const char* objectName, const QRect& geometry) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->lower();
    return placed(frame, objectName, geometry);
}

} // namespace dazoroz::ui
