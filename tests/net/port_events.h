#pragma once

// Records every event of a TvlmIPPort as one readable line, so that tests can compare whole
// event sequences: "Connected(0,OK)", "DataIn(true,220 hi\r\n)", "Disconnected(0,OK)",
// "Error(10054,Winsock error in recv())", "ReadyToSend", and "Lost(<what>)" for an exception of
// a handler that reached OnUnhandledException. Control bytes are escaped (\r \n \0 \xNN).

#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "support/scripted_server.h"
#include "support/test_loop.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <functional>
#include <string>

namespace dazoroz::net::testing {

constexpr int kTimeout = 10000;

inline const QString kConnectedOk = QStringLiteral("Connected(0,OK)");
inline const QString kReady = QStringLiteral("ReadyToSend");
inline const QString kDisconnectedOk = QStringLiteral("Disconnected(0,OK)");

// The events of a successful connect, then the given ones.
inline QStringList opened(const QStringList& then = {}) {
    return QStringList{kConnectedOk, kReady} + then;
}

inline QString escaped(std::string_view bytes) {
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
    std::string received; // the bytes delivered, each complete line's terminator put back
    int dataInCount = 0;
    int disconnectedCount = 0;
    std::size_t longest = 0; // the longest Text delivered
    // Off: `received` stays empty. A flood would grow it by tens of megabytes a second, and
    // every time the string doubled, copying it would stall the event loop being measured.
    bool keepReceived = true;
    bool logging = true; // off: DataIn is logged without its text, as "DataIn(true)" (long streams)
    // The handler's own work, run after each event has been logged (with its log entry).
    std::function<void(TvlmIPPort&, const QString&)> react;

    void record(TvlmIPPort& port, const QString& entry) {
        if (logging || !entry.startsWith(QLatin1String("DataIn"))) {
            log << entry;
        }
        if (react) {
            react(port, entry);
        }
    }
    // Closes the port from inside a handler and logs what it says right after.
    void closeFromHandler(TvlmIPPort& p) {
        p.setConnected(false);
        log << QStringLiteral("Closing(connected=%1,pending=%2,pump=%3)")
                   .arg(p.Connected())
                   .arg(p.engine().closePending())
                   .arg(p.engine().pumpRunning());
    }
    void bind(TvlmIPPort& port) {
        const auto status = [this](TvlmIPPort& p, const char* name, int code,
                                   const std::string& text) {
            record(p, QStringLiteral("%1(%2,%3)").arg(name).arg(code).arg(escaped(text)));
        };
        port.OnConnected = [status](TvlmIPPort& p, int code, const std::string& text) {
            status(p, "Connected", code, text);
        };
        port.OnDataIn = [this](TvlmIPPort& p, const std::string& text, bool eol) {
            if (keepReceived) {
                received += text;
                received += eol ? p.EOL() : std::string();
            }
            longest = std::max(longest, text.size());
            ++dataInCount;
            const QLatin1String line(eol ? "true" : "false");
            record(p, logging ? QStringLiteral("DataIn(%1,%2)").arg(line, escaped(text))
                              : QStringLiteral("DataIn(%1)").arg(line));
        };
        port.OnDisconnected = [this, status](TvlmIPPort& p, int code, const std::string& text) {
            ++disconnectedCount;
            status(p, "Disconnected", code, text);
        };
        port.OnError = [status](TvlmIPPort& p, int code, const std::string& text) {
            status(p, "Error", code, text);
        };
        port.OnReadyToSend = [this](TvlmIPPort& p) {
            record(p, kReady);
        };
        port.OnUnhandledException = [this](TvlmIPPort& p, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                record(p, QStringLiteral("Lost(%1)").arg(QString::fromUtf8(e.what())));
            }
        };
    }
};

// A port with its events recorded and a scripted server to talk to.
struct Harness {
    testsupport::ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;

    // The port on the thread's current loop, or on the one given.
    explicit Harness(const std::string& eol = {}) : Harness(eol, *EventLoop::current()) {}
    Harness(const std::string& eol, EventLoop& loop) : port(loop) {
        events.bind(port);
        port.setEOL(eol);
    }
    // Starts connecting to the given host and port, the scripted server's by default.
    void connect(quint16 to = 0, const std::string& host = "127.0.0.1") {
        port.setRemoteHost(host);
        port.setRemotePort(to != 0 ? to : server.port());
        port.setConnected(true);
    }
    // Over TLS, trusting the CAs of the given file.
    void secure(const std::string& caFile) {
        port.setUseTLS(true);
        port.setTLSCAFile(caFile);
    }
    // No socket, no connection, no pump, no TLS session: a new connect may start.
    bool idle() {
        return !port.Connected() && port.engine().socket() == kInvalidSocket &&
               !port.engine().pumpRunning() && port.engine().tlsSession() == nullptr;
    }
};

// The message of the EvlmIPPort that action throws ("<Code>: <description>"); empty when it
// throws none.
template <typename Action> QString refusal(Action action) {
    try {
        action();
    } catch (const EvlmIPPort& e) {
        const QString message = QString::fromStdString(e.what());
        return message.startsWith(QString::number(e.Code) + ": ")
                   ? message
                   : "Code does not match " + message;
    }
    return {};
}

// Writes one property given as "Name=value": booleans as 0 or 1, "EOL=n" as n line feeds.
inline void write(TvlmIPPort& port, const QString& assignment) {
    const QString name = assignment.section('=', 0, 0);
    const QString value = assignment.section('=', 1);
    if (name == "RemoteHost") {
        port.setRemoteHost(value.toStdString());
    } else if (name == "RemotePort") {
        port.setRemotePort(value.toUShort());
    } else if (name == "LocalPort") {
        port.setLocalPort(value.toUShort());
    } else if (name == "MaxLineLength") {
        port.setMaxLineLength(value.toUInt());
    } else if (name == "EOL") {
        port.setEOL(std::string(value.toUInt(), '\n'));
    } else if (name == "InBufferSize") {
        port.setInBufferSize(value.toInt());
    } else if (name == "OutBufferSize") {
        port.setOutBufferSize(value.toInt());
    } else if (name == "KeepAlive") {
        port.setKeepAlive(value == "1");
    } else if (name == "Linger") {
        port.setLinger(value == "1");
    } else {
        QCOMPARE(name, "Connected");
        port.setConnected(value == "1");
    }
}

// The system's socket call of the given ordinal, as a function of type Fn (for a test's own
// socket module that changes some calls and passes the others on).
template <typename Fn> Fn posix(int ordinal) {
    return reinterpret_cast<Fn>(posixSocketProc(ordinal));
}

// Handles everything already queued (posted notifications included, on either loop), without
// waiting for more.
inline void settle() {
    for (int round = 0; round < 20; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace dazoroz::net::testing
