#pragma once

#include "sending/send_logic.h"
#include "store/settings.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>

#include <exception>
#include <memory>
#include <string>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;

namespace dazoroz::net {
class TvlmIPPort;
}

namespace dazoroz::sending {
class HistoryRecord;
}

namespace dazoroz::ui {

class DesktopKeyring;
class NamesCheckList;
class PasswordKeeper;
class TAboutform;
class TaddNameForm;
class TconfigForm;
class TinstructionsForm;
class ThistoryForm;
struct PageRecipient;

// Length of a message as the counter shows it and as the typing limit counts it: one per
// character (a character outside the BMP is one), two per line break (CR LF).
int messageLength(const QString& text);

// The message memo: at most `limit` characters (messageLength) may be typed or pasted; a paste
// that does not fit is cut to what fits, a keystroke that does not fit beeps. Text the program
// puts in with setPlainText is taken whole. Enter, with any modifier, inserts no line break.
class MessageMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageMemo(QWidget* parent = nullptr);

    void setTypingLimit(int limit) { limit_ = limit; }
    int typingLimit() const noexcept { return limit_; }
    // The whole text, line breaks as CR LF.
    QString text() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // How much may still be inserted in place of the current selection.
    int room() const;

    int limit_ = 999;
};

// The pager-number field: at most a fixed number of characters of any kind; selects its whole
// text when it receives the focus; a refused keystroke beeps; Insert toggles between insert
// (bar caret) and overwrite (block caret) mode; disabled, it keeps the window's background and
// greys its text.
class PagerNumberEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit PagerNumberEdit(QWidget* parent = nullptr);

    bool overwriteMode() const noexcept { return overwrite_; }
    void setOverwriteMode(bool on);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool overwrite_ = false;
};

// A panel with an outer and an inner one-pixel bevel, each raised or lowered.
class BevelPanel : public QWidget {
    Q_OBJECT
public:
    BevelPanel(bool outerRaised, bool innerRaised, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool outerRaised_;
    bool innerRaised_;
};

// The main window (object "mainform"): the message, the recipients (one typed pager number, or
// the checked names of the names list), Send and Cancel, and the send's status outputs. It owns
// the TCP client port and the send logic; the port's events go to the send logic, and whatever
// a handler throws ends in the general error report. The other windows are attached once after
// they are created (setWindows) and opened from here.
class Tmainform : public QMainWindow, private sending::SendWindow {
    Q_OBJECT
public:
    explicit Tmainform(store::Settings& settings = store::settings(), QWidget* parent = nullptr);
    ~Tmainform() override;
    Tmainform(const Tmainform&) = delete;
    Tmainform& operator=(const Tmainform&) = delete;

    struct Windows {
        TAboutform* about = nullptr;
        TaddNameForm* addName = nullptr;
        TconfigForm* config = nullptr;
        TinstructionsForm* instructions = nullptr;
    };
    void setWindows(const Windows& windows) { windows_ = windows; }
    // Keeps the login password (in the desktop keyring): asked at FormShow; a Send waits for
    // its answer, for the send time-out at most. Without one the password is the file's.
    void setPasswordKeeper(PasswordKeeper* keeper);

    // Handlers.
    void FormShow();
    void FormClose();
    // The names list written to the names file as the close writes it, silently; after every
    // change of the list and when the program is told to end.
    void saveNames();
    void messageMemoChange();
    void clearButtonClick();
    void pickButtonClick(int n); // pickButton1Click ... pickButton8Click
    void namesListBoxClick();
    void namesListboxStateChange(int row, bool oldChecked, bool newChecked);
    void checkAllButtonClick();
    void uncheckAllButtonClick();
    void AddButtonClick();
    void editNameButtonClick();
    void deleteButtonClick();
    void sendButtonClick();
    void cancelSendButtonClick();
    void instructionsButtonClick();
    void configureButtonClick();
    void aboutButtonClick();
    void historyButtonClick();
    // Send Again from the History window: the message into the message field, one recipient's
    // pager ID into the pager-number field, several recipients ticked in the names list (those
    // not in it are named in the status bar). Nothing is sent.
    void sendAgain(const QString& message, const QList<PageRecipient>& recipients);
    void Exit1Click();
    void Timer1Timer();

    // For the program's tests and tools.
    const sending::SendLogic& sendLogic() const noexcept { return *sendLogic_; }
    net::TvlmIPPort& clientSocket() noexcept { return *clientSocket_; }
    NamesCheckList& namesListbox() noexcept { return *namesListbox_; }
    // The History window, made on its first use.
    ThistoryForm& historyForm();
    // The status bar's simple text exactly as it was set.
    QString statusBarText() const { return statusBarText_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // sending::SendWindow
    void setStatusWord(const std::string& word) override;
    void clearLog() override;
    void appendLog(const std::string& line) override;
    void setStatusBarText(const std::string& text) override;
    void setBanner(const std::string& text) override;
    std::string pagerNumber() const override;
    std::string messageText() const override;
    int nameCount() const override;
    std::string nameText(int row) const override;
    bool nameChecked(int row) const override;

    void buildControls(QWidget* client);
    void buildMenu();
    void bindPort();
    void reportPortException(std::exception_ptr error) noexcept;
    void toMultiRecipientMode();
    // "3 pages" beside the counter while a message limit is set.
    void showPageCount();
    void addName();
    void editName();
    void startSend();
    void keyringAnswered();
    void keyringTimedOut();

    store::Settings& settings_;
    Windows windows_;

    QLabel* messageStatusLabel_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    QLabel* pagesLabel_ = nullptr;
    MessageMemo* messageMemo_ = nullptr;
    PagerNumberEdit* idEditField_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* cancelSendButton_ = nullptr;
    QStatusBar* StatusBar1_ = nullptr;
    QLabel* statusText_ = nullptr;
    BevelPanel* messagePanel_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    NamesCheckList* namesListbox_ = nullptr;
    BevelPanel* selectingPanel_ = nullptr;
    QPlainTextEdit* sendingMemo_ = nullptr;
    QTimer* Timer1_ = nullptr;
    QString statusBarText_;
    PasswordKeeper* keeper_ = nullptr;
    bool waitingForKeyring_ = false; // a Send waits for the keyring's answer
    QTimer* keyringWait_ = nullptr;  // its time-out

    ThistoryForm* history_ = nullptr;
    std::unique_ptr<sending::HistoryRecord> historyRecord_;
    std::unique_ptr<net::TvlmIPPort> clientSocket_;
    std::unique_ptr<sending::Connection> connection_;
    std::unique_ptr<sending::SendLogic> sendLogic_;
};

// The five windows of the program, created once in this order and kept until exit: the main
// window, then About, name entry, configuration and Instructions (children of the main window,
// so that closing it ends the program). Only the main window is shown, by the caller.
class ProgramWindows {
public:
    explicit ProgramWindows(store::Settings& settings = store::settings());
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    Tmainform& mainform() noexcept { return *mainform_; }
    TAboutform& Aboutform() noexcept { return *windows_.about; }
    TaddNameForm& addNameForm() noexcept { return *windows_.addName; }
    TconfigForm& configForm() noexcept { return *windows_.config; }
    TinstructionsForm& instructionsForm() noexcept { return *windows_.instructions; }

private:
    std::unique_ptr<Tmainform> mainform_;
    Tmainform::Windows windows_;
    DesktopKeyring* keyring_ = nullptr;
    PasswordKeeper* keeper_ = nullptr;
};

} // namespace dazoroz::ui
