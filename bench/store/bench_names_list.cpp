// Loading a names file of 100,000 entries into the sorted list and saving it back.
#include "store/names_file.h"
#include "store/names_list.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace dazoroz::store;

namespace {

constexpr int kEntries = 100000;

// A names file as a user might have it: mixed case, in no particular order, CR LF line ends.
class NamesFixture {
public:
    NamesFixture()
        : dir_(fs::temp_directory_path() / ("dazoroz-bench-" + std::to_string(::getpid()))) {
        fs::create_directories(dir_);
        std::mt19937 rng(42);
        const std::vector<std::string> first = {"ann",  "Bob",  "carl", "Dora", "eve", "Fritz",
                                                "gina", "Hugo", "ida",  "Jon",  "Kim", "lea"};
        const std::vector<std::string> last = {"Adams", "baker", "Clark", "diaz", "Evans",
                                               "fox",   "Gray",  "hill",  "Ito",  "jones"};
        std::string bytes;
        for (int i = 0; i < kEntries; ++i) {
            bytes += first[rng() % first.size()] + " " + last[rng() % last.size()] + " " +
                     std::to_string(rng() % 100000) + ", (" + std::to_string(rng() % 1000) + ") " +
                     std::to_string(1000000 + rng() % 9000000) + "\r\n";
        }
        bytes_ = bytes.size();
        if (std::FILE* f = std::fopen(input().c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~NamesFixture() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path input() const { return dir_ / "names.txt"; }
    fs::path output() const { return dir_ / "saved.txt"; }
    std::size_t bytes() const { return bytes_; }

private:
    fs::path dir_;
    std::size_t bytes_ = 0;
};

NamesFixture& fixture() {
    static NamesFixture f;
    return f;
}

void BM_LoadNames(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        NamesList list;
        loadNames(list, f.input());
        if (list.size() != kEntries)
            state.SkipWithError("wrong number of entries");
        benchmark::DoNotOptimize(list);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes()));
    state.counters["entries"] = kEntries;
}
BENCHMARK(BM_LoadNames)->Unit(benchmark::kMillisecond);

void BM_SaveNames(benchmark::State& state) {
    auto& f = fixture();
    NamesList list;
    loadNames(list, f.input());
    for (auto _ : state) {
        if (!saveNames(list, f.output()))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes()));
}
BENCHMARK(BM_SaveNames)->Unit(benchmark::kMillisecond);

// What one run of the program does with the list: load at start, save at close.
void BM_LoadAndSaveNames(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        NamesList list;
        loadNames(list, f.input());
        if (!saveNames(list, f.output()))
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_LoadAndSaveNames)->Unit(benchmark::kMillisecond);

// The name entry dialog's Add and the Delete button on a list of 100,000 entries, at its top
// (the worst case: every entry moves).
void BM_AddAndRemoveOneIn100k(benchmark::State& state) {
    auto& f = fixture();
    NamesList list;
    loadNames(list, f.input());
    for (auto _ : state) {
        const int row = list.add("Aaron Abel, 555-0100");
        list.removeAt(row);
    }
}
BENCHMARK(BM_AddAndRemoveOneIn100k)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
