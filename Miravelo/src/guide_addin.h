// The guide add-in's frame: the module-level state that its parts share, the guide button's handlers
// and the bodies of the exported entry points.
//
// The host calls run, stop and every notify on one thread and waits for each. None of them lets an
// exception out, and none reports anything to the user or the host's log: failures stay silent.
#pragma once

#include <Core/CoreAll.h>

#include <cstdint>

namespace miravelo {

// Set by run; app is never cleared, ui is made empty by stop.
extern adsk::core::Ptr<adsk::core::Application> app;
extern adsk::core::Ptr<adsk::core::UserInterface> ui;
// The guide palette last looked up or created.
extern adsk::core::Ptr<adsk::core::Palette> palette;
// Result of AutoOpenPalette at run: -1 unreadable counter, 0 first start, else the earlier starts.
extern std::int32_t countOpenPalette;

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

// Bodies of the exported run and stop. run counts the start, may open the guide palette and adds the
// guide button; true when the button and its command handler are in place. stop removes the palette
// and the buttons; true when it ran to its end or there was nothing to remove (a second stop).
bool run(const char* context) noexcept;
bool stop(const char* context) noexcept;

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
