#pragma once

#include "store/settings.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dazoroz::ui {

// Converts a numeric field's text strictly as a decimal whole number (an optional sign, then
// digits, fitting 32 bits). Otherwise throws std::runtime_error with
// "'<text>' is not a valid integer value".
std::int32_t fieldToInt(const QString& text);

// The configuration dialog "Dazoroz Configuration" (object "configForm"). Created once and
// hidden between uses; the main window shows it modally with exec(). Every showing refills the
// controls from the settings record. OK stores the controls into the record in this order:
// server address, port, time-out, messages, login ID, password, TLS, CA file, history, message
// limit, DATA, then writes the file with store::saveSettings and closes. The login, TLS, history
// and long-message fields sit in their own box of optional settings to the right of the others,
// which keep their places (the CA file can be typed or chosen, and is used only with TLS). A
// message limit from 1 to 19 is refused like a field that is not a whole number. A
// field that is not a whole number (an emptied port or time-out field included), a login ID that
// store::isLoginID refuses (the field takes no blank as typed, but a stored one is shown as it
// is) or a failed write is shown by the general error report, the handler stops there and the
// dialog stays open. Cancel, Esc and the close box close it and change nothing.
class TconfigForm : public QDialog {
    Q_OBJECT
public:
    explicit TconfigForm(store::Settings& settings = store::settings(), QWidget* parent = nullptr);

    void FormShow();
    void OKButtonClick();
    void cancelbuttonClick();
    void useTLSToggled(bool on);
    void tlsCAFileButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    store::Settings& settings_;
    QComboBox* serverIPComboBox_;
    QLineEdit* serverPortEdit_;
    QLineEdit* timeoutEdit_;
    std::array<QLineEdit*, 8> messageEdits_{};
    QLineEdit* loginIDEdit_;
    QLineEdit* passwordEdit_;
    QLabel* loginNote_;
    QCheckBox* useTLSCheckBox_;
    QLineEdit* tlsCAFileEdit_;
    QPushButton* tlsCAFileButton_;
    QCheckBox* keepHistoryCheckBox_;
    QLineEdit* messageLimitEdit_;
    QCheckBox* useDataCheckBox_;
    QCheckBox* failoverCheckBox_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

} // namespace dazoroz::ui
