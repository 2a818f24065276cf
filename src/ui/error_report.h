#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <utility>

class QWidget;

namespace dazoroz::ui {

// The application's general error report: a message box titled "Dazoroz" with an error icon.
// Handlers run their work through guarded(), so that no exception crosses the Qt event loop.

// The text the report shows: the message, with a full stop appended when its last character
// sorts after the full stop (a letter or a digit, for example).
QString errorReportText(const QString& message);

// Shows errorReportText(message) through the current reporter (by default a modal box whose
// parent is `parent`).
void reportError(QWidget* parent, const QString& message);

// Receives the finished text of each report. Tests install one to capture reports instead of
// blocking on a modal box; an empty function restores the message box.
using ErrorReporter = std::function<void(QWidget* parent, const QString& text)>;
// Installs `reporter` and returns the one it replaces.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// Message shown for an exception that is not a std::exception.
inline constexpr const char* kUnknownErrorMessage = "An unexpected error occurred";

// Runs f(); a std::exception (or anything else) it throws is shown by the general error
// report, and the rest of f is skipped. Returns whether f ran to its end.
template <class F> bool guarded(QWidget* parent, F&& f) {
    try {
        std::forward<F>(f)();
        return true;
    } catch (const std::exception& e) {
        reportError(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        reportError(parent, QString::fromUtf8(kUnknownErrorMessage));
    }
    return false;
}

// Captures every report made while it lives (tests): nothing is shown on screen.
class ErrorReportCapture {
public:
    ErrorReportCapture();
    ~ErrorReportCapture();
    ErrorReportCapture(const ErrorReportCapture&) = delete;
    ErrorReportCapture& operator=(const ErrorReportCapture&) = delete;

    // The reports' texts, oldest first.
    const QStringList& texts() const noexcept { return texts_; }
    // The parent widget each report was given, in the same order.
    const QList<QWidget*>& parents() const noexcept { return parents_; }
    void clear();

private:
    QStringList texts_;
    QList<QWidget*> parents_;
    ErrorReporter previous_;
};

} // namespace dazoroz::ui
