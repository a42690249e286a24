// SimProbe: a small add-in that exercises every path of the host that the product's add-ins use.
// Module state (the click counter) lives in memory; the start counter lives in a file in the add-in's
// folder, found the way the product finds it: from the host executable's folder.
//
// Background work as the product does it: a worker thread fires custom events, whose handlers do the
// host calls on the main thread. Page messages (html probePalette DATA ACTION) drive it:
//   fire N          a worker fires N "probeTick" events and is joined before the handler returns
//   fire-async N MS a worker fires N "probeTick" events MS milliseconds apart, not waited for
//   progress N MS D a progress dialog 0..N (delay D s) advanced by N "probeStep" events MS ms apart;
//                   Cancel stops the worker
//   slow MS         the handler keeps the main thread MS milliseconds
//   unregister      unregisters "probeTick"
// stop joins the worker after making it stop, and itself fires three "probeTick" events while joining
// a second worker, which the host must drop with the add-in.
#include <Core/CoreAll.h>

#include "platform.h"
#include "utilities.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace adsk::core;

namespace {

Ptr<Application> app;
Ptr<UserInterface> ui;
int clicks = 0;

constexpr const char* kTickEvent = "probeTick";
constexpr const char* kStepEvent = "probeStep";
std::thread::id mainThread;
std::thread worker;
std::atomic<bool> workerStop{false};
Ptr<ProgressDialog> progress;
int progressMaximum = 0;

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
} _execute;

// Waits for the running worker, if any, to end.
void JoinWorker() {
  if (worker.joinable())
    worker.join();
  workerStop = false;
}

// Ends the running worker, if any: asks it to stop and joins it.
void StopWorker() {
  workerStop = true;
  JoinWorker();
}

// Starts a worker that fires `count` events of `eventId` (additional info 1, 2, ...) `pause` apart and
// counts the fires the host accepted in *accepted.
void StartWorker(const std::string& eventId, int count, std::chrono::milliseconds pause,
                 std::atomic<int>* accepted = nullptr) {
  StopWorker();
  worker = std::thread([eventId, count, pause, accepted] {
    for (int i = 1; i <= count && !workerStop; ++i) {
      // fireCustomEvent is the one host call a worker may make.
      if (app->fireCustomEvent(eventId, std::to_string(i)) && accepted)
        ++*accepted;
      if (pause.count() > 0)
        std::this_thread::sleep_for(pause);
    }
  });
}

class TickHandler final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& args) override {
    const bool onMain = std::this_thread::get_id() == mainThread;
    Log("tick " + args->additionalInfo() + (onMain ? " on the main thread" : " on another thread"));
  }
} _tick;

class StepHandler final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& args) override {
    if (!progress)
      return;
    if (progress->wasCancelled()) {
      Log("cancelled at " + std::to_string(progress->progressValue()));
      progress = nullptr;
      workerStop = true;
      return;
    }
    const int value = std::stoi(args->additionalInfo());
    progress->progressValue(value);
    if (value >= progressMaximum) {
      progress->hide();
      progress = nullptr;
      Log("progress done");
    }
  }
} _step;

class CreatedHandler final : public CommandCreatedEventHandler {
public:
  void notify(const Ptr<CommandCreatedEventArgs>& args) override {
    Ptr<Command> command = args->command();
    if (command && command->execute())
      command->execute()->add(&_execute);
  }
} _created;

class HtmlHandler final : public HTMLEventHandler {
public:
  void notify(const Ptr<HTMLEventArgs>& args) override {
    Log("html action=" + args->action() + " data=" + args->data());
    const std::string action = args->action();
    std::istringstream data(args->data());
    int count = 0, pause = 0, delay = 0;
    data >> count >> pause >> delay;
    if (action == "open") {
      OpenInBrowser(args->data());
    } else if (action == "crash") {
      std::raise(SIGSEGV);
    } else if (action == "fire") {
      std::atomic<int> accepted{0};
      StartWorker(kTickEvent, count, std::chrono::milliseconds(0), &accepted);
      JoinWorker();
      Log("fired " + std::to_string(accepted) + " of " + std::to_string(count));
    } else if (action == "fire-async") {
      StartWorker(kTickEvent, count, std::chrono::milliseconds(pause));
    } else if (action == "progress") {
      progress = ui->createProgressDialog();
      progressMaximum = count;
      progress->cancelButtonText("Zrušit");
      progress->show("Zkouška", "Hotovo %p % (%v z %m)", 0, count, delay);
      StartWorker(kStepEvent, count, std::chrono::milliseconds(pause));
    } else if (action == "slow") {
      std::this_thread::sleep_for(std::chrono::milliseconds(count));
    } else if (action == "unregister") {
      Log(std::string("unregistered: ") + (app->unregisterCustomEvent(kTickEvent) ? "true" : "false"));
    }
  }
} _html;

class OnlineHandler final : public ApplicationEventHandler {
public:
  void notify(const Ptr<ApplicationEventArgs>& args) override {
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
} _online;

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
  mainThread = std::this_thread::get_id();
  Ptr<CustomEvent> tick = app->registerCustomEvent(kTickEvent);
  Ptr<CustomEvent> step = app->registerCustomEvent(kStepEvent);
  if (!Check(tick) || !Check(step))
    return false;
  tick->add(&_tick);
  step->add(&_step);

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
  StopWorker();
  // Events fired while stop runs are never delivered: the host drops them with the add-in.
  StartWorker(kTickEvent, 3, std::chrono::milliseconds(0));
  JoinWorker();
  progress = nullptr;
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
