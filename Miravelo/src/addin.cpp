#include "addin.h"

#include "exception_boundary.h"
#include "guide_palette.h"
#include "platform.h"
#include "start_counter.h"

#include <string>

using namespace adsk::core;

namespace miravelo {
namespace {

// Opens the palette by itself during the first four starts (counter 0 to 3).
bool OpensByItself(std::int32_t count) {
  return count >= 0 && count <= 3;
}

class OnlineStatusChangedHandler final : public ApplicationEventHandler {
public:
  void notify(const Ptr<ApplicationEventArgs>& eventArgs) override;
};

OnlineStatusChangedHandler onlineStatusChangedHandler_;

// A failure leaves the palette as it is.
void OnlineStatusChangedHandler::notify(const Ptr<ApplicationEventArgs>& eventArgs) {
  CallGuarded(
      [&] {
        // Going offline changes nothing: an open palette stays open.
        if (!eventArgs || eventArgs->isOffLine() || !OpensByItself(countOpenPalette))
          return;
        OpenPaletteOnline();
      },
      IgnoreFailure());
}

Ptr<Toolbar> GuideToolbar() {
  if (!app)
    return nullptr;
  Ptr<UserInterface> userInterface = app->userInterface();
  if (!userInterface)
    return nullptr;
  Ptr<Toolbars> toolbars = userInterface->toolbars();
  if (!toolbars)
    return nullptr;
  return toolbars->itemById(kToolbarId);
}

// Attaches executeHandler to the execute event of the command that eventArgs carries, when the command
// has inputs and an execute event; otherwise the click does nothing.
void AttachExecuteHandler(const Ptr<CommandCreatedEventArgs>& eventArgs,
                          CommandEventHandler* executeHandler) {
  if (!eventArgs)
    return;
  Ptr<Command> command = eventArgs->command();
  if (!command || !command->commandInputs())
    return;
  Ptr<CommandEvent> execute = command->execute();
  if (!execute)
    return;
  execute->add(executeHandler);
}

// Deletes the command definition and then the toolbar control of id, each when the host holds it. The
// control is deleted through ToolbarControl: a down-cast to a host class would compare type information
// that the add-in holds a hidden copy of, which on macOS never equals the host's.
void RemoveButton(const Ptr<CommandDefinitions>& definitions, const Ptr<ToolbarControls>& controls,
                  const std::string& id) {
  if (Ptr<CommandDefinition> definition = definitions->itemById(id))
    definition->deleteMe();
  if (Ptr<ToolbarControl> control = controls->itemById(id))
    control->deleteMe();
}

bool RunSteps() {
  app = Application::get();
  if (!app)
    return false;
  ui = app->userInterface();
  if (!ui)
    return false;

  countOpenPalette = AutoOpenPalette();

  Ptr<ApplicationEvent> onlineStatusChanged = app->onlineStatusChanged();
  if (!onlineStatusChanged)
    return false;
  onlineStatusChanged->add(&onlineStatusChangedHandler_);

  if (!app->isOffLine() && OpensByItself(countOpenPalette))
    OpenPalette();

  Ptr<Toolbar> toolbar = GuideToolbar();
  if (!toolbar)
    return false;
  const char* resources = countOpenPalette < 1 ? kGuideResourcesFirstStart : kGuideResources;
  Ptr<CommandDefinitions> definitions = ui->commandDefinitions();
  if (!definitions)
    return false;
  Ptr<CommandDefinition> definition =
      definitions->addButtonDefinition(kGuideCommandId, kGuideButtonName, kGuideButtonTooltip, resources);
  if (!definition)
    return false;
  Ptr<ToolbarControls> controls = toolbar->controls();
  if (!controls || !controls->addCommand(definition, kButtonPositionId, /*isBefore=*/false))
    return false;
  Ptr<CommandCreatedEvent> commandCreated = definition->commandCreated();
  if (!commandCreated)
    return false;
  return commandCreated->add(&_cmdCreated);
}

bool StopSteps() {
  if (!ui)
    return true;
  Ptr<Palettes> palettes = ui->palettes();
  if (!palettes)
    return false;
  if (Ptr<Palette> guidePalette = palettes->itemById(kPaletteId))
    guidePalette->deleteMe();

  Ptr<Toolbar> toolbar = GuideToolbar();
  if (!toolbar)
    return false;
  Ptr<CommandDefinitions> definitions = ui->commandDefinitions();
  Ptr<ToolbarControls> controls = toolbar->controls();
  if (!definitions || !controls)
    return false;
  RemoveButton(definitions, controls, kEshopCommandId);
  RemoveButton(definitions, controls, kGuideCommandId);
  ui = nullptr;
  return true;
}

} // namespace

Ptr<Application> app;
Ptr<UserInterface> ui;
Ptr<Palette> palette;
std::int32_t countOpenPalette = 0;

CmdCreatedEventHandler _cmdCreated;
CmdExecuteEventHandler _cmdExecute;
CmdEshopCreatedEventHandler _cmdEshopCreated;
CmdEshopExecuteEventHandler _cmdEshopExecute;

bool RunAddin(const char* /*context*/) noexcept {
  return CallGuarded(RunSteps, false, IgnoreFailure());
}

bool StopAddin(const char* /*context*/) noexcept {
  return CallGuarded(StopSteps, false, IgnoreFailure());
}

// A failing click does nothing.
void CmdCreatedEventHandler::notify(const Ptr<CommandCreatedEventArgs>& eventArgs) {
  CallGuarded([&] { AttachExecuteHandler(eventArgs, &_cmdExecute); }, IgnoreFailure());
}

void CmdExecuteEventHandler::notify(const Ptr<CommandEventArgs>& /*eventArgs*/) {
  CallGuarded([] { OpenPalette(); }, IgnoreFailure());
}

void CmdEshopCreatedEventHandler::notify(const Ptr<CommandCreatedEventArgs>& eventArgs) {
  CallGuarded([&] { AttachExecuteHandler(eventArgs, &_cmdEshopExecute); }, IgnoreFailure());
}

void CmdEshopExecuteEventHandler::notify(const Ptr<CommandEventArgs>& /*eventArgs*/) {
  CallGuarded(
      [] {
        const std::string address = SHOP_URL;
        if (!address.empty())
          OpenInBrowser(address);
      },
      IgnoreFailure());
}

} // namespace miravelo
