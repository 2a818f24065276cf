#include "placeholder_window.h"

#include <QLabel>
#include <QVBoxLayout>

namespace dazoroz::ui {

QWidget* createPlaceholderWindow() {
    auto* w = new QWidget;
    w->setWindowTitle(QStringLiteral("Dazoroz"));
    auto* layout = new QVBoxLayout(w);
    layout->addWidget(new QLabel(QStringLiteral("Dazoroz: the main window is not built yet."), w));
    w->resize(360, 80);
    return w;
}

} // namespace dazoroz::ui
