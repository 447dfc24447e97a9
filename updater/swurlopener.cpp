#include "swurlopener.h"

#include <QDesktopServices>

namespace {
SwUrlOpener::Opener &opener()
{
    static SwUrlOpener::Opener current;
    return current;
}
}  // namespace

bool SwUrlOpener::isWebUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool SwUrlOpener::open(const QUrl &url)
{
    if (!isWebUrl(url))
        return false;
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void SwUrlOpener::setOpener(Opener replacement)
{
    opener() = std::move(replacement);
}
