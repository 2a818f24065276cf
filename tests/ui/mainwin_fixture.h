#pragma once

// The whole program's windows for the main-window tests: WINDIR on a temporary folder holding
// the settings file, names.txt in the test's working directory, the five windows created in
// their order and the main window shown and active.

#include "ui/main.h"
#include "ui_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace dazoroz::ui::testing {

inline const QByteArray kNamesFile = "names.txt";

// An INI file for the settings folder.
inline QByteArray iniText(const QByteArray& server, int port, int timeout,
                          const QList<QByteArray>& messages = {}) {
    QByteArray ini = "[General]\r\nserverIP=" + server +
                     "\r\nserverPort=" + QByteArray::number(port) +
                     "\r\ntimeout=" + QByteArray::number(timeout) + "\r\n";
    for (qsizetype i = 0; i < messages.size(); ++i)
        ini += "message" + QByteArray::number(i + 1) + "=" + messages[i] + "\r\n";
    return ini;
}

class Program {
public:
    // `names` is written to names.txt (an empty one removes the file).
    Program(const QByteArray& ini, const QByteArray& names) {
        qputenv("WINDIR", QFile::encodeName(windir_.path()));
        writeFile(windir_.filePath(QStringLiteral("dazoroz.ini")), ini);
        QFile::remove(QString::fromLatin1(kNamesFile));
        if (!names.isEmpty())
            writeFile(QString::fromLatin1(kNamesFile), names);
        windows_ = std::make_unique<ProgramWindows>();
    }
    ~Program() {
        if (windows_)
            windows_->mainform().hide();
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool show() { return showActive(&main()); }

    ProgramWindows& windows() { return *windows_; }
    Tmainform& main() { return windows_->mainform(); }
    NamesCheckList& list() { return main().namesListbox(); }
    QString windirFile(const QString& name) const { return windir_.filePath(name); }

    template <class W = QWidget> W* child(const char* name) {
        return testing::child<W>(&main(), name);
    }
    QLineEdit* idEdit() { return child<QLineEdit>("idEditField"); }
    QPlainTextEdit* memo() { return child<QPlainTextEdit>("messageMemo"); }
    QPlainTextEdit* log() { return child<QPlainTextEdit>("sendingMemo"); }
    QString label(const char* name) { return child<QLabel>(name)->text(); }
    QString statusWord() { return label("messageStatusLabel"); }
    // "single" or "multi" (recipient mode), then the pager-number field's text if any; "mixed"
    // when the field and the hint panel disagree.
    QString mode() {
        const bool multi = child("selectingPanel")->isVisible();
        if (idEdit()->isEnabled() == multi)
            return QStringLiteral("mixed");
        const QString text = idEdit()->text();
        return QString::fromLatin1(multi ? "multi" : "single") + (text.isEmpty() ? "" : " " + text);
    }
    // The message and its length counter: "text (n)".
    QString message() { return memo()->toPlainText() + " " + label("lengthLabel"); }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }

    QStringList rows() { return checkListRows(list()); }
    int rowOf(const QString& text) {
        for (int r = 0; r < list().count(); ++r)
            if (QString::fromStdString(list().text(r)) == text)
                return r;
        return -1;
    }
    QPoint boxPoint(int row) { return list().checkBoxRect(row).center(); }
    QPoint textPoint(int row) {
        const QRect box = list().checkBoxRect(row);
        return {box.right() + 40, box.center().y()};
    }
    void clickBox(int row) {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, boxPoint(row));
    }
    void clickText(int row) {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, textPoint(row));
    }

private:
    QTemporaryDir windir_;
    std::unique_ptr<ProgramWindows> windows_;
};

} // namespace dazoroz::ui::testing
