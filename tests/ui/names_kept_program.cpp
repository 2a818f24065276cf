// The program itself, which adds "Zed, 99" through the Add dialog as soon as its window shows,
// then says "added" on standard output and runs on until it is ended (test_names_kept).

#include "ui/addname.h"
#include "ui/program.h"
#include "ui_test_support.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;

int main(int argc, char* argv[]) {
    return runProgram(argc, argv, [](QWidget& main) {
        QTimer::singleShot(0, &main, [&main] {
            auto* form = main.findChild<TaddNameForm*>();
            ModalDriver driver(form, [form] {
                QTest::keyClicks(child<QLineEdit>(form, "nameEdit"), "Zed");
                QTest::keyClicks(child<QLineEdit>(form, "pagerIDEdit"), "99");
                child<QPushButton>(form, "okButton")->click();
            });
            child<QPushButton>(&main, "AddButton")->click(); // runs the dialog
            std::puts(driver.shown == 1 ? "added" : "not added");
            std::fflush(stdout);
        });
    });
}
