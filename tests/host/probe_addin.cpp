// SimProbe: a small add-in that exercises every path of the host that the product's add-ins use.
// Module state (the click counter) lives in memory; the start counter lives in a file in the add-in's
// folder, found the way the product finds it: from the host executable's folder.
#include <Core/CoreAll.h>

#include "platform.h"
#include "utilities.h"

#include <csignal>
#include <fstream>
#include <string>

using namespace adsk::core;

namespace {

Ptr<Application> app;
Ptr<UserInterface> ui;
int clicks = 0;

constexpr const char* kButtonId = "probeButton";
constexpr const char* kPaletteId = "probePalette";

void Log(const std::string& text) {
  Application::log("PROBE: " + text, InfoLogLevel, FileLogType);
}

// Counts this start in SimProbe_starts.txt and returns the count.
int CountStart() {
  const std::string folder = AddinLocationFor(GetExecutableDirectory(), "SimProbe");
  if (folder.empty())
    return -1;
  const std::string path = folder + "/SimProbe_starts.txt";
  int starts = 0;
  {
    std::ifstream in(path);
    in >> starts;
  }
  std::ofstream(path) << ++starts << "\n";
  return starts;
}

class ExecuteHandler final : public CommandEventHandler {
public:
  void notify(const Ptr<CommandEventArgs>&) override {
    ++clicks;
    const DialogResults answer =
        ui->messageBox("Přejete si pokračovat?", "Zkouška", YesNoButtonType, QuestionIconType);
    Log("clicks=" + std::to_string(clicks) + " answer=" + std::to_string(answer));
  }
};

class CreatedHandler final : public CommandCreatedEventHandler {
public:
  void notify(const Ptr<CommandCreatedEventArgs>& args) override;
};

class HtmlHandler final : public HTMLEventHandler {
public:
  void notify(const Ptr<HTMLEventArgs>& args) override {
    Log("html action=" + args->action() + " data=" + args->data());
    if (args->action() == "open")
      OpenInBrowser(args->data());
    else if (args->action() == "crash")
      std::raise(SIGSEGV);
  }
};

class OnlineHandler final : public ApplicationEventHandler {
public:
  void notify(const Ptr<ApplicationEventArgs>& args) override;
};

ExecuteHandler _execute;
CreatedHandler _created;
HtmlHandler _html;
OnlineHandler _online;

void CreatedHandler::notify(const Ptr<CommandCreatedEventArgs>& args) {
  Ptr<Command> command = args->command();
  if (command && command->execute())
    command->execute()->add(&_execute);
}

void OnlineHandler::notify(const Ptr<ApplicationEventArgs>& args) {
  Log(args->isOffLine() ? "offline" : "online");
  if (args->isOffLine() || !ui)
    return;
  Ptr<Palettes> palettes = ui->palettes();
  if (palettes->itemById(kPaletteId))
    return;
  Ptr<Palette> palette =
      palettes->add(kPaletteId, "Zkušební paleta", "https://example.invalid/probe.html",
                    /*isVisible=*/false, /*showCloseButton=*/true, /*isResizable=*/true, 300, 500);
  if (!palette)
    return;
  palette->dockingState(PaletteDockStateRight);
  palette->incomingFromHTML()->add(&_html);
  palette->isVisible(true);
}

// Shows the host's last error and returns false for an empty handle.
bool Check(const Ptr<Base>& result) {
  if (result)
    return true;
  std::string text;
  app->getLastError(&text);
  ui->messageBox(text);
  return false;
}

} // namespace

extern "C" XI_EXPORT bool run(const char*) {
  app = Application::get();
  if (!app)
    return false;
  ui = app->userInterface();
  if (!ui)
    return false;
  Log("run, start " + std::to_string(CountStart()) + ", language " +
      std::to_string(app->preferences()->generalPreferences()->userLanguage()));
  app->onlineStatusChanged()->add(&_online);

  Ptr<CommandDefinition> definition = ui->commandDefinitions()->addButtonDefinition(
      kButtonId, "Zkušební tlačítko", "Nápověda", "./resources");
  if (!Check(definition))
    return false;
  definition->commandCreated()->add(&_created);
  Ptr<ToolbarPanel> panel = ui->allToolbarPanels()->itemById("SolidScriptsAddinsPanel");
  if (!Check(panel))
    return false;
  Ptr<CommandControl> control = panel->controls()->addCommand(definition);
  if (!Check(control))
    return false;
  control->isPromotedByDefault(true);
  Ptr<Toolbar> toolbar = ui->toolbars()->itemById("QATRight");
  if (!Check(toolbar))
    return false;
  return Check(toolbar->controls()->addCommand(definition, "HelpGroupCommand", false));
}

extern "C" XI_EXPORT bool stop(const char*) {
  if (!ui)
    return false;
  if (Ptr<ToolbarPanel> panel = ui->allToolbarPanels()->itemById("SolidScriptsAddinsPanel")) {
    if (Ptr<ToolbarControl> control = panel->controls()->itemById(kButtonId))
      control->deleteMe();
  }
  if (Ptr<Toolbar> toolbar = ui->toolbars()->itemById("QATRight")) {
    if (Ptr<ToolbarControl> control = toolbar->controls()->itemById(kButtonId))
      control->deleteMe();
  }
  if (Ptr<CommandDefinition> definition = ui->commandDefinitions()->itemById(kButtonId))
    definition->deleteMe();
  if (Ptr<Palette> palette = ui->palettes()->itemById(kPaletteId))
    palette->deleteMe();
  Log("stop after " + std::to_string(clicks) + " clicks");
  ui = nullptr;
  return true;
}
