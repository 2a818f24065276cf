#include "password_keeper.h"

#include "error_report.h"
#include "keyring.h"

#include <exception>

namespace dazoroz::ui {

namespace {

QString fromStd(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

PasswordKeeper::PasswordKeeper(store::Settings& settings, Keyring& keyring, QWidget* reportTo)
    : settings_(settings), keyring_(keyring), reportTo_(reportTo) {}

QString PasswordKeeper::keyFor(const store::Settings& settings) {
    return fromStd(settings.loginID) + QLatin1Char('@') + fromStd(settings.serverAddress);
}

void PasswordKeeper::setPlace(Place place) {
    place_ = place;
    emit placeChanged();
}

void PasswordKeeper::load() {
    ++saves_; // a save still under way belongs to settings that are gone
    if (!settings_.password.empty()) {
        setPlace(Place::File);
        return;
    }
    if (settings_.loginID.empty()) {
        setPlace(Place::Unknown);
        return;
    }
    reading_ = true;
    emit placeChanged();
    keyring_.read(keyFor(settings_), [this](Keyring::Answer answer, const QString& secret) {
        reading_ = false;
        // A password typed meanwhile counts over the one stored.
        if (answer == Keyring::Answer::Done && settings_.password.empty())
            settings_.password = secret.toStdString();
        setPlace(answer == Keyring::Answer::Failed ? Place::NoKeyring : Place::Keyring);
        emit readingDone();
    });
}

void PasswordKeeper::keepInFile() const {
    guarded(reportTo_, [this] { store::saveSettings(settings_); });
}

void PasswordKeeper::save() {
    const int save = ++saves_;
    if (reading_ || settings_.loginID.empty() || settings_.password.empty()) {
        // Without a login the password is never sent: it stays where it always was.
        store::saveSettings(settings_, store::settingsLocations(), store::systemFileOps(),
                            reading_ ? store::PasswordIn::Elsewhere : store::PasswordIn::File);
        if (!reading_ && !settings_.loginID.empty())
            keyring_.remove(keyFor(settings_), [](Keyring::Answer, const QString&) {});
        return;
    }
    store::saveSettings(settings_, store::settingsLocations(), store::systemFileOps(),
                        store::PasswordIn::Elsewhere);
    keyring_.write(keyFor(settings_), fromStd(settings_.password),
                   [this, save](Keyring::Answer answer, const QString&) {
                       if (save != saves_)
                           return;
                       if (answer != Keyring::Answer::Done) {
                           keepInFile();
                           setPlace(Place::NoKeyring);
                           return;
                       }
                       // Only now may the file's copy go.
                       if (!store::forgetPassword())
                           reportError(reportTo_,
                                       QStringLiteral("Unable to write to %1")
                                           .arg(QLatin1String(store::kSettingsFileName)));
                       setPlace(Place::Keyring);
                   });
}

QString PasswordKeeper::placeText() const {
    if (reading_)
        return QStringLiteral("Reading the password from the desktop keyring...");
    switch (place_) {
    case Place::Keyring:
        return QStringLiteral("The password is kept in the desktop keyring.");
    case Place::File:
        return QStringLiteral("The password is kept in dazoroz.ini, readable by you alone; OK "
                              "moves it to the desktop keyring if there is one.");
    case Place::NoKeyring:
        return QStringLiteral("No desktop keyring took the password: it is kept in "
                              "dazoroz.ini, readable by you alone.");
    case Place::Unknown:
        break;
    }
    return QStringLiteral("The password is kept in the desktop keyring, or in dazoroz.ini "
                          "where there is none.");
}

} // namespace dazoroz::ui
