// The program exactly as src/main.cpp starts it, with the start-up probe on its main window.
#include "startup_probe.h"
#include "ui/program.h"

int main(int argc, char* argv[]) {
    return dazoroz::ui::runProgram(
        argc, argv, [](QWidget& window) { new dazoroz::bench::StartupProbe(&window); });
}
