#include "program.h"

#include "error_report.h"
#include "fonts.h"
#include "main.h"
#include "pictures.h"
#include "store/settings.h"

#include <QApplication>

#include <memory>

namespace dazoroz::ui {

int runProgram(int& argc, char** argv, const std::function<void(QWidget&)>& beforeShow) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dazoroz"));
    applyApplicationFont();
    QApplication::setWindowIcon(applicationIcon());

    std::unique_ptr<ProgramWindows> windows;
    if (!guarded(nullptr, [&windows] { windows = std::make_unique<ProgramWindows>(); }))
        return 1;
    if (beforeShow)
        beforeShow(windows->mainform());
    windows->mainform().show();
    return QApplication::exec();
}

} // namespace dazoroz::ui
