#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace dazoroz::ui {

// The desktop keyring as the window uses it: secrets by key, every call answered later from the
// event loop (never from inside the call), so that the window never waits for it.
class Keyring {
public:
    enum class Answer {
        Done,     // read: the secret is there; write, remove: done
        NotFound, // read, remove: the keyring works, but holds nothing under the key
        Failed,   // no keyring, or it refused (locked, denied, broken)
    };
    using Reply = std::function<void(Answer answer, const QString& secret)>;

    virtual ~Keyring() = default;
    virtual void read(const QString& key, Reply reply) = 0;
    virtual void write(const QString& key, const QString& secret, Reply reply) = 0;
    virtual void remove(const QString& key, Reply reply) = 0;
};

// The Secret Service of the desktop session (GNOME Keyring, KWallet, KeePassXC...) through
// QtKeychain, under the service "dazoroz". Never falls back to a plain file of its own: a
// refusal is the caller's to handle. Replies still due when it goes are dropped.
class DesktopKeyring : public QObject, public Keyring {
    Q_OBJECT
public:
    explicit DesktopKeyring(QObject* parent = nullptr);

    void read(const QString& key, Reply reply) override;
    void write(const QString& key, const QString& secret, Reply reply) override;
    void remove(const QString& key, Reply reply) override;
};

} // namespace dazoroz::ui
