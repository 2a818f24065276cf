#pragma once

#include "store/settings.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dazoroz::ui {

class PasswordKeeper;

// Converts a numeric field's text strictly as a decimal whole number (an optional sign, then
// digits, fitting 32 bits). Otherwise throws std::runtime_error with
// "'<text>' is not a valid integer value".
std::int32_t fieldToInt(const QString& text);
// The same for the port field, which also refuses a number over 65535 with "'<text>' is not a
// valid port number". A port of 0 passes: it is stored, and sends are refused.
std::int32_t fieldToPort(const QString& text);

// The configuration dialog "Dazoroz Configuration" (object "configForm"). Created once and
// hidden between uses; the main window shows it modally with exec(). Every showing refills the
// controls from the settings record. OK stores the controls into the record in this order:
// server address, port, time-out, messages, login ID, password, TLS, CA file, history, message
// limit, DATA, then writes the file (through the password keeper when there is one, which keeps
// the password in the desktop keyring) and closes.
//
// The dialog opens at its 296 x 320 with the server, port, time-out and messages; the optional
// settings (login, TLS, history, long messages...) sit in a section beside them, folded away
// behind the "More settings" toggle at the bottom left unless one of them is set
// (hasOptionalSettings). A new optional setting is one more addOptionalRow in the constructor,
// plus its line in FormShow, OKButtonClick and hasOptionalSettings.
//
// A field that is not a whole number (an emptied port or time-out field included), a port over
// 65535, a message limit from 1 to 19, a login ID that store::isLoginID refuses (the field takes
// no blank as typed, but a stored one is shown as it is) or a failed write is shown by the
// general error report, the handler stops there and the dialog stays open. Cancel, Esc and the
// close box close it and change nothing.
class TconfigForm : public QDialog {
    Q_OBJECT
public:
    explicit TconfigForm(store::Settings& settings = store::settings(), QWidget* parent = nullptr,
                         PasswordKeeper* keeper = nullptr);

    void FormShow();
    void OKButtonClick();
    void cancelbuttonClick();
    void useTLSToggled(bool on);
    void tlsCAFileButtonClick();
    void moreSettingsButtonClick();

    bool unfolded() const;
    // Whether any optional setting differs from its default: the section then opens unfolded.
    static bool hasOptionalSettings(const store::Settings& settings);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setUnfolded(bool on);
    // Adds a row to the optional settings: `field` with its label (none: the field takes the
    // whole row). Its focusable parts come next in the tab order. Returns `field`.
    template <class W> W* addOptionalRow(const char* labelName, const QString& label, W* field);
    void showPasswordPlace();

    store::Settings& settings_;
    PasswordKeeper* keeper_;
    QComboBox* serverIPComboBox_;
    QLineEdit* serverPortEdit_;
    QLineEdit* timeoutEdit_;
    std::array<QLineEdit*, 8> messageEdits_{};
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QPushButton* moreSettingsButton_;
    QGroupBox* optionalBox_;
    QFormLayout* optionalRows_;
    QWidget* lastInTabOrder_; // of the optional settings' rows
    QLineEdit* loginIDEdit_;
    QLineEdit* passwordEdit_;
    QLabel* loginNote_;
    QLabel* passwordPlaceNote_;
    QCheckBox* useTLSCheckBox_;
    QLineEdit* tlsCAFileEdit_;
    QPushButton* tlsCAFileButton_;
    QCheckBox* keepHistoryCheckBox_;
    QLineEdit* messageLimitEdit_;
    QCheckBox* useDataCheckBox_;
    QCheckBox* failoverCheckBox_;
};

} // namespace dazoroz::ui
