#include "guide_palette.h"

#include "exception_boundary.h"
#include "guide_state.h"
#include "platform.h"

#include <cctype>

using namespace adsk::core;

namespace miravelo {
namespace {

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
      return false;
  }
  return true;
}

// The page address as the host tells it now: language and entitlement are read anew at every opening.
bool CurrentGuidePageUrl(std::string& url) {
  if (!app)
    return false;
  const std::string entitlement = app->executeTextCommand(kEntitlementTextCommand);
  Ptr<Preferences> preferences = app->preferences();
  if (!preferences)
    return false;
  Ptr<GeneralPreferences> general = preferences->generalPreferences();
  if (!general)
    return false;
  url = GuidePageUrl(LEARNING_SITE_BASE, LanguageCode(general->userLanguage()), entitlement);
  return true;
}

// Shows the guide palette found in palettes, or creates it at url with handler attached.
bool ShowGuidePalette(const Ptr<Palettes>& palettes, const std::string& url, HTMLEventHandler* handler) {
  if (!palettes)
    return false;
  palette = palettes->itemById(kPaletteId);
  if (palette) {
    palette->isVisible(true);
    return true;
  }
  palette = palettes->add(kPaletteId, kPaletteName, url, /*isVisible=*/true, /*showCloseButton=*/true,
                          /*isResizable=*/true, /*width=*/300, /*height=*/400, /*useNewWebBrowser=*/true);
  if (!palette)
    return false;
  palette->dockingState(PaletteDockStateRight);
  Ptr<HTMLEvent> incoming = palette->incomingFromHTML();
  if (!incoming)
    return false;
  if (!incoming->add(handler))
    return false;
  palette->isVisible(true);
  return true;
}

} // namespace

GuideHTMLEventHandler _onHTMLEvent;
GuideFirst3HTMLEventHandler _onHTMLEventFirst3;

std::string LanguageCode(UserLanguages language) {
  return language == CzechLanguage ? "CSY" : "ENG";
}

std::string GuidePageUrl(const std::string& base, const std::string& languageCode,
                         const std::string& entitlement) {
  return base + "/fusion360/learning.asp?lang=" + languageCode + "&lic=" + entitlement;
}

bool OpenPalette() {
  std::string url;
  if (!CurrentGuidePageUrl(url))
    return false;
  Ptr<Application> application = Application::get();
  if (!application)
    return false;
  Ptr<UserInterface> userInterface = application->userInterface();
  if (!userInterface)
    return false;
  return ShowGuidePalette(userInterface->palettes(), url, &_onHTMLEvent);
}

void OpenPaletteOnline() {
  std::string url;
  if (!CurrentGuidePageUrl(url) || !ui)
    return;
  ShowGuidePalette(ui->palettes(), url, &_onHTMLEventFirst3);
}

std::string AddressFromPageMessage(const std::string& message) {
  if (message.size() < 2)
    return std::string();
  std::string address = message.substr(1, message.size() - 2);
  std::size_t schemeLength = 0;
  if (StartsWithIgnoringCase(address, "https://"))
    schemeLength = 8;
  else if (StartsWithIgnoringCase(address, "http://"))
    schemeLength = 7;
  if (schemeLength == 0 || address.size() == schemeLength)
    return std::string();
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F)
      return std::string();
  }
  return address;
}

void OpenPageMessage(const std::string& message) {
  const std::string address = AddressFromPageMessage(message);
  if (!address.empty())
    OpenInBrowser(address);
}

// A page message that fails opens nothing.
void GuideHTMLEventHandler::notify(const Ptr<HTMLEventArgs>& eventArgs) {
  CallGuarded(
      [&] {
        if (eventArgs)
          OpenPageMessage(eventArgs->data());
      },
      IgnoreFailure());
}

void GuideFirst3HTMLEventHandler::notify(const Ptr<HTMLEventArgs>& eventArgs) {
  CallGuarded(
      [&] {
        if (eventArgs)
          OpenPageMessage(eventArgs->data());
      },
      IgnoreFailure());
}

} // namespace miravelo
