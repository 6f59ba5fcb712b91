#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace perchlight {

// Turns what the user typed (or gave on the command line) into an address to load. Only http,
// https, file and about: addresses are loaded; a bare host name, with or without a port and
// path, becomes an http address, and an absolute file path a file address. Stateless.
class AddressInput {
  public:
    static std::optional<QUrl> toUrl(const QString& typed);
    // Whether the shell loads addresses of this URL's scheme.
    static bool isLoadable(const QUrl& url);
};

}  // namespace perchlight
