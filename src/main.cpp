#include "ui/placeholder_window.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dazoroz"));
    std::unique_ptr<QWidget> window(dazoroz::ui::createPlaceholderWindow());
    window->show();
    return QApplication::exec();
}
