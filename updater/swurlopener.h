#pragma once

#include <QUrl>

#include <functional>

// Opens web addresses in the user's browser. Only http and https addresses ever leave the
// program: a feed or a release-notes page could otherwise name a local file or a program.
class SwUrlOpener
{
public:
    using Opener = std::function<bool(const QUrl &)>;

    static bool isWebUrl(const QUrl &url);
    // False without calling anything when the address is not http or https.
    static bool open(const QUrl &url);
    // Replaces the browser call (tests record instead); an empty function restores it.
    static void setOpener(Opener opener);
};
