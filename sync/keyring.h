#pragma once

// The sync password in the desktop's keyring (the Secret Service), under the server and the user; never in a file.

#include <QString>

#include <optional>

namespace keyring {

// Nothing when no keyring answers or it holds no password for them.
std::optional<QString> password(const QString &server, const QString &user);
// False when no keyring answers: the password is then asked for again at each sync.
bool store(const QString &server, const QString &user, const QString &password);
void forget(const QString &server, const QString &user);

} // namespace keyring
