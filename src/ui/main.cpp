#include "main.h"

#include "about.h"
#include "addname.h"
#include "config.h"
#include "error_report.h"
#include "form_parts.h"
#include "history.h"
#include "instructions.h"
#include "keyring.h"
#include "names_checklist.h"
#include "password_keeper.h"
#include "pictures.h"

#include "net/qt_event_loop.h"
#include "net/vlm_ipport.h"
#include "sending/history_record.h"
#include "sending/message_parts.h"
#include "sending/port_connection.h"
#include "store/names_list.h"
#include "store/printable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <qdrawutil.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <utility>

namespace dazoroz::ui {

namespace {

constexpr int kMessageLimit = 999;
constexpr int kPagerNumberLimit = 10;
constexpr int kTimerInterval = 333;
constexpr int kBannerStep = 4;
constexpr int kBannerRestart = 2;

QString fromStd(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string toStd(const QString& s) {
    return s.toUtf8().toStdString();
}

bool isLineBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

// Cost of the character at i (and how many QChars it takes): a line break (CR LF counted once)
// is two, any other character one.
std::pair<int, qsizetype> characterAt(const QString& text, qsizetype i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
        return {2, 2};
    if (isLineBreak(c))
        return {2, 1};
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        return {1, 2};
    return {1, 1};
}

// The longest beginning of `text` whose length fits `room`; line breaks become LF.
QString fitting(const QString& text, int room) {
    QString out;
    int used = 0;
    for (qsizetype i = 0; i < text.size();) {
        const auto [cost, width] = characterAt(text, i);
        if (used + cost > room)
            break;
        used += cost;
        out += isLineBreak(text.at(i)) ? QString(QLatin1Char('\n')) : text.mid(i, width);
        i += width;
    }
    return out;
}

// A key that types text into an edit: printable, without Ctrl, Alt or Meta.
bool typesText(const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return !text.isEmpty() && text.front().isPrint();
}

// A label whose width follows its text.
void setCaption(QLabel* label, const QString& text) {
    label->setText(text);
    label->resize(label->sizeHint().width(), label->height());
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, colour);
    widget->setPalette(pal);
}

QPushButton* addButton(QWidget* parent, const char* name, const QString& caption,
                       const QRect& geometry) {
    return placed(new QPushButton(caption, parent), name, geometry);
}

QPushButton* addPictureButton(QWidget* parent, const char* name, const QString& caption,
                              const QRect& geometry, const QIcon& picture) {
    QPushButton* button = addButton(parent, name, caption, geometry);
    button->setIcon(picture);
    button->setIconSize(QSize(16, 16));
    return button;
}

// The block caret of the pager-number field in overwrite mode: the caret is as wide as the
// character it stands on (the caret is drawn inverting, so the character stays readable).
class CaretStyle : public QProxyStyle {
public:
    explicit CaretStyle(PagerNumberEdit* edit) : edit_(edit) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TextCursorWidth && edit_->overwriteMode()) {
            const QFontMetrics fm(edit_->font());
            const QString text = edit_->text();
            const int pos = edit_->cursorPosition();
            const int width =
                pos < text.size() ? fm.horizontalAdvance(text.at(pos)) : fm.averageCharWidth();
            return std::max(width, 2);
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    PagerNumberEdit* edit_; // owns this style
};

} // namespace

int messageLength(const QString& text) {
    int length = 0;
    for (qsizetype i = 0; i < text.size();) {
        const auto [cost, width] = characterAt(text, i);
        length += cost;
        i += width;
    }
    return length;
}

// --- MessageMemo ---------------------------------------------------------------------------

MessageMemo::MessageMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
}

QString MessageMemo::text() const {
    QString raw = document()->toRawText();
    QString out;
    out.reserve(raw.size());
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += QStringLiteral("\r\n");
        else
            out += c;
    }
    return out;
}

int MessageMemo::room() const {
    const int selected = messageLength(textCursor().selectedText());
    return limit_ - (messageLength(text()) - selected);
}

