#pragma once

#include <functional>

class QWidget;

namespace dazoroz::ui {

// The whole program: its command line (--help, --version, --data-folder; exit status 2 for an
// unknown option), application title, font and icon, the five windows made in their order, the
// main window shown; runs until the main window closes and returns the exit status.
// `beforeShow`, when given, sees the main window just before its first showing (the start-up
// benchmark measures from there).
int runProgram(int& argc, char** argv, const std::function<void(QWidget&)>& beforeShow = {});

} // namespace dazoroz::ui
