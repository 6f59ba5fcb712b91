#include "shell/AddressInput.h"

#include <QRegularExpression>

namespace perchlight {

bool AddressInput::isLoadable(const QUrl& url) {
    if (!url.isValid()) {
        return false;
    }
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        return !url.host().isEmpty();
    }
    return scheme == QLatin1String("file") || scheme == QLatin1String("about");
}

std::optional<QUrl> AddressInput::toUrl(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    if (text.startsWith(QLatin1Char('/'))) {
        return QUrl::fromLocalFile(text);
    }
    // "scheme:" as the start of an address, unless it is a host followed by a port number.
    static const QRegularExpression schemePrefix(
        QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?!\\d)"));
    const QString candidate =
        schemePrefix.match(text).hasMatch() ? text : QStringLiteral("http://") + text;
    const QUrl url(candidate, QUrl::StrictMode);
    if (!isLoadable(url)) {
        return std::nullopt;
    }
    return url;
}

}  // namespace perchlight
