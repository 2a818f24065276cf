#pragma once

#include "store/settings.h"

#include <QObject>
#include <QString>

class QWidget;

namespace dazoroz::ui {

class Keyring;

// Where the window keeps the login password between runs: in the desktop keyring under
// "<login ID>@<server>" when one answers, and then never in dazoroz.ini; else in dazoroz.ini
// (mode 0600) as before. The settings record holds it in memory either way, so that the send
// logic takes it from there as it always has.
class PasswordKeeper : public QObject {
    Q_OBJECT
public:
    enum class Place {
        Unknown,   // not asked yet: no login ID
        Keyring,   // the keyring holds it (or, with nothing stored, would)
        File,      // in dazoroz.ini, from before: the next save moves it
        NoKeyring, // in dazoroz.ini, since no keyring answered or it refused
    };

    // Failures of the writes that come after OK (the keyring's answer arrives later) go to the
    // general error report, with `reportTo` as parent.
    PasswordKeeper(store::Settings& settings, Keyring& keyring, QWidget* reportTo = nullptr);

    // Right after the settings are loaded. A password from the file stays there until the next
    // save moves it; otherwise the keyring is asked for the login ID's password.
    void load();
    // While the keyring is being asked (the password is not known yet).
    bool reading() const noexcept { return reading_; }

    // The configuration dialog's OK: writes the settings file (throws store::SettingsWriteError
    // as store::saveSettings does) without the password, then the password to the keyring.
    // Once the keyring has it, a password still in the file is removed from it; when the
    // keyring refuses, the file gets it. While the keyring is being read, the password is left
    // where it is.
    void save();

    Place place() const noexcept { return place_; }
    // One sentence for the configuration dialog: where the password is kept.
    QString placeText() const;

    // The keyring's key for the settings' login.
    static QString keyFor(const store::Settings& settings);

signals:
    // The keyring has answered the read: the settings record holds what it found.
    void readingDone();
    // place() or reading() changed.
    void placeChanged();

private:
    void setPlace(Place place);
    void keepInFile() const;

    store::Settings& settings_;
    Keyring& keyring_;
    QWidget* reportTo_;
    Place place_ = Place::Unknown;
    bool reading_ = false;
    int saves_ = 0; // only the answer to the latest save acts on the file
};

} // namespace dazoroz::ui
