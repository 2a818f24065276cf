#pragma once

#include "net/vlm_ipport.h"
#include "sending/send_logic.h"

namespace dazoroz::sending {

// The TCP client port as the send logic's connection, for the window and the command-line
// sender alike. Header-only, so that the send logic itself stays free of the network layer.
//
// It puts the port in line mode: each reply line ends at LF (CR LF or a lone LF; the send logic
// drops the CR), a partial line waits in the port's buffer for its end, and a line longer than
// kReplyLineLimit bytes arrives in pieces of that size, the last marked as the line's end.
class PortConnection final : public Connection {
public:
    static constexpr std::uint32_t kReplyLineLimit = 4096;

    explicit PortConnection(net::TvlmIPPort& port) : port_(port) {
        port_.setEOL("\n");
        port_.setMaxLineLength(kReplyLineLimit);
    }

    bool connected() const override { return port_.Connected(); }
    void setRemoteHost(const std::string& host) override { port_.setRemoteHost(host); }
    void setRemotePort(std::uint16_t port) override { port_.setRemotePort(port); }
    void setConnected(bool connected) override { port_.setConnected(connected); }
    void dataOut(const std::string& bytes) override { port_.setDataOut(bytes); }
    void setSecurity(bool useTLS, const std::string& caFile) override {
        port_.setUseTLS(useTLS);
        port_.setTLSCAFile(caFile);
    }

private:
    net::TvlmIPPort& port_;
};

} // namespace dazoroz::sending
