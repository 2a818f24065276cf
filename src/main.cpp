#include "ui/program.h"

int main(int argc, char* argv[]) {
    return dazoroz::ui::runProgram(argc, argv);
}
