#pragma once

#include <QString>

namespace dazoroz::ui {

// Where a program started from the desktop menu keeps its names list (`dazoroz --data-folder`,
// as the installed launcher starts it): one folder per user, whatever folder the launcher
// happened to start in.

// $XDG_DATA_HOME/dazoroz, or $HOME/.local/share/dazoroz when XDG_DATA_HOME is unset, empty or
// not an absolute path (such a value is ignored). Empty when neither gives an absolute folder.
QString dataFolder(const QString& xdgDataHome, const QString& home);

// Makes `folder` (missing parents too; the folder itself private to the user, mode 0700) and
// makes it the working directory. Returns an empty text, or why it could not.
QString enterFolder(const QString& folder);

} // namespace dazoroz::ui
