// The yardstick of the start-up benchmark: a bare Qt Widgets window with a menu bar, built like
// the program, showing itself and nothing else.
#include "startup_probe.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.menuBar()->addMenu(QStringLiteral("File"));
    window.setCentralWidget(new QLabel(QStringLiteral("A bare window"), &window));
    window.resize(529, 380);
    new dazoroz::bench::StartupProbe(&window);
    window.show();
    return QApplication::exec();
}
