// The guide add-in's frame: the guide button and its handlers, and the bodies of the exported entry
// points (addin_entry.h states the contract they keep). Failures stay silent: nothing is reported to the
// user or to the host's log.
#pragma once

#include "guide_state.h"

#include <Core/CoreAll.h>

namespace miravelo {

constexpr const char* kGuideCommandId = "runTeachPalette";
constexpr const char* kGuideButtonName = "Zobrazit průvodce";
constexpr const char* kGuideButtonTooltip =
    "Průvodce je pomocník pro začátečníky, integrovaný do prostředí programu Fusion 360 a napomáhá s prvními "
    "kroky v aplikaci.";
constexpr const char* kGuideResourcesFirstStart = "resources/Pruvodce/LessTen";
constexpr const char* kGuideResources = "resources/Pruvodce";
constexpr const char* kToolbarId = "QATRight";
constexpr const char* kButtonPositionId = "HelpGroupCommand";

// The e-shop button is not offered: the shop's address is not known. Its handlers exist, and stop
// still removes a definition and a control of its id when the host holds them.
constexpr const char* kEshopCommandId = "openEshop";
constexpr const char* kEshopButtonName = "CAD/CAM eshop";
constexpr const char* kEshopButtonTooltip =
    "Otevře nabídku výukových kurzů, doplňků a rozšíření Fusionu 360 na e-shopu Quorlex Sytems.";
constexpr const char* kEshopResourcesFirstStart = "resources/Eshop/LessTen";
constexpr const char* kEshopResources = "resources/Eshop";
// Address of the maker's web shop; unknown, and while empty the e-shop command opens nothing.
constexpr const char* SHOP_URL = "";

// The bodies of run and stop. RunAddin counts the start, may open the guide palette and adds the guide
// button; true when the button and its command handler are in place. StopAddin removes the palette and
// the buttons; true when it ran to its end or there was nothing to remove (a second stop).
bool RunAddin(const char* context) noexcept;
bool StopAddin(const char* context) noexcept;

class CmdCreatedEventHandler final : public adsk::core::CommandCreatedEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override;
};

class CmdExecuteEventHandler final : public adsk::core::CommandEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandEventArgs>& eventArgs) override;
};

class CmdEshopCreatedEventHandler final : public adsk::core::CommandCreatedEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override;
};

class CmdEshopExecuteEventHandler final : public adsk::core::CommandEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandEventArgs>& eventArgs) override;
};

extern CmdCreatedEventHandler _cmdCreated;
extern CmdExecuteEventHandler _cmdExecute;
extern CmdEshopCreatedEventHandler _cmdEshopCreated;
extern CmdEshopExecuteEventHandler _cmdEshopExecute;

} // namespace miravelo