void MessageMemo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore(); // no line breaks from the keyboard
        return;
    }
    if (typesText(event) && messageLength(event->text()) > room()) {
        event->accept();
        QApplication::beep();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MessageMemo::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (commit.isEmpty() || messageLength(commit) <= room()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QApplication::beep();
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(fitting(commit, room()), event->replacementStart(),
                        event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&cut);
    event->accept();
}

void MessageMemo::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr || !source->hasText())
        return;
    const QString text = source->text();
    const QString fits = fitting(text, room());
    if (fits.size() < text.size())
        QApplication::beep();
    if (fits.isEmpty())
        return;
    textCursor().insertText(fits);
    ensureCursorVisible();
}

// --- PagerNumberEdit -----------------------------------------------------------------------

PagerNumberEdit::PagerNumberEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(kPagerNumberLimit);
    setCursor(Qt::IBeamCursor);
    connect(this, &QLineEdit::inputRejected, this, [] { QApplication::beep(); });
    // Owned by the field; the field falls back to the application style once it is gone.
    auto* style = new CaretStyle(this);
    style->setParent(this);
    setStyle(style);
    // Disabled, the field shows the window's background and greyed text.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::Base, pal.color(QPalette::Active, QPalette::Window));
    pal.setColor(QPalette::Disabled, QPalette::Text,
                 pal.color(QPalette::Disabled, QPalette::WindowText));
    setPalette(pal);
}

void PagerNumberEdit::setOverwriteMode(bool on) {
    overwrite_ = on;
    update();
}

void PagerNumberEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // A mouse press places the caret right after; every other way in selects the whole text.
    if (event->reason() != Qt::MouseFocusReason)
        selectAll();
}

void PagerNumberEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
        setOverwriteMode(!overwrite_);
        event->accept();
        return;
    }
    if (overwrite_ && typesText(event) && !hasSelectedText() && cursorPosition() < text().size()) {
        // Overwrite: the typed character replaces the one after the caret.
        const int pos = cursorPosition();
        const QString typed = event->text();
        setSelection(pos, static_cast<int>(std::min<qsizetype>(typed.size(), text().size() - pos)));
    }
    QLineEdit::keyPressEvent(event);
    update(); // the block caret follows the character under it
}

// --- BevelPanel ----------------------------------------------------------------------------

BevelPanel::BevelPanel(bool outerRaised, bool innerRaised, QWidget* parent)
    : QWidget(parent), outerRaised_(outerRaised), innerRaised_(innerRaised) {}

void BevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    qDrawShadePanel(&painter, r, palette(), !outerRaised_, 1);
    qDrawShadePanel(&painter, r.adjusted(1, 1, -1, -1), palette(), !innerRaised_, 1);
}

// --- Tmainform -----------------------------------------------------------------------------

