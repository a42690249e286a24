// The guide palette: a page of the maker's learning web site shown in a docked HTML palette, and the
// messages that the page sends back (addresses to open in the default browser).
#pragma once

#include <Core/CoreAll.h>

#include "product_constants.h"

#include <string>

namespace miravelo {

// Origin of the learning web site that serves the guide page.
constexpr const char* LEARNING_SITE_BASE = product::kLearningSiteBase;
// The host's text command whose answer is the user's entitlement; passed to the page as it comes.
constexpr const char* kEntitlementTextCommand = "Licensing.EntitlementStatus";

constexpr const char* kPaletteId = "teachPalete";
constexpr const char* kPaletteName = "Miravelo";

// "CSY" for the host's Czech language (UserLanguages value 2), "ENG" for any other.
std::string LanguageCode(adsk::core::UserLanguages language);
// base + "/fusion360/learning.asp?lang=" + code + "&lic=" + entitlement, the entitlement unencoded.
std::string GuidePageUrl(const std::string& base, const std::string& languageCode,
                         const std::string& entitlement);

// Shows the guide palette, creating it with GuideHTMLEventHandler attached the first time. An existing
// palette is only made visible: its page is not reloaded. Reads the language and the entitlement from
// the module-level app. False when a host call failed on the way.
bool OpenPalette();
// The same for the online-status handler: takes the palettes from the module-level ui and attaches
// GuideFirst3HTMLEventHandler to a new palette.
void OpenPaletteOnline();

// The web address carried by a page message: the message without its first and last character (the
// quotes around it). Empty unless that is an http:// or https:// address without blanks or control
// characters, so that a path, a file:// address, an application or any other text opens nothing.
std::string AddressFromPageMessage(const std::string& message);
// Opens the address of a page message in the default browser, started directly with the address as
// its one argument (no shell sees the text); does nothing when the message carries no web address.
void OpenPageMessage(const std::string& message);

class GuideHTMLEventHandler final : public adsk::core::HTMLEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::HTMLEventArgs>& eventArgs) override;
};

// Behaves as GuideHTMLEventHandler; attached to palettes that the online-status handler created.
class GuideFirst3HTMLEventHandler final : public adsk::core::HTMLEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::HTMLEventArgs>& eventArgs) override;
};

extern GuideHTMLEventHandler _onHTMLEvent;
extern GuideFirst3HTMLEventHandler _onHTMLEventFirst3;

} // namespace miravelo
