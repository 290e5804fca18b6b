#pragma once

#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Stands for the in-application scheme in a profile. It serves nothing: "kr" links are actions
// that the navigation rules take away before anything loads, and any other request is refused.
// The web engine asks the page about a navigation to a registered scheme only while the
// profile has a handler for it.
class KRActionSchemeHandler final : public QWebEngineUrlSchemeHandler
{
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // Installs the handler in the profile once. The application registers the scheme before it
    // starts; without that there is nothing to install.
    static void installIn(QWebEngineProfile *profile);
};
