#include "ui/main.h"
#include "store/settings.h"
#include "ui/error_report.h"
#include "ui/fonts.h"
#include "ui/pictures.h"
#include "ui/startup_probe.h"

#include <QApplication>

#include <exception>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dazoroz"));
    dazoroz::ui::applyApplicationFont();
    QApplication::setWindowIcon(dazoroz::ui::applicationIcon());

    std::unique_ptr<dazoroz::ui::ProgramWindows> windows;
    if (!dazoroz::ui::guarded(nullptr, [&windows] {
            windows = std::make_unique<dazoroz::ui::ProgramWindows>(
                dazoroz::store::settings(), dazoroz::ui::ProgramWindows::Creation::AfterFirstPaint);
        }))
        return 1;
    dazoroz::ui::StartupProbe::installIfAsked(&windows->mainform());
    windows->mainform().show();
    return QApplication::exec();
}
