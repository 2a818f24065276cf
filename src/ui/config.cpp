#include "config.h"

#include "error_report.h"
#include "form_parts.h"

#include "sending/message_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <climits>
#include <stdexcept>
#include <string>

namespace dazoroz::ui {

namespace {

// Room for any IPv6 address: 45 characters at most, 2 brackets, and a zone (% and an interface
// name of up to 15 characters).
constexpr int kServerTypingLimit = 63;
constexpr int kPortDigits = 3;
constexpr int kTimeoutDigits = 2;
constexpr int kMessageTypingLimit = 100;
constexpr int kLoginTypingLimit = 100;
constexpr int kPathTypingLimit = 4096;
// More than the bytes of the longest message the window takes.
constexpr int kMessageLimitDigits = 4;
const char* const kBadMessageLimitText =
    "Messages can be split only into parts of 20 characters or more; 0 never splits";
// The box of optional settings: down to the foot of OK and Cancel, which stand to its left.
constexpr QRect kOptionalBox(296, 12, 213, 305);

// Rows of the server history list, 13 pixels high.
class HistoryRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
    }
};

QString loginNoteText(bool tls) {
    return tls ? QStringLiteral("Only for a server that asks for a login. The password travels "
                                "encrypted (TLS).")
               : QStringLiteral("Only for a server that asks for a login. The password travels "
                                "unencrypted.");
}

QString fromStd(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string toStd(const QString& s) {
    return s.toUtf8().toStdString();
}

QLineEdit* numericEdit(QWidget* parent, const char* name, const QRect& geometry, int digits) {
    auto* edit = placed(new QLineEdit(parent), name, geometry);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    setTypingLimit(edit, digits);
    return edit;
}

} // namespace