Tmainform::Tmainform(store::Settings& settings, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings) {
    setObjectName(QStringLiteral("mainform"));
    setWindowTitle(QStringLiteral("Dazoroz"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(529, 360);
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    buildControls(client);
    buildMenu();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    clientSocket_ = std::make_unique<net::TvlmIPPort>(net::QtEventLoop::instance());
    connection_ = std::make_unique<sending::PortConnection>(*clientSocket_);
    sending::SendWindow& window = *this;
    sendLogic_ = std::make_unique<sending::SendLogic>(*connection_, window, settings_);
    historyRecord_ = std::make_unique<sending::HistoryRecord>(
        "window", store::historyFilePath(),
        [this](const std::string& error) {
            setStatusBarText("History could not be written: " + store::printable(error));
        },
        [this] {
            if (history_ != nullptr && history_->isVisible())
                history_->reload();
        });
    sendLogic_->setRecord(historyRecord_.get());
    bindPort();

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kTimerInterval);
    connect(Timer1_, &QTimer::timeout, this, &Tmainform::Timer1Timer);
    Timer1_->start();

    keyringWait_ = new QTimer(this);
    keyringWait_->setSingleShot(true);
    connect(keyringWait_, &QTimer::timeout, this, &Tmainform::keyringTimedOut);
}

void Tmainform::setPasswordKeeper(PasswordKeeper* keeper) {
    if (keeper_ != nullptr)
        disconnect(keeper_, nullptr, this, nullptr);
    keeper_ = keeper;
    if (keeper_ != nullptr)
        connect(keeper_, &PasswordKeeper::readingDone, this, &Tmainform::keyringAnswered);
}

Tmainform::~Tmainform() {
    Timer1_->stop();
    // No event may reach the send logic while the port goes; destroying it resets the
    // connection.
    clientSocket_->OnConnected = nullptr;
    clientSocket_->OnDataIn = nullptr;
    clientSocket_->OnDisconnected = nullptr;
    clientSocket_->OnError = nullptr;
    clientSocket_->OnUnhandledException = nullptr;
    clientSocket_.reset();
}

void Tmainform::buildControls(QWidget* client) {
    addBevel(client, "Bevel3", QRect(4, 24, 245, 145));
    addAutoSizeLabel(client, "Label1", QStringLiteral("Message:"), 8, 70, 13);
    addAutoSizeLabel(client, "Label2", QStringLiteral("Pager Number:"), 8, 26, 13);
    addBevel(client, "Bevel2", QRect(256, 24, 269, 201));
    addBevel(client, "Bevel1", QRect(4, 176, 245, 49));
    addAutoSizeLabel(client, "Label3", QStringLiteral("Message Status:"), 8, 208, 13);
    messageStatusLabel_ =
        addAutoSizeLabel(client, "messageStatusLabel", QStringLiteral("NONE"), 92, 208, 13);
    addAutoSizeLabel(client, "Label4", QStringLiteral("Names List:  (click to select)"), 260, 28,
                     13);
    addAutoSizeLabel(client, "standardMessagesLabel", QStringLiteral("Standard messages:"), 12, 149,
                     13);
    lengthLabel_ = addAutoSizeLabel(client, "lengthLabel", QStringLiteral("(0)"), 72, 70, 13);
    // Beside the counter, while messages are split.
    pagesLabel_ = addAutoSizeLabel(client, "pagesLabel", QString(), 100, 70, 13);
    pagesLabel_->hide();

    messageMemo_ = placed(new MessageMemo(client), "messageMemo", QRect(8, 84, 237, 61));
    messageMemo_->setTypingLimit(kMessageLimit);
    connect(messageMemo_, &QPlainTextEdit::textChanged, this, &Tmainform::messageMemoChange);

    idEditField_ = placed(new PagerNumberEdit(client), "idEditField", QRect(8, 40, 77, 21));

    clearButton_ = addPictureButton(client, "clearButton", QStringLiteral("Clear &Message"),
                                    QRect(144, 64, 101, 21), clearPicture());
    connect(clearButton_, &QPushButton::clicked, this, &Tmainform::clearButtonClick);
    QPushButton* add =
        addButton(client, "AddButton", QStringLiteral("&Add..."), QRect(448, 44, 73, 21));
    connect(add, &QPushButton::clicked, this, &Tmainform::AddButtonClick);
    QPushButton* del =
        addButton(client, "deleteButton", QStringLiteral("&Delete"), QRect(448, 68, 73, 21));
    connect(del, &QPushButton::clicked, this, &Tmainform::deleteButtonClick);
    QPushButton* edit =
        addButton(client, "editNameButton", QStringLiteral("&Edit..."), QRect(448, 92, 73, 21));
    connect(edit, &QPushButton::clicked, this, &Tmainform::editNameButtonClick);
    sendButton_ = addPictureButton(client, "sendButton", QStringLiteral("&Send"),
                                   QRect(8, 180, 113, 25), sendPicture());
    connect(sendButton_, &QPushButton::clicked, this, &Tmainform::sendButtonClick);
    cancelSendButton_ = addPictureButton(client, "cancelSendButton", QStringLiteral("&Cancel"),
                                         QRect(132, 180, 113, 25), cancelSendPicture());
    connect(cancelSendButton_, &QPushButton::clicked, this, &Tmainform::cancelSendButtonClick);

    StatusBar1_ = placed(new QStatusBar(client), "StatusBar1", QRect(0, 341, 529, 19));
    StatusBar1_->setSizeGripEnabled(false);
    StatusBar1_->setFocusPolicy(Qt::NoFocus);
    // One permanent line of simple text (showMessage would be temporary).
    statusText_ = new QLabel(StatusBar1_);
    statusText_->setObjectName(QStringLiteral("simpleText"));
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1_->addWidget(statusText_, 1);

    messagePanel_ =
        placed(new BevelPanel(true, true, client), "messagePanel", QRect(0, 0, 529, 21));
    messageLabel_ = addAutoSizeLabel(messagePanel_, "messageLabel", QString(), 4, 4, 13);
    setTextColour(messageLabel_, Qt::blue);

    std::array<QPushButton*, 8> picks{};
    for (int n = 1; n <= 8; ++n) {
        const QByteArray name = "pickButton" + QByteArray::number(n);
        QPushButton* pick = addButton(client, name.constData(), QString::number(n),
                                      QRect(113 + 17 * (n - 1), 146, 13, 21));
        connect(pick, &QPushButton::clicked, this, [this, n] { pickButtonClick(n); });
        picks[static_cast<std::size_t>(n - 1)] = pick;
    }

    namesListbox_ = placed(new NamesCheckList(client), "namesListbox", QRect(260, 42, 185, 179));
    connect(namesListbox_, &NamesCheckList::listClicked, this, &Tmainform::namesListBoxClick);
    connect(namesListbox_, &NamesCheckList::stateChanged, this,
            &Tmainform::namesListboxStateChange);
    connect(namesListbox_, &NamesCheckList::listDoubleClicked, this,
            &Tmainform::editNameButtonClick);

    QPushButton* uncheckAll = addButton(client, "uncheckAllButton", QStringLiteral("De-select All"),
                                        QRect(448, 156, 73, 21));
    connect(uncheckAll, &QPushButton::clicked, this, &Tmainform::uncheckAllButtonClick);

    selectingPanel_ =
        placed(new BevelPanel(false, true, client), "selectingPanel", QRect(120, 28, 125, 33));
    QLabel* hint = addAutoSizeLabel(selectingPanel_, "Label6",
                                    QStringLiteral(" SELECT RECIPIENTS "), 6, 4, 13);
    hint->setAutoFillBackground(true);
    QPalette yellow = hint->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    hint->setPalette(yellow);
    addAutoSizeLabel(selectingPanel_, "Label7", QStringLiteral("by checking names -->"), 8, 16, 13);
    selectingPanel_->hide();

    QPushButton* checkAll =
        addButton(client, "checkAllButton", QStringLiteral("Select All"), QRect(448, 132, 73, 21));
    connect(checkAll, &QPushButton::clicked, this, &Tmainform::checkAllButtonClick);

    sendingMemo_ = placed(new QPlainTextEdit(client), "sendingMemo", QRect(4, 248, 521, 93));
    sendingMemo_->setReadOnly(true);
    sendingMemo_->setTabChangesFocus(true);
    sendingMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    sendingMemo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sendingMemo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    QPushButton* instructions = addButton(client, "instructionsButton",
                                          QStringLiteral("Instructions"), QRect(448, 198, 73, 21));
    connect(instructions, &QPushButton::clicked, this, &Tmainform::instructionsButtonClick);

    // Tab order: the field, the memo, Send, Cancel, Clear, Add, Delete, Edit, the standard
    // messages, the list, De-select All, Select All, the log, Instructions.
    QList<QWidget*> order{idEditField_, messageMemo_, sendButton_, cancelSendButton_,
                          clearButton_, add,          del,         edit};
    for (QPushButton* pick : picks)
        order.append(pick);
    order.append({namesListbox_, uncheckAll, checkAll, sendingMemo_, instructions});
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Tmainform::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setNativeMenuBar(false);
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction* exit = file->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("Exit1"));
    connect(exit, &QAction::triggered, this, &Tmainform::Exit1Click);
    QAction* configure = bar->addAction(QStringLiteral("Configure"));
    configure->setObjectName(QStringLiteral("Configure1"));
    connect(configure, &QAction::triggered, this, &Tmainform::configureButtonClick);
    QAction* about = bar->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("About1"));
    connect(about, &QAction::triggered, this, &Tmainform::aboutButtonClick);
    QAction* history = bar->addAction(QStringLiteral("History"));
    history->setObjectName(QStringLiteral("History1"));
    connect(history, &QAction::triggered, this, &Tmainform::historyButtonClick);
}

