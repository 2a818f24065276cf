#include "config.h"

#include "error_report.h"
#include "form_parts.h"
#include "password_keeper.h"

#include "sending/message_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

namespace dazoroz::ui {

namespace {

// Room for any IPv6 address: 45 characters at most, 2 brackets, and a zone (% and an interface
// name of up to 15 characters).
constexpr int kServerTypingLimit = 63;
constexpr int kPortDigits = 5;
constexpr int kTimeoutDigits = 2;
constexpr int kMessageTypingLimit = 100;
constexpr int kLoginTypingLimit = 100;
constexpr int kPathTypingLimit = 4096;
constexpr int kHighestPort = 65535;

// The specified client area, and the port field: 29 wide for three digits, two digits (6
// pixels each in the dialog's font) wider for five; the label after it moves by as much.
constexpr QSize kFoldedSize(296, 320);
constexpr int kPortWidening = 12;
// The optional settings: to the right of the others, at least as high as the controls on the
// left; the dialog grows by them when they unfold.
constexpr QPoint kOptionalPlace(296, 12);
constexpr int kOptionalWidth = 270;
constexpr int kOptionalMinHeight = 305; // down to the foot of OK and Cancel
constexpr int kMargin = 11;
constexpr int kOptionalFieldHeight = 21;
// More than the bytes of the longest message the window takes.
constexpr int kMessageLimitDigits = 4;
const char* const kBadMessageLimitText =
    "Messages can be split only into parts of 20 characters or more; 0 never splits";

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

QLabel* noteLabel(const QString& text) {
    auto* note = new QLabel(text);
    note->setTextFormat(Qt::PlainText);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setWordWrap(true);
    return note;
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

std::int32_t fieldToPort(const QString& text) {
    const std::int32_t port = fieldToInt(text);
    if (port > kHighestPort)
        throw std::runtime_error("'" + toStd(text) + "' is not a valid port number");
    return port;
}

bool TconfigForm::hasOptionalSettings(const store::Settings& s) {
    return !s.loginID.empty() || !s.password.empty() || s.useTLS || !s.tlsCAFile.empty() ||
           s.keepHistory || s.messageLimit != 0 || s.useData || s.failover;
}

template <class W>
W* TconfigForm::addOptionalRow(const char* labelName, const QString& label, W* field) {
    if (label.isEmpty()) {
        optionalRows_->addRow(field);
    } else {
        auto* caption = new QLabel(label);
        caption->setObjectName(QString::fromLatin1(labelName));
        caption->setTextFormat(Qt::PlainText);
        optionalRows_->addRow(caption, field);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->setFixedHeight(kOptionalFieldHeight);
    QList<QWidget*> parts{field};
    parts += field->template findChildren<QWidget*>();
    for (QWidget* part : parts) {
        if (part->focusPolicy() & Qt::TabFocus) {
            setTabOrder(lastInTabOrder_, part);
            lastInTabOrder_ = part;
        }
    }
    return field;
}

TconfigForm::TconfigForm(store::Settings& settings, QWidget* parent, PasswordKeeper* keeper)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings), keeper_(keeper) {
    setObjectName(QStringLiteral("configForm"));
    setWindowTitle(QStringLiteral("Dazoroz Configuration"));
    setFixedSize(kFoldedSize);

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
    serverPortEdit_ =
        numericEdit(this, "serverPortEdit", QRect(120, 44, 29 + kPortWidening, 21), kPortDigits);
    addLabel(this, "defaultLabel", QStringLiteral("(default: 444)"),
             QRect(152 + kPortWidening, 48, 62, 13));
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

    moreSettingsButton_ =
        placed(new QPushButton(this), "moreSettingsButton", QRect(12, 292, 100, 25));
    connect(moreSettingsButton_, &QPushButton::clicked, this,
            &TconfigForm::moreSettingsButtonClick);

    QWidget* order[] = {okButton_, cancelButton_, serverPortEdit_, timeoutEdit_, serverIPComboBox_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    setTabOrder(serverIPComboBox_, messageEdits_[0]);
    for (std::size_t i = 1; i < messageEdits_.size(); ++i)
        setTabOrder(messageEdits_[i - 1], messageEdits_[i]);
    setTabOrder(messageEdits_.back(), moreSettingsButton_);
    lastInTabOrder_ = moreSettingsButton_;

    // The optional settings, one row each, in tab order.
    optionalBox_ = placed(new QGroupBox(QStringLiteral("Optional settings"), this), "optionalBox",
                          QRect(kOptionalPlace, QSize(kOptionalWidth, kOptionalMinHeight)));
    optionalRows_ = new QFormLayout(optionalBox_);
    optionalRows_->setContentsMargins(10, 8, 10, 8);
    optionalRows_->setHorizontalSpacing(6);
    optionalRows_->setVerticalSpacing(4);
    optionalRows_->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    optionalRows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    optionalRows_->setRowWrapPolicy(QFormLayout::DontWrapRows);

    loginIDEdit_ = addOptionalRow("loginIDLabel", QStringLiteral("Login ID:"), new QLineEdit);
    loginIDEdit_->setObjectName(QStringLiteral("loginIDEdit"));
    setTypingLimit(loginIDEdit_, kLoginTypingLimit);
    // No blank or control character can be typed: the ID goes out as one word.
    loginIDEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^\\x00-\\x20\\x7f]*")), loginIDEdit_));
    passwordEdit_ = addOptionalRow("passwordLabel", QStringLiteral("Password:"), new QLineEdit);
    passwordEdit_->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit_->setEchoMode(QLineEdit::Password);
    setTypingLimit(passwordEdit_, kLoginTypingLimit);
    loginNote_ = addOptionalRow(nullptr, {}, noteLabel(loginNoteText(false)));
    loginNote_->setObjectName(QStringLiteral("loginNote"));
    passwordPlaceNote_ = addOptionalRow(nullptr, {}, noteLabel(QString()));
    passwordPlaceNote_->setObjectName(QStringLiteral("passwordPlaceNote"));

    // The secure connection, below the login.
    useTLSCheckBox_ =
        addOptionalRow(nullptr, {}, new QCheckBox(QStringLiteral("Secure connection (TLS)")));
    useTLSCheckBox_->setObjectName(QStringLiteral("useTLSCheckBox"));
    auto* caFileRow = new QWidget;
    auto* caFileParts = new QHBoxLayout(caFileRow);
    caFileParts->setContentsMargins(0, 0, 0, 0);
    caFileParts->setSpacing(3);
    tlsCAFileEdit_ = new QLineEdit(caFileRow);
    tlsCAFileEdit_->setObjectName(QStringLiteral("tlsCAFileEdit"));
    tlsCAFileEdit_->setFixedHeight(kOptionalFieldHeight);
    setTypingLimit(tlsCAFileEdit_, kPathTypingLimit);
    tlsCAFileButton_ = new QPushButton(QStringLiteral("..."), caFileRow);
    tlsCAFileButton_->setObjectName(QStringLiteral("tlsCAFileButton"));
    tlsCAFileButton_->setFixedSize(23, kOptionalFieldHeight);
    tlsCAFileButton_->setToolTip(QStringLiteral("Choose the PEM file of the CAs to trust"));
    caFileParts->addWidget(tlsCAFileEdit_);
    caFileParts->addWidget(tlsCAFileButton_);
    addOptionalRow("tlsCAFileLabel", QStringLiteral("CA file:"), caFileRow);
    addOptionalRow(nullptr, {},
                   noteLabel(QStringLiteral("Empty: the certificate authorities this "
                                            "system trusts.")))
        ->setObjectName(QStringLiteral("tlsCAFileNote"));
    keepHistoryCheckBox_ =
        addOptionalRow(nullptr, {}, new QCheckBox(QStringLiteral("Keep a history of sent pages")));
    keepHistoryCheckBox_->setObjectName(QStringLiteral("keepHistoryCheckBox"));

    // Long and multi-line messages, below the history.
    auto* messageLimitRow = new QWidget;
    auto* messageLimitParts = new QHBoxLayout(messageLimitRow);
    messageLimitParts->setContentsMargins(0, 0, 0, 0);
    messageLimitParts->addWidget(
        placed(new QLabel(QStringLiteral("Split messages longer than")), "messageLimitLabel", {}));
    messageLimitEdit_ = numericEdit(messageLimitRow, "messageLimitEdit", {}, kMessageLimitDigits);
    messageLimitEdit_->setFixedSize(37, kOptionalFieldHeight);
    messageLimitParts->addWidget(messageLimitEdit_);
    messageLimitParts->addStretch();
    addOptionalRow(nullptr, {}, messageLimitRow);
    addOptionalRow(nullptr, {}, noteLabel(QStringLiteral("characters (0: never)")))
        ->setObjectName(QStringLiteral("messageLimitNote"));
    useDataCheckBox_ =
        addOptionalRow(nullptr, {}, new QCheckBox(QStringLiteral("Keep line breaks (DATA)")));
    useDataCheckBox_->setObjectName(QStringLiteral("useDataCheckBox"));
    failoverCheckBox_ = addOptionalRow(
        nullptr, {},
        new QCheckBox(QStringLiteral("When a server fails, try the next one in the list")));
    failoverCheckBox_->setObjectName(QStringLiteral("failoverCheckBox"));

    connect(useTLSCheckBox_, &QCheckBox::toggled, this, &TconfigForm::useTLSToggled);
    connect(tlsCAFileButton_, &QPushButton::clicked, this, &TconfigForm::tlsCAFileButtonClick);
    useTLSToggled(false);

    if (keeper_ != nullptr) {
        connect(keeper_, &PasswordKeeper::placeChanged, this, &TconfigForm::showPasswordPlace);
        // A password that arrives from the keyring while the dialog is open is shown at once.
        connect(keeper_, &PasswordKeeper::readingDone, this, [this] {
            if (isVisible() && !passwordEdit_->isEnabled())
                setFullText(passwordEdit_, fromStd(settings_.password));
            showPasswordPlace();
        });
    }
    showPasswordPlace();
    setUnfolded(false);
    okButton_->setFocus();
}

bool TconfigForm::unfolded() const {
    return !optionalBox_->isHidden();
}

void TconfigForm::setUnfolded(bool on) {
    moreSettingsButton_->setText(on ? QStringLiteral("Fewer settings")
                                    : QStringLiteral("More settings"));
    optionalBox_->setVisible(on);
    if (!on) {
        setFixedSize(kFoldedSize);
        return;
    }
    const int height =
        std::max(kOptionalMinHeight, optionalRows_->totalHeightForWidth(kOptionalWidth));
    optionalBox_->resize(kOptionalWidth, height);
    setFixedSize(kOptionalPlace.x() + kOptionalWidth + kMargin,
                 std::max(kFoldedSize.height(), kOptionalPlace.y() + height + kMargin));
}

void TconfigForm::moreSettingsButtonClick() {
    setUnfolded(!unfolded());
}

void TconfigForm::showPasswordPlace() {
    // Only a keeper knows of a keyring; without one the password goes to the file, as always.
    passwordPlaceNote_->setText(
        keeper_ != nullptr ? keeper_->placeText()
                           : QStringLiteral("The password is kept in dazoroz.ini, readable by "
                                            "you alone."));
    passwordEdit_->setEnabled(keeper_ == nullptr || !keeper_->reading());
}

void TconfigForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FormShow(); // first: it sets the size
        centreOnScreen(this);
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
    showPasswordPlace();
    setUnfolded(hasOptionalSettings(settings_));
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
        settings_.serverPort = fieldToPort(serverPortEdit_->text());
        settings_.sendTimeout = fieldToInt(timeoutEdit_->text());
        for (std::size_t i = 0; i < messageEdits_.size(); ++i)
            settings_.standardMessages[i] = toStd(messageEdits_[i]->text());
        std::string loginID = toStd(loginIDEdit_->text());
        if (!store::isLoginID(loginID)) // a stored one, shown as it was
            throw std::runtime_error(store::kBadLoginIDText);
        settings_.loginID = std::move(loginID);
        if (passwordEdit_->isEnabled()) // else still on its way from the keyring
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
        if (keeper_ != nullptr)
            keeper_->save();
        else
            store::saveSettings(settings_);
        accept();
    });
}

void TconfigForm::cancelbuttonClick() {
    reject();
}

} // namespace dazoroz::ui
