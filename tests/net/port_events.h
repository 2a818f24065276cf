#pragma once

// Records every event of a TvlmIPPort as one readable line, so that tests can compare whole
// event sequences: "Connected(0,OK)", "DataIn(true,220 hi\r\n)", "Disconnected(0,OK)",
// "Error(10054,Winsock error in recv())", "ReadyToSend". Control bytes are escaped (\r \n \0 \xNN).

#include "net/vlm_ipport.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <string>

namespace dazoroz::net::testing {

inline QString escaped(const std::string& bytes) {
    QString out;
    for (const char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '\r') {
            out += QLatin1String("\\r");
        } else if (ch == '\n') {
            out += QLatin1String("\\n");
        } else if (ch == '\0') {
            out += QLatin1String("\\0");
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        } else {
            out += QLatin1Char(ch);
        }
    }
    return out;
}

struct PortEvents {
    QStringList log;
    std::string received; // every byte delivered by OnDataIn, in order
    int dataInCount = 0;
    int disconnectedCount = 0;
    std::size_t longest = 0; // the longest Text delivered
    bool logging = true;     // off: only the counters and received (for long streams)

    // Extra actions run after an event has been recorded (a handler's own work).
    std::function<void(TvlmIPPort&, int, const std::string&)> onConnected;
    std::function<void(TvlmIPPort&, const std::string&, bool)> onDataIn;
    std::function<void(TvlmIPPort&, int, const std::string&)> onDisconnected;
    std::function<void(TvlmIPPort&, int, const std::string&)> onError;
    std::function<void(TvlmIPPort&)> onReadyToSend;

    void bind(TvlmIPPort& port) {
        port.OnConnected = [this](TvlmIPPort& p, int code, const std::string& text) {
            log << QStringLiteral("Connected(%1,%2)").arg(code).arg(QString::fromStdString(text));
            if (onConnected) {
                onConnected(p, code, text);
            }
        };
        port.OnDataIn = [this](TvlmIPPort& p, const std::string& text, bool eol) {
            if (logging) {
                log << QStringLiteral("DataIn(%1,%2)")
                           .arg(eol ? QLatin1String("true") : QLatin1String("false"))
                           .arg(escaped(text));
            }
            received += text;
            longest = std::max(longest, text.size());
            ++dataInCount;
            if (onDataIn) {
                onDataIn(p, text, eol);
            }
        };
        port.OnDisconnected = [this](TvlmIPPort& p, int code, const std::string& text) {
            log << QStringLiteral("Disconnected(%1,%2)")
                       .arg(code)
                       .arg(QString::fromStdString(text));
            ++disconnectedCount;
            if (onDisconnected) {
                onDisconnected(p, code, text);
            }
        };
        port.OnError = [this](TvlmIPPort& p, int code, const std::string& text) {
            log << QStringLiteral("Error(%1,%2)").arg(code).arg(QString::fromStdString(text));
            if (onError) {
                onError(p, code, text);
            }
        };
        port.OnReadyToSend = [this](TvlmIPPort& p) {
            log << QStringLiteral("ReadyToSend");
            if (onReadyToSend) {
                onReadyToSend(p);
            }
        };
    }
};

// Handles everything already queued (posted notifications included), without waiting for more.
inline void settle() {
    for (int round = 0; round < 20; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace dazoroz::net::testing
