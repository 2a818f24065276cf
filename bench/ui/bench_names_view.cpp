// The names check list with 100,000 entries: loading and first showing, paging through it,
// and setting every mark (Select All), on the offscreen platform.
#include "ui/names_checklist.h"

#include <QApplication>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;
using dazoroz::ui::NamesCheckList;

namespace {

constexpr int kEntries = 100000;

const fs::path& namesFile() {
    static const fs::path file = [] {
        const fs::path f =
            fs::temp_directory_path() / ("dazoroz-bench-names-" + std::to_string(::getpid()));
        std::mt19937 rng(7);
        std::ofstream out(f, std::ios::binary);
        for (int i = 0; i < kEntries; ++i)
            out << "Name " << rng() % 1000000 << ", " << 1000000 + rng() % 9000000 << "\r\n";
        return f;
    }();
    return file;
}

void settle(QWidget& w) {
    QCoreApplication::processEvents();
    w.repaint(); // paint now, as the screen would
}

void BM_LoadAndShow(benchmark::State& state) {
    for (auto _ : state) {
        NamesCheckList list;
        list.resize(185, 179);
        list.namesModel().loadNames(namesFile());
        list.show();
        settle(list);
        benchmark::DoNotOptimize(list.count());
    }
}
BENCHMARK(BM_LoadAndShow)->Unit(benchmark::kMillisecond);

void BM_PageDown(benchmark::State& state) {
    NamesCheckList list;
    list.resize(185, 179);
    list.namesModel().loadNames(namesFile());
    list.show();
    settle(list);
    QScrollBar* bar = list.verticalScrollBar();
    for (auto _ : state) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        settle(*list.viewport());
    }
}
BENCHMARK(BM_PageDown)->Unit(benchmark::kMicrosecond);

void BM_JumpToEnd(benchmark::State& state) {
    NamesCheckList list;
    list.resize(185, 179);
    list.namesModel().loadNames(namesFile());
    list.show();
    settle(list);
    bool end = false;
    for (auto _ : state) {
        end = !end;
        if (end)
            list.scrollToBottom();
        else
            list.scrollToTop();
        settle(*list.viewport());
    }
}
BENCHMARK(BM_JumpToEnd)->Unit(benchmark::kMicrosecond);

void BM_CheckAll(benchmark::State& state) {
    NamesCheckList list;
    list.resize(185, 179);
    list.namesModel().loadNames(namesFile());
    list.show();
    settle(list);
    long notifications = 0;
    QObject::connect(&list, &NamesCheckList::stateChanged, &list,
                     [&notifications](int, bool, bool) { ++notifications; });
    bool checked = false;
    for (auto _ : state) {
        checked = !checked;
        for (int row = 0; row < list.count(); ++row)
            list.setChecked(row, checked);
        settle(*list.viewport());
    }
    benchmark::DoNotOptimize(notifications);
}
BENCHMARK(BM_CheckAll)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(namesFile(), ignored);
    return 0;
}
