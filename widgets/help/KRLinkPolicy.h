#pragma once

#include <QUrl>

// What a help page or an HTML window does with an address the user navigates to. Kept apart
// from the web views so that the rules can be checked without a renderer.
namespace KRLinkPolicy {

enum class Decision {
    Proceed,        // load it in the view
    OpenOutside,    // hand it to the user's browser; the view keeps its page
    SendToDelegate, // an in-application action: the address's host names it
    Ignore,         // neither load it nor open it
};

// Only web addresses are ever handed to the system: other schemes could start any program
// that claims them.
bool isWebAddress(const QUrl &url);

// Addresses without a host load in place when they are local (file, about, data, qrc, blob:
// a file, an anchor in the page) and are dropped otherwise (mailto:, tel:, …).
//
// The help pop-over: addresses with a host load until its first page has finished; afterwards
// web addresses go to the browser and other schemes with a host are dropped.
Decision forHelpView(const QUrl &url, bool openURLsExternally);

// An HTML window: "kr" addresses go to the delegate, or nowhere without one; other web
// addresses go to the browser.
Decision forHTMLWindow(const QUrl &url, bool hasDelegate);

} // namespace KRLinkPolicy