std::int32_t fieldToInt(const QString& text) {
    const std::string s = toStd(text);
    const auto fail = [&s] {
        return std::runtime_error("'" + s + "' is not a valid integer value");
    };
    std::size_t pos = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+'))
        ++pos;
    if (pos == s.size())
        throw fail();
    std::int64_t value = 0;
    for (; pos < s.size(); ++pos) {
        if (s[pos] < '0' || s[pos] > '9')
            throw fail();
        value = value * 10 + (s[pos] - '0');
        if (value > std::int64_t{INT32_MAX} + 1)
            throw fail();
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        throw fail();
    return static_cast<std::int32_t>(value);
}

TconfigForm::TconfigForm(store::Settings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings) {
    setObjectName(QStringLiteral("configForm"));
    setWindowTitle(QStringLiteral("Dazoroz Configuration"));
    // The specified 296 x 320, widened for the box of optional settings on the right.
    setFixedSize(kOptionalBox.right() + 1 + 11, 320);

    addBevel(this, "Bevel1", QRect(12, 12, 273, 85));
    addLabel(this, "serverIPlabel", QStringLiteral("Server IP Address:"), QRect(24, 24, 88, 13));
    serverIPComboBox_ = placed(new QComboBox(this), "serverIPComboBox", QRect(120, 20, 157, 21));
    serverIPComboBox_->setEditable(true);
    serverIPComboBox_->setInsertPolicy(QComboBox::NoInsert); // the history is never written
    serverIPComboBox_->setCompleter(nullptr);                // what is typed is what is stored
    serverIPComboBox_->setDuplicatesEnabled(true);
    serverIPComboBox_->setItemDelegate(new HistoryRowDelegate(serverIPComboBox_));
    setTypingLimit(serverIPComboBox_->lineEdit(), kServerTypingLimit);
    // A picked history entry is shown whole, however long.
    connect(serverIPComboBox_, &QComboBox::textActivated, this,
            [this](const QString& text) { setFullText(serverIPComboBox_->lineEdit(), text); });

    addLabel(this, "portLabel", QStringLiteral("Port:"), QRect(24, 48, 22, 13));
    serverPortEdit_ = numericEdit(this, "serverPortEdit", QRect(120, 44, 29, 21), kPortDigits);
    addLabel(this, "defaultLabel", QStringLiteral("(default: 444)"), QRect(152, 48, 62, 13));
    addLabel(this, "msgSendLabel", QStringLiteral("Msg. send timeout:"), QRect(24, 72, 89, 13));
    timeoutEdit_ = numericEdit(this, "timeoutEdit", QRect(120, 68, 25, 21), kTimeoutDigits);
    addLabel(this, "Label10", QStringLiteral("(seconds)"), QRect(148, 72, 46, 13));
    addLabel(this, "Label5", QStringLiteral("Standard messages:"), QRect(12, 106, 96, 13));

    static constexpr std::array<const char*, 8> kNumberLabels = {
        "Label1", "Label2", "Label3", "Label4", "Label6", "Label7", "Label8", "Label9"};
    static constexpr std::array<const char*, 8> kMessageEdits = {
        "message1Edit", "message2Edit", "message3Edit", "message4Edit",
        "message5Edit", "message6Edit", "message7Edit", "message8Edit"};
    for (std::size_t i = 0; i < messageEdits_.size(); ++i) {
        const int top = 124 + 20 * static_cast<int>(i);
        addLabel(this, kNumberLabels[i], QString::number(i + 1), QRect(4, top + 4, 6, 13));
        messageEdits_[i] = placed(new QLineEdit(this), kMessageEdits[i], QRect(16, top, 269, 21));
        setTypingLimit(messageEdits_[i], kMessageTypingLimit);
    }

    okButton_ =
        placed(new QPushButton(QStringLiteral("OK"), this), "OKButton", QRect(124, 292, 75, 25));
    setStockIconWhenShown(okButton_, QStyle::SP_DialogOkButton);
    okButton_->setDefault(true);
    cancelButton_ = placed(new QPushButton(QStringLiteral("Cancel"), this), "cancelbutton",
                           QRect(208, 292, 75, 25));
    setStockIconWhenShown(cancelButton_, QStyle::SP_DialogCancelButton);
    connect(okButton_, &QPushButton::clicked, this, &TconfigForm::OKButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &TconfigForm::cancelbuttonClick);

    auto* optional = placed(new QGroupBox(QStringLiteral("Optional settings"), this), "optionalBox",
                            kOptionalBox);
    addLabel(optional, "loginIDLabel", QStringLiteral("Login ID:"), QRect(10, 26, 60, 13));
    loginIDEdit_ = placed(new QLineEdit(optional), "loginIDEdit", QRect(74, 22, 129, 21));
    setTypingLimit(loginIDEdit_, kLoginTypingLimit);
    // No blank or control character can be typed: the ID goes out as one word.
    loginIDEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^\\x00-\\x20\\x7f]*")), loginIDEdit_));
    addLabel(optional, "passwordLabel", QStringLiteral("Password:"), QRect(10, 50, 60, 13));
    passwordEdit_ = placed(new QLineEdit(optional), "passwordEdit", QRect(74, 46, 129, 21));
    passwordEdit_->setEchoMode(QLineEdit::Password);
    setTypingLimit(passwordEdit_, kLoginTypingLimit);
    loginNote_ =
        placed(new QLabel(loginNoteText(false), optional), "loginNote", QRect(10, 74, 193, 26));
    loginNote_->setTextFormat(Qt::PlainText);
    loginNote_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    loginNote_->setWordWrap(true);

    // The secure connection, below the login.
    useTLSCheckBox_ = placed(new QCheckBox(QStringLiteral("Secure connection (TLS)"), optional),
                             "useTLSCheckBox", QRect(10, 108, 193, 17));
    addLabel(optional, "tlsCAFileLabel", QStringLiteral("CA file:"), QRect(10, 136, 60, 13));
    tlsCAFileEdit_ = placed(new QLineEdit(optional), "tlsCAFileEdit", QRect(74, 132, 103, 21));
    setTypingLimit(tlsCAFileEdit_, kPathTypingLimit);
    tlsCAFileButton_ = placed(new QPushButton(QStringLiteral("..."), optional), "tlsCAFileButton",
                              QRect(180, 132, 23, 21));
    tlsCAFileButton_->setToolTip(QStringLiteral("Choose the PEM file of the CAs to trust"));
    auto* caNote = placed(new QLabel(QStringLiteral("Empty: the certificate authorities this "
                                                    "system trusts."),
                                     optional),
                          "tlsCAFileNote", QRect(10, 158, 193, 26));
    caNote->setTextFormat(Qt::PlainText);
    caNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    caNote->setWordWrap(true);
    keepHistoryCheckBox_ =
        placed(new QCheckBox(QStringLiteral("Keep a history of sent pages"), optional),
               "keepHistoryCheckBox", QRect(10, 192, 193, 17));

    // Long and multi-line messages, below the history.
    addLabel(optional, "messageLimitLabel", QStringLiteral("Split messages longer than"),
             QRect(10, 220, 136, 13));
    messageLimitEdit_ =
        numericEdit(optional, "messageLimitEdit", QRect(150, 216, 37, 21), kMessageLimitDigits);
    addLabel(optional, "messageLimitNote", QStringLiteral("characters (0: never)"),
             QRect(10, 242, 193, 13));
    useDataCheckBox_ = placed(new QCheckBox(QStringLiteral("Keep line breaks (DATA)"), optional),
                              "useDataCheckBox", QRect(10, 262, 193, 17));
    // Two lines: the box is narrower than the sentence.
    failoverCheckBox_ = placed(new QCheckBox(QStringLiteral("When a server fails, try the next\n"
                                                            "one in the list"),
                                             optional),
                               "failoverCheckBox", QRect(10, 280, 193, 24));

    connect(useTLSCheckBox_, &QCheckBox::toggled, this, &TconfigForm::useTLSToggled);
    connect(tlsCAFileButton_, &QPushButton::clicked, this, &TconfigForm::tlsCAFileButtonClick);
    useTLSToggled(false);

    QWidget* order[] = {okButton_, cancelButton_, serverPortEdit_, timeoutEdit_, serverIPComboBox_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    setTabOrder(serverIPComboBox_, messageEdits_[0]);
    for (std::size_t i = 1; i < messageEdits_.size(); ++i)
        setTabOrder(messageEdits_[i - 1], messageEdits_[i]);
    setTabOrder(messageEdits_.back(), loginIDEdit_);
    setTabOrder(loginIDEdit_, passwordEdit_);
    setTabOrder(passwordEdit_, useTLSCheckBox_);
    setTabOrder(useTLSCheckBox_, tlsCAFileEdit_);
    setTabOrder(tlsCAFileEdit_, tlsCAFileButton_);
    setTabOrder(tlsCAFileButton_, keepHistoryCheckBox_);
    setTabOrder(keepHistoryCheckBox_, messageLimitEdit_);
    setTabOrder(messageLimitEdit_, useDataCheckBox_);
    setTabOrder(useDataCheckBox_, failoverCheckBox_);
    okButton_->setFocus();
}

void TconfigForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnScreen(this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TconfigForm::FormShow() {
    serverIPComboBox_->clear();
    for (const std::string& entry : settings_.serverHistory)
        if (!entry.empty())
            serverIPComboBox_->addItem(fromStd(entry));
    setFullText(serverIPComboBox_->lineEdit(), fromStd(settings_.serverAddress));
    setFullText(serverPortEdit_, QString::number(settings_.serverPort));
    setFullText(timeoutEdit_, QString::number(settings_.sendTimeout));
    for (std::size_t i = 0; i < messageEdits_.size(); ++i)
        setFullText(messageEdits_[i], fromStd(settings_.standardMessages[i]));
    setFullText(loginIDEdit_, fromStd(settings_.loginID));
    setFullText(passwordEdit_, fromStd(settings_.password));
    useTLSCheckBox_->setChecked(settings_.useTLS);
    useTLSToggled(settings_.useTLS);
    setFullText(tlsCAFileEdit_, fromStd(settings_.tlsCAFile));
    keepHistoryCheckBox_->setChecked(settings_.keepHistory);
    setFullText(messageLimitEdit_, QString::number(settings_.messageLimit));
    useDataCheckBox_->setChecked(settings_.useData);
    failoverCheckBox_->setChecked(settings_.failover);
}

void TconfigForm::useTLSToggled(bool on) {
    tlsCAFileEdit_->setEnabled(on);
    tlsCAFileButton_->setEnabled(on);
    loginNote_->setText(loginNoteText(on));
}

void TconfigForm::tlsCAFileButtonClick() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("CA file"), tlsCAFileEdit_->text(),
        QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"));
    if (!file.isEmpty())
        setFullText(tlsCAFileEdit_, file);
}

void TconfigForm::OKButtonClick() {
    guarded(this, [this] {
        settings_.serverAddress = toStd(serverIPComboBox_->currentText());
        settings_.serverPort = fieldToInt(serverPortEdit_->text());
        settings_.sendTimeout = fieldToInt(timeoutEdit_->text());
        for (std::size_t i = 0; i < messageEdits_.size(); ++i)
            settings_.standardMessages[i] = toStd(messageEdits_[i]->text());
        std::string loginID = toStd(loginIDEdit_->text());
        if (!store::isLoginID(loginID)) // a stored one, shown as it was
            throw std::runtime_error(store::kBadLoginIDText);
        settings_.loginID = std::move(loginID);
        settings_.password = toStd(passwordEdit_->text());
        settings_.useTLS = useTLSCheckBox_->isChecked();
        settings_.tlsCAFile = toStd(tlsCAFileEdit_->text());
        settings_.keepHistory = keepHistoryCheckBox_->isChecked();
        const std::int32_t messageLimit = fieldToInt(messageLimitEdit_->text());
        if (!sending::isMessageLimit(messageLimit))
            throw std::runtime_error(kBadMessageLimitText);
        settings_.messageLimit = messageLimit;
        settings_.useData = useDataCheckBox_->isChecked();
        settings_.failover = failoverCheckBox_->isChecked();
        store::saveSettings(settings_);
        accept();
    });
}

void TconfigForm::cancelbuttonClick() {
    reject();
}

} // namespace dazoroz::ui
