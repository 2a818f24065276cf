// Start-up of the program against a bare Qt window program built the same way, in the same run:
// the time from starting the process to its window's first paint, and the peak resident memory
// (VmHWM) at that moment. Each program is started N times, alternating; medians are reported.
//
//   bench_ui_startup [runs]        (default 15; QT_QPA_PLATFORM defaults to offscreen)
//
// Both carry a probe that prints "shown <kB>" after the first paint and exits: the program as
// bench_ui_probed_program, which runs the program's own start-up with the probe hooked in. The
// program reads its settings from an empty folder (WINDIR) and starts in an empty working
// directory, as on a first run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double ms = 0;
    long peakKb = 0;
};

Sample runOnce(const std::string& program) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + program);
    }
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line.push_back(c);
    const auto shown = std::chrono::steady_clock::now();
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (line.rfind("shown ", 0) != 0)
        throw std::runtime_error(program + " did not report its first paint");
    return {std::chrono::duration<double, std::milli>(shown - start).count(),
            std::stol(line.substr(6))};
}

template <class T> T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    namespace fs = std::filesystem;
    const fs::path scratch =
        fs::temp_directory_path() / ("dazoroz-bench-startup-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    fs::current_path(scratch);
    ::setenv("WINDIR", scratch.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM",
             std::getenv("QT_QPA_PLATFORM") != nullptr ? std::getenv("QT_QPA_PLATFORM")
                                                       : "offscreen",
             1);

    const std::string programs[2] = {DAZOROZ_PROGRAM, BARE_WINDOW_PROGRAM};
    const char* names[2] = {"dazoroz", "bare Qt window"};
    std::vector<double> ms[2];
    std::vector<long> kb[2];
    try {
        for (int i = 0; i < 2; ++i)
            runOnce(programs[i]); // warm the file cache
        for (int r = 0; r < runs; ++r) {
            for (int i = 0; i < 2; ++i) {
                const Sample s = runOnce(programs[i]);
                ms[i].push_back(s.ms);
                kb[i].push_back(s.peakKb);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ui_startup: %s\n", e.what());
        fs::remove_all(scratch);
        return 1;
    }
    fs::remove_all(scratch);

    std::printf("platform %s, %d runs each, medians\n", std::getenv("QT_QPA_PLATFORM"), runs);
    std::printf("%-16s %12s %14s\n", "program", "to shown ms", "peak RSS kB");
    for (int i = 0; i < 2; ++i)
        std::printf("%-16s %12.1f %14ld\n", names[i], median(ms[i]), median(kb[i]));
    std::printf("%-16s %12.2f %14.2f   (target: at most 1.30)\n", "ratio",
                median(ms[0]) / median(ms[1]),
                static_cast<double>(median(kb[0])) / static_cast<double>(median(kb[1])));
    return 0;
}
