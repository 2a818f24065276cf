#pragma once

#include <QWidget>

namespace dazoroz::ui {

// Shown until the main window is built.
QWidget* createPlaceholderWindow();

} // namespace dazoroz::ui
