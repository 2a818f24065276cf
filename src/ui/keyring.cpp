#include "keyring.h"

#include <qt6keychain/keychain.h>

#include <utility>

namespace dazoroz::ui {

namespace {

const QString kService = QStringLiteral("dazoroz");

Keyring::Answer answerOf(const QKeychain::Job& job) {
    switch (job.error()) {
    case QKeychain::NoError:
        return Keyring::Answer::Done;
    case QKeychain::EntryNotFound:
        return Keyring::Answer::NotFound;
    default:
        return Keyring::Answer::Failed;
    }
}

// Starts `job` with `key`; its end goes to `reply` with what `secret` takes from it.
template <class Job, class Secret>
void run(QObject* owner, Job* job, const QString& key, Keyring::Reply reply, Secret secret) {
    job->setKey(key);
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain file behind the user's back
    QObject::connect(job, &QKeychain::Job::finished, owner,
                     [job, reply = std::move(reply), secret](QKeychain::Job*) {
                         reply(answerOf(*job), secret(*job));
                     });
    job->start();
}

} // namespace

DesktopKeyring::DesktopKeyring(QObject* parent) : QObject(parent) {}

void DesktopKeyring::read(const QString& key, Reply reply) {
    auto* job = new QKeychain::ReadPasswordJob(kService, this);
    run(this, job, key, std::move(reply),
        [](const QKeychain::ReadPasswordJob& j) { return j.textData(); });
}

void DesktopKeyring::write(const QString& key, const QString& secret, Reply reply) {
    auto* job = new QKeychain::WritePasswordJob(kService, this);
    job->setTextData(secret);
    run(this, job, key, std::move(reply), [](const QKeychain::Job&) { return QString(); });
}

void DesktopKeyring::remove(const QString& key, Reply reply) {
    auto* job = new QKeychain::DeletePasswordJob(kService, this);
    run(this, job, key, std::move(reply), [](const QKeychain::Job&) { return QString(); });
}

} // namespace dazoroz::ui