void Tmainform::bindPort() {
    net::TvlmIPPort& port = *clientSocket_;
    // Handlers let exceptions go back to the port, which passes them to whoever made it act:
    // a property write inside a guarded handler, or OnUnhandledException.
    port.OnConnected = [this](net::TvlmIPPort&, int status, const std::string& description) {
        sendLogic_->clientSocketConnected(status, description);
    };
    port.OnDataIn = [this](net::TvlmIPPort&, const std::string& text, bool eol) {
        sendLogic_->clientSocketDataIn(text, eol);
    };
    port.OnDisconnected = [this](net::TvlmIPPort&, int status, const std::string& description) {
        sendLogic_->clientSocketDisconnected(status, description);
    };
    port.OnError = [this](net::TvlmIPPort&, int code, const std::string& description) {
        sendLogic_->clientSocketError(code, description);
    };
    port.OnUnhandledException = [this](net::TvlmIPPort&, std::exception_ptr error) {
        reportPortException(std::move(error));
    };
}

void Tmainform::reportPortException(std::exception_ptr error) noexcept {
    try {
        guarded(this, [&error] { std::rethrow_exception(error); });
    } catch (...) { // NOLINT(bugprone-empty-catch): the report itself failed; nothing is left
    }
}

// --- start-up and shutdown ---

