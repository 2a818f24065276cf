#include "addname.h"

#include "form_parts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace dazoroz::ui {

EntryParts splitEntry(const QString& entry) {
    const qsizetype comma = entry.indexOf(QLatin1Char(','));
    if (comma < 0)
        return {entry, QString()};
    qsizetype rest = comma + 1;
    if (rest < entry.size()) {
        // Drop one whole character, never half of a surrogate pair.
        rest += entry.at(rest).isHighSurrogate() && rest + 1 < entry.size() &&
                        entry.at(rest + 1).isLowSurrogate()
                    ? 2
                    : 1;
    }
    return {entry.left(comma), entry.mid(rest)};
}

QString joinEntry(const QString& name, const QString& pagerNumber) {
    return name + QStringLiteral(", ") + pagerNumber;
}

TaddNameForm::TaddNameForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("addNameForm"));
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(204, 115);

    addLabel(this, "Label1", QStringLiteral("Name:"), QRect(12, 20, 31, 13));
    nameEdit_ = placed(new QLineEdit(this), "nameEdit", QRect(88, 16, 101, 21));
    setTypingLimit(nameEdit_, 15);
    addLabel(this, "Label2", QStringLiteral("Pager Number:"), QRect(12, 44, 71, 13));
    pagerIDEdit_ = placed(new QLineEdit(this), "pagerIDEdit", QRect(88, 40, 101, 21));
    setTypingLimit(pagerIDEdit_, 14);

    okButton_ =
        placed(new QPushButton(QStringLiteral("OK"), this), "okButton", QRect(20, 84, 75, 25));
    setStockIconWhenShown(okButton_, QStyle::SP_DialogOkButton);
    okButton_->setDefault(true);
    cancelButton_ = placed(new QPushButton(QStringLiteral("Cancel"), this), "cancelButton",
                           QRect(108, 84, 75, 25));
    setStockIconWhenShown(cancelButton_, QStyle::SP_DialogCancelButton);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(nameEdit_, pagerIDEdit_);
    setTabOrder(pagerIDEdit_, okButton_);
    setTabOrder(okButton_, cancelButton_);
}

void TaddNameForm::setFields(const QString& name, const QString& pagerNumber) {
    setFullText(nameEdit_, name);
    setFullText(pagerIDEdit_, pagerNumber);
}

QString TaddNameForm::name() const {
    return nameEdit_->text();
}
QString TaddNameForm::pagerNumber() const {
    return pagerIDEdit_->text();
}

void TaddNameForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnScreen(this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TaddNameForm::FormShow() {
    if (nameEdit_->text().isEmpty())
        nameEdit_->setFocus();
}

} // namespace dazoroz::ui
