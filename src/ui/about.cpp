#include "about.h"

#include "fonts.h"
#include "form_parts.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

namespace dazoroz::ui {

namespace {

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

} // namespace

TAboutform::TAboutform(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Aboutform"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(252, 193);

    addBevel(this, "Bevel1", QRect(8, 56, 237, 57));

    QLabel* heading =
        addAutoSizeLabel(this, "Label1", QStringLiteral("Windows Dazoroz"), 60, 8, 16);
    heading->setFont(uiFont(13));
    setTextColour(heading, Qt::blue);

    addLabel(this, "Label11", QString(), QRect(96, 24, 62, 13));

    QLabel* company =
        addLabel(this, "aboutCompanyNameLabel", QStringLiteral("Zovizir Izodaziduzedo, Inc."),
                 QRect(8, 40, 237, 16));
    company->setFont(uiFont(13));
    company->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    company->setAutoFillBackground(true);
    QPalette pal = company->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    company->setPalette(pal);

    setTextColour(addLabel(this, "Label3", QStringLiteral("phone:"), QRect(32, 60, 33, 13)),
                  Qt::blue);
    addAutoSizeLabel(this, "aboutPhoneLabel", QStringLiteral("(555) 010-4477"), 76, 60, 13);
    setTextColour(addLabel(this, "Label5", QStringLiteral("email:"), QRect(32, 76, 27, 13)),
                  Qt::blue);
    addAutoSizeLabel(this, "aboutEmailLabel", QStringLiteral("support@zovizir.example"), 76, 76,
                     13);
    setTextColour(addLabel(this, "Label9", QStringLiteral("web:"), QRect(32, 92, 23, 13)),
                  Qt::blue);
    addAutoSizeLabel(this, "aboutWebLabel", QStringLiteral("www.zovizir.example"), 76, 92, 13);

    okButton_ =
        placed(new QPushButton(QStringLiteral("OK"), this), "okButton", QRect(88, 140, 75, 25));
    okButton_->setDefault(false);
    okButton_->setAutoDefault(true); // as the focused button it answers Enter
    connect(okButton_, &QPushButton::clicked, this, &TAboutform::okButtonClick);
    okButton_->setFocus();
}

void TAboutform::okButtonClick() {
    accept();
}

void TAboutform::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        centreOnScreen(this);
    QDialog::showEvent(event);
}

void TAboutform::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept(); // the window has no cancel button
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace dazoroz::ui
