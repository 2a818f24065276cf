#pragma once

#include "net/vlm_ipport.h"
#include "sending/send_logic.h"

namespace dazoroz::sending {

// The TCP client port as the send logic's connection, for the window and the command-line
// sender alike. Header-only, so that the send logic itself stays free of the network layer.
class PortConnection final : public Connection {
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

} // namespace dazoroz::sending
