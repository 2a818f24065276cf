#include "error_report.h"

#include <QMessageBox>
#include <QStringList>

namespace dazoroz::ui {

namespace {

void showMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Dazoroz"), text, QMessageBox::Ok,
                    parent);
    // The text may come from a server or a file: never interpret it as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

ErrorReporter& currentReporter() {
    static ErrorReporter reporter;
    return reporter;
}

} // namespace

QString errorReportText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void reportError(QWidget* parent, const QString& message) {
    const QString text = errorReportText(message);
    // Copy: the reporter may replace itself while it runs.
    const ErrorReporter reporter = currentReporter();
    if (reporter)
        reporter(parent, text);
    else
        showMessageBox(parent, text);
}

ErrorReporter setErrorReporter(ErrorReporter reporter) {
    return std::exchange(currentReporter(), std::move(reporter));
}

ErrorReportCapture::ErrorReportCapture()
    : previous_(setErrorReporter([this](QWidget* parent, const QString& text) {
          texts_.append(text);
          parents_.append(parent);
      })) {}

ErrorReportCapture::~ErrorReportCapture() {
    setErrorReporter(std::move(previous_));
}

void ErrorReportCapture::clear() {
    texts_.clear();
    parents_.clear();
}

} // namespace dazoroz::ui
