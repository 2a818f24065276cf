#pragma once

// Warnings of the network layer that have nobody to go to (an exception of an event handler
// that no hook took): written to standard error, unless the program hands them on elsewhere
// (the window to Qt's message handler).

namespace dazoroz::net {

using WarningWriter = void (*)(const char* text) noexcept;

// nullptr: standard error again.
void setWarningWriter(WarningWriter writer) noexcept;
void writeWarning(const char* text) noexcept;

} // namespace dazoroz::net