void Tmainform::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnScreen(this);
        guarded(this, [this] { FormShow(); });
    }
    QMainWindow::showEvent(event);
}

void Tmainform::FormShow() {
    const std::string passedOver = store::loadSettings(settings_);
    if (keeper_ != nullptr)
        keeper_->load();
    namesListbox_->clearEntries();
    setCaption(messageLabel_, QString());
    namesListbox_->namesModel().loadNames();
    clearButtonClick();
    sendLogic_->reset();
    idEditField_->setFocus();
    if (!passedOver.empty())
        setStatusBarText(passedOver);
}

void Tmainform::closeEvent(QCloseEvent* event) {
    guarded(this, [this] { FormClose(); });
    // Closing the main window ends the program: no other window stays open.
    for (QWidget* w :
         {static_cast<QWidget*>(windows_.instructions), static_cast<QWidget*>(windows_.about),
          static_cast<QWidget*>(windows_.addName), static_cast<QWidget*>(windows_.config),
          static_cast<QWidget*>(history_)})
        if (w != nullptr)
            w->hide();
    event->accept();
}

void Tmainform::FormClose() {
    saveNames();
}

void Tmainform::saveNames() {
    namesListbox_->namesModel().saveNames(); // a failure is not reported, as at the close
}

void Tmainform::Exit1Click() {
    close();
}

// --- message ---

void Tmainform::messageMemoChange() {
    setCaption(lengthLabel_, QStringLiteral("(%1)").arg(messageLength(messageMemo_->text())));
    showPageCount();
}

void Tmainform::showPageCount() {
    pagesLabel_->setVisible(settings_.messageLimit > 0);
    if (settings_.messageLimit <= 0)
        return;
    const std::string message = messageText();
    const std::size_t pages =
        message.empty()
            ? 0
            : sending::messageParts(message, settings_.messageLimit, settings_.useData).size();
    const int left = lengthLabel_->geometry().right() + 4;
    setCaption(pagesLabel_,
               pages == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(pages));
    // Short where the words would run under Clear Message.
    if (left + pagesLabel_->width() > clearButton_->x() - 2)
        setCaption(pagesLabel_, QStringLiteral("%1 pp.").arg(pages));
    pagesLabel_->move(left, lengthLabel_->y());
}

void Tmainform::clearButtonClick() {
    messageMemo_->clear();
    messageMemoChange();
}

void Tmainform::pickButtonClick(int n) {
    const std::string& message = settings_.standardMessages.at(static_cast<std::size_t>(n - 1));
    if (message.empty())
        return;
    messageMemo_->setPlainText(fromStd(message));
}

// --- recipients ---

void Tmainform::namesListBoxClick() {
    if (namesListbox_->checkedCount() > 0)
        return;
    const int row = namesListbox_->selectedRow();
    if (row < 0)
        return;
    const std::string id = store::retrieveID(namesListbox_->text(row));
    idEditField_->setEnabled(true);
    selectingPanel_->hide();
    idEditField_->setText(fromStd(id));
}

void Tmainform::namesListboxStateChange(int, bool, bool newChecked) {
    if (!newChecked)
        return;
    toMultiRecipientMode();
}

