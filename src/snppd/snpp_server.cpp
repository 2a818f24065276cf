#include "snppd/snpp_server.h"

#include "snppd/snpp_connection.h"
#include "store/printable.h"

#include <QByteArrayList>
#include <QStringList>

#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>

namespace dazoroz::snppd {

namespace {
constexpr int listenBacklog = 128;
} // namespace

std::optional<StepTrigger> parseStepTrigger(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2) {
        return std::nullopt;
    }
    static const std::pair<QLatin1String, Step> names[] = {
        {QLatin1String("greeting"), Step::Greeting}, {QLatin1String("page"), Step::Page},
        {QLatin1String("mess"), Step::Mess},         {QLatin1String("data"), Step::Data},
        {QLatin1String("send"), Step::Send},         {QLatin1String("quit"), Step::Quit},
    };
    StepTrigger trigger;
    bool known = false;
    for (const auto& [name, step] : names) {
        if (parts.front().compare(name, Qt::CaseInsensitive) == 0) {
            trigger.step = step;
            known = true;
        }
    }
    if (!known) {
        return std::nullopt;
    }
    if (parts.size() == 2) {
        bool ok = false;
        trigger.occurrence = parts.back().toInt(&ok);
        if (!ok || trigger.occurrence < 1 ||
            (trigger.step == Step::Greeting && trigger.occurrence != 1)) {
            return std::nullopt;
        }
    }
    return trigger;
}

QByteArray escapeControls(const QByteArray& text) {
    return QByteArray::fromStdString(store::printable(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size()))));
}

QByteArray pageLine(const Page& page) {
    QByteArrayList details;
    if (!page.holdUntil.isEmpty()) {
        details << "hold until " + escapeControls(page.holdUntil);
    }
    if (!page.subject.isEmpty()) {
        details << "subject \"" + escapeControls(page.subject) + '"';
    }
    if (!page.callerId.isEmpty()) {
        details << "caller " + escapeControls(page.callerId);
    }
    const QByteArray shown = details.isEmpty() ? QByteArray() : " (" + details.join(", ") + ')';
    return "page " + escapeControls(page.pagerId) + shown + ": " + escapeControls(page.message) +
           '\n';
}

SnppServer::SnppServer(ServerOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), loginGuard_(options_.loginGuard) {
    listener_.accepted = [this](qintptr descriptor) {
        accept(descriptor);
    };
}

SnppServer::~SnppServer() {
    close();
}

bool SnppServer::listen(const QHostAddress& address, quint16 port) {
    // Room for every client that may connect at once; the system's default of 50 would make the
    // rest wait for a second try of their connection.
    listener_.setListenBacklogSize(std::max(listenBacklog, 2 * options_.maxClients));
    return listener_.listen(address, port);
}

void SnppServer::close() {
    listener_.close();
    const bool hadClients = !connections_.empty();
    for (auto* set : {&connections_, &closing_}) {
        for (Connection* connection : std::exchange(*set, {})) {
            disconnect(connection, nullptr, this, nullptr);
            connection->drop();
            connection->deleteLater();
        }
    }
    if (hadClients) {
        emit clientCountChanged(0);
    }
}

void SnppServer::accept(qintptr descriptor) {
    const auto fd = static_cast<int>(descriptor);
    if (clientCount() >= options_.maxClients) {
        reject(fd);
        return;
    }
    auto* connection = new Connection(fd, options_, loginGuard_, nextId_++, this);
    connections_.insert(connection);
    connect(connection, &Connection::delivered, this, [this](const Page& page) {
        ++pagesDelivered_;
        emit pageDelivered(page);
    });
    connect(connection, &Connection::traced, this, &SnppServer::trace);
    connect(connection, &Connection::released, this, [this, connection] { release(connection); });
    connect(connection, &Connection::finished, this, [this, connection] { forget(connection); });
    emit clientCountChanged(clientCount());
    connection->start();
}

void SnppServer::reject(int descriptor) {
    // The connections closing after a 421 are capped too; beyond that a client is cut off
    // without a word.
    if (static_cast<int>(closing_.size()) >= options_.maxClients) {
        ::close(descriptor);
        return;
    }
    auto* connection = new Connection(descriptor, options_, loginGuard_, 0, this);
    if (options_.trace) {
        emit trace(QStringLiteral("refused %1, too many clients").arg(connection->peer()));
    }
    closing_.insert(connection);
    connect(connection, &Connection::finished, this, [this, connection] { forget(connection); });
    connection->refuse("421 Too Many Connections, Try Again Later");
}

void SnppServer::release(Connection* connection) {
    if (connections_.erase(connection) == 0) {
        return;
    }
    if (static_cast<int>(closing_.size()) >= options_.maxClients) {
        connection->drop();
        connection->deleteLater();
    } else {
        closing_.insert(connection);
    }
    emit clientCountChanged(clientCount());
}

void SnppServer::forget(Connection* connection) {
    if (connections_.erase(connection) > 0) {
        connection->deleteLater();
        emit clientCountChanged(clientCount());
    } else if (closing_.erase(connection) > 0) {
        connection->deleteLater();
    }
}

} // namespace dazoroz::snppd
