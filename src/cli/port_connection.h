#pragma once

#include "net/vlm_ipport.h"
#include "sending/send_logic.h"

namespace dazoroz::cli {

// The TCP client port as the send logic's connection: the same port the window uses.
class PortConnection final : public sending::Connection {
public:
    explicit PortConnection(net::TvlmIPPort& port) : port_(port) {}

    bool connected() const override { return port_.Connected(); }
    void setRemoteHost(const std::string& host) override { port_.setRemoteHost(host); }
    void setRemotePort(std::uint16_t port) override { port_.setRemotePort(port); }
    void setConnected(bool connected) override { port_.setConnected(connected); }
    void dataOut(const std::string& bytes) override { port_.setDataOut(bytes); }

private:
    net::TvlmIPPort& port_;
};

} // namespace dazoroz::cli