void Tmainform::toMultiRecipientMode() {
    idEditField_->clear();
    idEditField_->setEnabled(false);
    selectingPanel_->show();
}

void Tmainform::checkAllButtonClick() {
    for (int row = 0; row < namesListbox_->count(); ++row)
        namesListbox_->setChecked(row, true);
    toMultiRecipientMode();
}

void Tmainform::uncheckAllButtonClick() {
    for (int row = 0; row < namesListbox_->count(); ++row)
        namesListbox_->setChecked(row, false);
    idEditField_->clear();
    idEditField_->setEnabled(true);
    selectingPanel_->hide();
}

// --- names list entries ---

void Tmainform::AddButtonClick() {
    guarded(this, [this] { addName(); });
}

void Tmainform::editNameButtonClick() {
    guarded(this, [this] { editName(); });
}

void Tmainform::deleteButtonClick() {
    guarded(this, [this] {
        const int row = namesListbox_->selectedRow();
        if (row < 0)
            return;
        namesListbox_->removeEntry(row);
        saveNames();
    });
}

void Tmainform::addName() {
    if (windows_.addName == nullptr)
        return;
    TaddNameForm& form = *windows_.addName;
    form.setFields(QString(), QString());
    if (form.exec() != QDialog::Accepted)
        return;
    const QString name = form.name();
    const QString number = form.pagerNumber();
    if (name.isEmpty() || number.isEmpty())
        return;
    namesListbox_->addEntry(toStd(joinEntry(name, number)));
    saveNames();
}

void Tmainform::editName() {
    const int row = namesListbox_->selectedRow();
    if (row < 0 || windows_.addName == nullptr)
        return;
    TaddNameForm& form = *windows_.addName;
    const EntryParts parts = splitEntry(fromStd(namesListbox_->text(row)));
    form.setFields(parts.name, parts.pagerNumber);
    if (form.exec() != QDialog::Accepted)
        return;
    const QString name = form.name();
    const QString number = form.pagerNumber();
    if (name.isEmpty() || number.isEmpty())
        return;
    namesListbox_->removeEntry(row);
    namesListbox_->addEntry(toStd(joinEntry(name, number)));
    saveNames();
}

// --- sending ---

void Tmainform::sendButtonClick() {
    if (waitingForKeyring_)
        return; // a second Send is ignored, as during a send
    if (keeper_ != nullptr && keeper_->reading() && sendLogic_->sendState() == sending::ssIdle) {
        // The password is still on its way from the keyring: the send starts once it has come,
        // and fails when it has not come within the send time-out.
        waitingForKeyring_ = true;
        setStatusBarText("Waiting for the desktop keyring to give the password...");
        if (settings_.sendTimeout > 0)
            keyringWait_->start(static_cast<int>(
                std::min<std::int64_t>(settings_.sendTimeout * std::int64_t{1000}, INT_MAX)));
        return;
    }
    startSend();
}

void Tmainform::startSend() {
    guarded(this, [this] { sendLogic_->sendButtonClick(); });
}

void Tmainform::keyringAnswered() {
    if (!waitingForKeyring_)
        return;
    waitingForKeyring_ = false;
    keyringWait_->stop();
    startSend();
}

void Tmainform::keyringTimedOut() {
    waitingForKeyring_ = false;
    setStatusWord("FAIL");
    setStatusBarText("Error: the desktop keyring did not give the password within the send "
                     "time-out");
}

void Tmainform::cancelSendButtonClick() {
    waitingForKeyring_ = false;
    keyringWait_->stop();
    guarded(this, [this] { sendLogic_->cancelSendButtonClick(); });
}

void Tmainform::Timer1Timer() {
    guarded(this, [this] {
        sendLogic_->watchdogTick();
        // The banner travels right and starts again at the left once its end reaches the
        // panel's right edge.
        if (messageLabel_->text().isEmpty())
            return;
        const QRect g = messageLabel_->geometry();
        if (g.x() + g.width() < messagePanel_->width())
            messageLabel_->move(g.x() + kBannerStep, g.y());
        else
            messageLabel_->move(kBannerRestart, g.y());
    });
}

// --- other windows ---

void Tmainform::instructionsButtonClick() {
    if (windows_.instructions != nullptr)
        windows_.instructions->showOrRaise();
}

