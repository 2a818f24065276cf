#include "net/warnings.h"

#include <atomic>
#include <cstdio>

namespace dazoroz::net {

namespace {

std::atomic<WarningWriter> g_writer{nullptr};

} // namespace

void setWarningWriter(WarningWriter writer) noexcept {
    g_writer = writer;
}

void writeWarning(const char* text) noexcept {
    if (const WarningWriter writer = g_writer; writer != nullptr) {
        writer(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text);
}

} // namespace dazoroz::net
