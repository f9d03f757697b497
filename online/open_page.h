#pragma once
// Opening a web page in the user's browser, as the menus, the new-version
// dialog and the web page panel do. GUI thread only.

#include <QUrl>
#include <functional>
#include <string>

namespace orvex {

using WebPageOpener = std::function<void(const QUrl&)>;

// Hands `url` to the user's browser (QDesktopServices::openUrl). Whether a
// browser starts is not examined.
void OpenWebPage(const QUrl& url);
void OpenWebPage(const std::string& address);

// Puts `opener` in the browser's place, so tests see the pages without a
// browser starting; an empty function puts the browser back. Returns the
// opener that was in place.
WebPageOpener SetWebPageOpener(WebPageOpener opener);

}  // namespace orvex