void Tmainform::configureButtonClick() {
    if (windows_.config != nullptr)
        guarded(this, [this] {
            windows_.config->exec();
            showPageCount(); // the limit may have changed
        });
}

void Tmainform::aboutButtonClick() {
    if (windows_.about != nullptr)
        windows_.about->exec();
}

void Tmainform::historyButtonClick() {
    historyForm().showOrRaise();
}

ThistoryForm& Tmainform::historyForm() {
    if (history_ == nullptr) {
        history_ = new ThistoryForm(settings_, this);
        connect(history_, &ThistoryForm::sendAgainRequested, this, &Tmainform::sendAgain);
    }
    return *history_;
}

void Tmainform::sendAgain(const QString& message, const QList<PageRecipient>& recipients) {
    // Line breaks as the memo keeps them; it takes a message put in whole.
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    messageMemo_->setPlainText(text);
    uncheckAllButtonClick();
    setStatusBarText({});
    if (recipients.size() == 1) {
        idEditField_->setText(recipients.front().pagerID);
    } else {
        QStringList missing;
        for (const PageRecipient& recipient : recipients) {
            int found = -1;
            for (int row = 0; row < namesListbox_->count() && found < 0; ++row) {
                const std::string& entry = namesListbox_->text(row);
                if (fromStd(store::retrieveID(entry)) == recipient.pagerID &&
                    (recipient.name.isEmpty() ||
                     fromStd(store::retrieveName(entry))
                             .compare(recipient.name, Qt::CaseInsensitive) == 0))
                    found = row;
            }
            if (found >= 0)
                namesListbox_->setChecked(found, true);
            else
                missing << (recipient.name.isEmpty()
                                ? recipient.pagerID
                                : recipient.name + QStringLiteral(", ") + recipient.pagerID);
        }
        if (namesListbox_->checkedCount() > 0)
            toMultiRecipientMode();
        if (!missing.isEmpty())
            setStatusBarText("Not in the names list: " +
                             store::printable(toStd(missing.join(QStringLiteral("; ")))));
    }
    raise();
    activateWindow();
}

// --- the send logic's view of the window ---

void Tmainform::setStatusWord(const std::string& word) {
    setCaption(messageStatusLabel_, fromStd(word));
}

void Tmainform::clearLog() {
    sendingMemo_->clear();
}

void Tmainform::appendLog(const std::string& line) {
    sendingMemo_->appendPlainText(fromStd(line));
}

void Tmainform::setStatusBarText(const std::string& text) {
    statusBarText_ = fromStd(text);
    // One line: a server reply's line end is not shown.
    QString shown = statusBarText_;
    while (!shown.isEmpty() && isLineBreak(shown.back()))
        shown.chop(1);
    for (QChar& c : shown)
        if (isLineBreak(c))
            c = QLatin1Char(' ');
    statusText_->setText(shown);
}

void Tmainform::setBanner(const std::string& text) {
    setCaption(messageLabel_, fromStd(text));
}

std::string Tmainform::pagerNumber() const {
    return toStd(idEditField_->text());
}

std::string Tmainform::messageText() const {
    return toStd(messageMemo_->text());
}

int Tmainform::nameCount() const {
    return namesListbox_->count();
}

std::string Tmainform::nameText(int row) const {
    return namesListbox_->text(row);
}

bool Tmainform::nameChecked(int row) const {
    return namesListbox_->isChecked(row);
}

// --- ProgramWindows ------------------------------------------------------------------------

ProgramWindows::ProgramWindows(store::Settings& settings)
    : mainform_(std::make_unique<Tmainform>(settings)) {
    Tmainform* main = mainform_.get();
    windows_.about = new TAboutform(main);
    windows_.addName = new TaddNameForm(main);
    keyring_ = new DesktopKeyring(main);
    keeper_ = new PasswordKeeper(settings, *keyring_, main);
    keeper_->setParent(main);
    main->setPasswordKeeper(keeper_);
    windows_.config = new TconfigForm(settings, main, keeper_);
    windows_.instructions = new TinstructionsForm(main);
    main->setWindows(windows_);
}

ProgramWindows::~ProgramWindows() = default;

} // namespace dazoroz::ui
