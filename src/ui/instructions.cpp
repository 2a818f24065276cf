#include "instructions.h"

#include "form_parts.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

namespace dazoroz::ui {

QStringList instructionLines() {
    return {
        QStringLiteral("--> To Send to ONE Recipient:"),
        QStringLiteral(
            "Simply select one of the recipients in your Names list by clicking on that name."),
        QStringLiteral("You do not need to put a check by the name."),
        QStringLiteral("When you select a name, the corresponding pager ID will automatically be"),
        QStringLiteral("placed in the 'Pager Number' field."),
        QString(),
        QStringLiteral("--> To Send to MULTIPLE Recipients:"),
        QStringLiteral(
            "In the Names list, check the recipients you wish to send to by clicking the "),
        QStringLiteral(
            "check box to the left of each recipient.  When using this method, the Pager"),
        QStringLiteral("Number field will be disabled (not used)."),
    };
}

TinstructionsForm::TinstructionsForm(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("instructionsForm"));
    setWindowTitle(QStringLiteral("Instructions"));
    setModal(false);
    setFixedSize(402, 215);

    memo_ = placed(new QPlainTextEdit(this), "Memo1", QRect(0, 0, 401, 185));
    memo_->setReadOnly(true);
    memo_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo_->setTabChangesFocus(true);
    memo_->setPlainText(instructionLines().join(QLatin1Char('\n')));

    okButton_ =
        placed(new QPushButton(QStringLiteral("OK"), this), "okButton", QRect(160, 188, 75, 25));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &TinstructionsForm::okButtonClick);
    setTabOrder(memo_, okButton_);

    move(238, 158);
}

void TinstructionsForm::showOrRaise() {
    show();
    raise();
    activateWindow();
}

void TinstructionsForm::okButtonClick() {
    hide();
}

void TinstructionsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept(); // the window has no cancel button
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace dazoroz::ui
