#include "host_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace hostsim {
namespace detail {

namespace {

std::string Unqualified(const char* className) {
  std::string name = className ? className : "";
  const std::string prefix = "adsk::core::";
  if (name.compare(0, prefix.size(), prefix) == 0)
    name.erase(0, prefix.size());
  return name;
}

// Takes the object out of its list in the host's state.
template <class T> void EraseFrom(std::vector<Ptr<T>>& items, const T* object) {
  items.erase(std::remove_if(items.begin(), items.end(),
                             [object](const Ptr<T>& item) { return item.get() == object; }),
              items.end());
}

// False (with the last error set) when a new object's id is empty or already taken.
bool NewIdAccepted(const std::string& id, bool taken, const char* what) {
  if (id.empty()) {
    SetLastError(kInvalidArgument, std::string("A ") + what + " needs an id.");
    return false;
  }
  if (taken) {
    SetLastError(kInvalidArgument, std::string("A ") + what + " with the id \"" + id + "\" already exists.");
    return false;
  }
  return true;
}

} // namespace

namespace {
void BuildDefaultUserInterface(HostState& state);

// The thread that first used the host is its main thread.
std::thread::id MainThread() {
  static const std::thread::id main = std::this_thread::get_id();
  return main;
}
} // namespace

HostState& State() {
  static HostState state;
  if (!state.initialized) {
    MainThread();
    state.initialized = true;
    BuildDefaultUserInterface(state);
    state.textAnswers[kEntitlementTextCommand] = "STUDENT";
  }
  return state;
}

void Record(const TranscriptEvent& event) {
  HostState& state = State();
  state.transcript.push_back(event);
  // The listener gets its own copy: it may record further events, which can move the transcript.
  if (state.listener)
    state.listener(event);
}

void SetLastError(int code, const std::string& text) {
  State().lastErrorCode = code;
  State().lastErrorText = text;
}

bool Failing(const char* className, const char* member) {
  // Nearly every call of the interface passes here. A call from another thread would race with the
  // host; the real host may crash much later, the simulation stops at once and says where.
  if (std::this_thread::get_id() != MainThread()) {
    std::fprintf(stderr, "hostsim: %s.%s called from a thread other than the host's main thread\n",
                 Unqualified(className).c_str(), member);
    std::abort();
  }
  const auto& failures = State().failures;
  if (failures.empty())
    return false;
  auto found = failures.find(Unqualified(className) + "." + member);
  if (found == failures.end())
    found = failures.find(member);
  if (found == failures.end())
    return false;
  SetLastError(kInjectedFailure, found->second);
  return true;
}

bool Deleted(const Base& object, const char* className) {
  if (object.isValid())
    return false;
  SetLastError(kObjectDeleted, "The " + Unqualified(className) + " object has been deleted.");
  return true;
}

void ReportHandlerException(const std::string& eventName, const std::string& what) {
  Record(TranscriptEvent{"error", {}}.addText("message", "a handler of the event " + eventName +
                                                             " threw an exception: " + what));
}

Ptr<ToolbarControlsImpl> ControlsOf(const std::string& parentId) {
  if (auto toolbar = FindById(State().toolbars, parentId))
    return toolbar->controlsImpl();
  if (auto panel = FindById(State().panels, parentId))
    return panel->controlsImpl();
  return Ptr<ToolbarControlsImpl>();
}

Ptr<PaletteImpl> FindPalette(const std::string& id) {
  return FindById(State().palettes, id);
}

Ptr<CommandDefinitionImpl> FindDefinition(const std::string& id) {
  return FindById(State().definitions, id);
}

namespace {

// Ids of the default user interface follow the host's own. Each toolbar and panel holds a few host
// controls, so that positions relative to them can be tested.
void BuildDefaultUserInterface(HostState& state) {
  struct Parent {
    const char* id;
    std::vector<const char*> controls;
  };
  const std::vector<Parent> toolbars = {
      {"QAT", {"FileSubMenuCommand", "SaveCommand", "UndoCommand", "RedoCommand"}},
      {"QATRight", {"UserDisplayNameCommand", "HelpGroupCommand"}},
      {"NavToolbar", {"OrbitCommand", "LookAtCommand", "ZoomCommand"}},
      {"SolidCreateDropDown", {"PrimitiveBox", "ExtrudeCommand"}},
  };
  const std::vector<Parent> panels = {
      {"SolidCreatePanel", {"SketchCreate", "ExtrudeCommand", "RevolveCommand"}},
      {"SolidModifyPanel", {"FusionPressPullCommand", "FilletCommand"}},
      {"SolidScriptsAddinsPanel", {"ScriptsManagerCommand"}},
      {"InspectPanel", {"MeasureCommand"}},
  };
  for (const Parent& parent : toolbars) {
    auto toolbar = MakeObject<ToolbarImpl>(parent.id);
    for (const char* control : parent.controls)
      toolbar->controlsImpl()->addHostControl(control, std::string(control) != "HelpGroupCommand");
    state.toolbars.push_back(toolbar);
  }
  for (const Parent& parent : panels) {
    auto panel = MakeObject<ToolbarPanelImpl>(parent.id);
    for (const char* control : parent.controls)
      panel->controlsImpl()->addHostControl(control, true);
    state.panels.push_back(panel);
  }
}

} // namespace

// --- CommandDefinition -----------------------------------------------------------------------

CommandDefinitionImpl::CommandDefinitionImpl(std::string id, std::string name, std::string tooltip,
                                             std::string resourceFolder)
    : m_id(std::move(id)), m_name(std::move(name)), m_tooltip(std::move(tooltip)),
      m_resourceFolder(std::move(resourceFolder)),
      m_commandCreated(MakeObject<CommandCreatedEventImpl>("CommandCreatedEvent", "commandCreated")) {}

Ptr<CommandCreatedEvent> CommandDefinitionImpl::commandCreated() const {
  if (Failing("CommandDefinition", "commandCreated") || Deleted(*this, "CommandDefinition"))
    return Ptr<CommandCreatedEvent>();
  return m_commandCreated;
}

bool CommandDefinitionImpl::deleteMe() {
  if (Failing("CommandDefinition", "deleteMe") || Deleted(*this, "CommandDefinition"))
    return false;
  EraseFrom(State().definitions, this);
  invalidate();
  m_commandCreated->invalidate();
  Record(TranscriptEvent{"definition_removed", {}}.addText("id", m_id));
  return true;
}

// --- Controls --------------------------------------------------------------------------------

CommandControlImpl::CommandControlImpl(std::string parentId, const Ptr<CommandDefinition>& definition)
    : m_parentId(std::move(parentId)), m_id(definition->id()), m_definition(definition) {}

bool CommandControlImpl::deleteMe() {
  if (Failing("CommandControl", "deleteMe") || Failing("ToolbarControl", "deleteMe") ||
      Deleted(*this, "CommandControl"))
    return false;
  if (auto controls = ControlsOf(m_parentId))
    controls->detach(this);
  invalidate();
  Record(TranscriptEvent{"control_removed", {}}.addText("parent", m_parentId).addText("id", m_id));
  return true;
}

Ptr<CommandDefinition> CommandControlImpl::commandDefinition() const {
  if (Failing("CommandControl", "commandDefinition") || Deleted(*this, "CommandControl"))
    return Ptr<CommandDefinition>();
  return m_definition;
}

bool CommandControlImpl::isPromotedByDefault(bool value) {
  if (Failing("CommandControl", "isPromotedByDefault") || Deleted(*this, "CommandControl"))
    return false;
  m_promoted = value;
  Record(TranscriptEvent{"control_promoted", {}}
             .addText("parent", m_parentId)
             .addText("id", m_id)
             .addBoolean("promoted", value));
  return true;
}

bool HostControlImpl::deleteMe() {
  if (Failing("ToolbarControl", "deleteMe") || Deleted(*this, "ToolbarControl"))
    return false;
  if (auto controls = ControlsOf(m_parentId))
    controls->detach(this);
  invalidate();
  Record(TranscriptEvent{"control_removed", {}}.addText("parent", m_parentId).addText("id", m_id));
  return true;
}

Ptr<CommandControl> ToolbarControlsImpl::addCommand(const Ptr<CommandDefinition>& commandDefinition,
                                                    const std::string& positionID, bool isBefore) {
  if (Failing("ToolbarControls", "addCommand") || Deleted(*this, "ToolbarControls"))
    return Ptr<CommandControl>();
  if (!commandDefinition || !commandDefinition->isValid()) {
    SetLastError(kInvalidArgument, "The command definition is empty or deleted.");
    return Ptr<CommandControl>();
  }
  const std::string id = commandDefinition->id();
  for (const auto& control : m_controls) {
    if (control->id() == id) {
      SetLastError(kInvalidArgument,
                   "A control with the id \"" + id + "\" already exists in " + m_parentId + ".");
      return Ptr<CommandControl>();
    }
  }
  auto position = m_controls.end();
  if (!positionID.empty()) {
    position = std::find_if(m_controls.begin(), m_controls.end(),
                            [&](const Ptr<ToolbarControl>& c) { return c->id() == positionID; });
    if (position == m_controls.end()) {
      SetLastError(kInvalidArgument, "No control with the id \"" + positionID + "\" in " + m_parentId +
                                         " to position the new control at.");
      return Ptr<CommandControl>();
    }
    if (!isBefore)
      ++position;
  }
  auto control = MakeObject<CommandControlImpl>(m_parentId, commandDefinition);
  m_controls.insert(position, control);
  Record(TranscriptEvent{"control_added", {}}
             .addText("parent", m_parentId)
             .addText("id", id)
             .addText("position", positionID)
             .addBoolean("before", isBefore)
             .addBoolean("promoted", control->isPromotedByDefault()));
  return control;
}

void ToolbarControlsImpl::addHostControl(const std::string& id, bool commandLike) {
  if (commandLike) {
    m_controls.push_back(
        MakeObject<CommandControlImpl>(m_parentId, MakeObject<CommandDefinitionImpl>(id, id, "", "")));
  } else {
    m_controls.push_back(MakeObject<HostControlImpl>(m_parentId, id));
  }
}

bool ToolbarControlsImpl::detach(const ToolbarControl* control) {
  const auto found = std::find_if(m_controls.begin(), m_controls.end(),
                                  [control](const Ptr<ToolbarControl>& c) { return c.get() == control; });
  if (found == m_controls.end())
    return false;
  m_controls.erase(found);
  return true;
}

void ToolbarControlsImpl::invalidateAll() {
  for (const auto& control : m_controls) {
    if (auto command = Ptr<CommandControlImpl>(control))
      command->invalidate();
    else if (auto host = Ptr<HostControlImpl>(control))
      host->invalidate();
  }
  m_controls.clear();
  invalidate();
}

std::vector<std::string> ToolbarControlsImpl::ids() const {
  std::vector<std::string> out;
  for (const auto& control : m_controls)
    out.push_back(control->id());
  return out;
}

// --- Toolbars and panels ---------------------------------------------------------------------

const std::vector<Ptr<ToolbarImpl>>& ToolbarsImpl::items() const {
  return State().toolbars;
}

const std::vector<Ptr<ToolbarPanelImpl>>& ToolbarPanelListImpl::items() const {
  return State().panels;
}

// --- Command definitions ---------------------------------------------------------------------

const std::vector<Ptr<CommandDefinitionImpl>>& CommandDefinitionsImpl::items() const {
  return State().definitions;
}

Ptr<CommandDefinition> CommandDefinitionsImpl::addButtonDefinition(const std::string& id,
                                                                   const std::string& name,
                                                                   const std::string& tooltip,
                                                                   const std::string& resourceFolder) {
  if (Failing("CommandDefinitions", "addButtonDefinition"))
    return Ptr<CommandDefinition>();
  if (!NewIdAccepted(id, FindDefinition(id), "command definition"))
    return Ptr<CommandDefinition>();
  auto definition = MakeObject<CommandDefinitionImpl>(id, name, tooltip, resourceFolder);
  State().definitions.push_back(definition);
  Record(TranscriptEvent{"definition_added", {}}
             .addText("id", id)
             .addText("name", name)
             .addText("tooltip", tooltip)
             .addText("resources", resourceFolder));
  return definition;
}

// --- Palettes --------------------------------------------------------------------------------

PaletteImpl::PaletteImpl(std::string id, std::string name, std::string url, bool visible)
    : m_id(std::move(id)), m_name(std::move(name)), m_url(std::move(url)), m_visible(visible),
      m_incoming(MakeObject<HTMLEventImpl>("HTMLEvent", "incomingFromHTML")) {}

bool PaletteImpl::isVisible(bool value) {
  if (Failing("Palette", "isVisible") || Deleted(*this, "Palette"))
    return false;
  m_visible = value;
  Record(TranscriptEvent{"palette_visible", {}}.addText("id", m_id).addBoolean("visible", value));
  return true;
}

bool PaletteImpl::dockingState(PaletteDockingStates value) {
  if (Failing("Palette", "dockingState") || Deleted(*this, "Palette"))
    return false;
  if (value < PaletteDockStateFloating || value > PaletteDockStateRight) {
    SetLastError(kInvalidArgument, "No docking state " + std::to_string(static_cast<int>(value)) + ".");
    return false;
  }
  m_docking = value;
  Record(TranscriptEvent{"palette_docking", {}}.addText("id", m_id).addNumber("state", value));
  return true;
}

Ptr<HTMLEvent> PaletteImpl::incomingFromHTML() const {
  if (Failing("Palette", "incomingFromHTML") || Deleted(*this, "Palette"))
    return Ptr<HTMLEvent>();
  return m_incoming;
}

bool PaletteImpl::deleteMe() {
  if (Failing("Palette", "deleteMe") || Deleted(*this, "Palette"))
    return false;
  EraseFrom(State().palettes, this);
  invalidate();
  m_incoming->invalidate();
  Record(TranscriptEvent{"palette_removed", {}}.addText("id", m_id));
  return true;
}

const std::vector<Ptr<PaletteImpl>>& PalettesImpl::items() const {
  return State().palettes;
}

Ptr<Palette> PalettesImpl::add(const std::string& id, const std::string& name, const std::string& htmlFileURL,
                               bool isVisible, bool showCloseButton, bool isResizable, int width, int height,
                               bool useNewWebBrowser) {
  if (Failing("Palettes", "add"))
    return Ptr<Palette>();
  if (!NewIdAccepted(id, FindPalette(id), "palette"))
    return Ptr<Palette>();
  auto palette = MakeObject<PaletteImpl>(id, name, htmlFileURL, isVisible);
  State().palettes.push_back(palette);
  Record(TranscriptEvent{"palette_added", {}}
             .addText("id", id)
             .addText("name", name)
             .addText("url", htmlFileURL)
             .addBoolean("visible", isVisible)
             .addBoolean("close_button", showCloseButton)
             .addBoolean("resizable", isResizable)
             .addNumber("width", width)
             .addNumber("height", height)
             .addBoolean("new_browser", useNewWebBrowser));
  return palette;
}

// --- Commands --------------------------------------------------------------------------------

CommandImpl::CommandImpl()
    : m_inputs(MakeObject<CommandInputsImpl>()),
      m_execute(MakeObject<CommandEventImpl>("CommandEvent", "execute")) {}

bool CommandImpl::isExecutedWhenPreEmpted(bool value) {
  if (Failing("Command", "isExecutedWhenPreEmpted") || Deleted(*this, "Command"))
    return false;
  m_executedWhenPreEmpted = value;
  return true;
}

Ptr<CommandInputs> CommandImpl::commandInputs() const {
  if (Failing("Command", "commandInputs") || Deleted(*this, "Command"))
    return Ptr<CommandInputs>();
  return m_inputs;
}

Ptr<CommandEvent> CommandImpl::execute() const {
  if (Failing("Command", "execute") || Deleted(*this, "Command"))
    return Ptr<CommandEvent>();
  return m_execute;
}

// --- Preferences -----------------------------------------------------------------------------

UserLanguages GeneralPreferencesImpl::userLanguage() const {
  return State().language;
}

bool GeneralPreferencesImpl::userLanguage(UserLanguages value) {
  if (Failing("GeneralPreferences", "userLanguage"))
    return false;
  if (value < ChinesePRCLanguage || value > TurkishLanguage) {
    SetLastError(kInvalidArgument, "No user language " + std::to_string(static_cast<int>(value)) + ".");
    return false;
  }
  State().language = value;
  Record(TranscriptEvent{"preference", {}}.addText("name", "userLanguage").addNumber("value", value));
  return true;
}

Ptr<GeneralPreferences> PreferencesImpl::generalPreferences() const {
  if (Failing("Preferences", "generalPreferences"))
    return Ptr<GeneralPreferences>();
  return MakeObject<GeneralPreferencesImpl>();
}

// --- User interface --------------------------------------------------------------------------

DialogResults UserInterfaceImpl::messageBox(const std::string& text, const std::string& title,
                                            MessageBoxButtonTypes buttons, MessageBoxIconTypes icon) const {
  if (Failing("UserInterface", "messageBox"))
    return DialogError;
  DialogResults answer = DialogOK;
  auto& answers = State().answers;
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  } else if (buttons == YesNoButtonType) {
    answer = DialogNo;
  }
  Record(TranscriptEvent{"messagebox", {}}
             .addText("text", text)
             .addText("title", title)
             .addNumber("buttons", buttons)
             .addNumber("icon", icon)
             .addNumber("answer", answer));
  return answer;
}

Ptr<CommandDefinitions> UserInterfaceImpl::commandDefinitions() const {
  if (Failing("UserInterface", "commandDefinitions"))
    return Ptr<CommandDefinitions>();
  return MakeObject<CommandDefinitionsImpl>();
}

Ptr<ToolbarPanelList> UserInterfaceImpl::allToolbarPanels() const {
  if (Failing("UserInterface", "allToolbarPanels"))
    return Ptr<ToolbarPanelList>();
  return MakeObject<ToolbarPanelListImpl>();
}

Ptr<Toolbars> UserInterfaceImpl::toolbars() const {
  if (Failing("UserInterface", "toolbars"))
    return Ptr<Toolbars>();
  return MakeObject<ToolbarsImpl>();
}

Ptr<Palettes> UserInterfaceImpl::palettes() const {
  if (Failing("UserInterface", "palettes"))
    return Ptr<Palettes>();
  return MakeObject<PalettesImpl>();
}

// --- Application -----------------------------------------------------------------------------

ApplicationImpl::ApplicationImpl()
    : m_ui(MakeObject<UserInterfaceImpl>()), m_preferences(MakeObject<PreferencesImpl>()),
      m_onlineStatusChanged(MakeObject<ApplicationEventImpl>("ApplicationEvent", "onlineStatusChanged")) {}

Ptr<UserInterface> ApplicationImpl::userInterface() const {
  if (Failing("Application", "userInterface"))
    return Ptr<UserInterface>();
  return m_ui;
}

int ApplicationImpl::getLastError(std::string* description) const {
  if (description)
    *description = State().lastErrorText;
  return State().lastErrorCode;
}

Ptr<ApplicationEvent> ApplicationImpl::onlineStatusChanged() const {
  if (Failing("Application", "onlineStatusChanged"))
    return Ptr<ApplicationEvent>();
  return m_onlineStatusChanged;
}

bool ApplicationImpl::isOffLine() const {
  return State().offline;
}

Ptr<Preferences> ApplicationImpl::preferences() const {
  if (Failing("Application", "preferences"))
    return Ptr<Preferences>();
  return m_preferences;
}

std::string ApplicationImpl::executeTextCommand(const std::string& command) const {
  if (Failing("Application", "executeTextCommand"))
    return std::string();
  const auto& answers = State().textAnswers;
  const auto found = answers.find(command);
  return found == answers.end() ? std::string() : found->second;
}

} // namespace detail
} // namespace hostsim

namespace adsk {
namespace core {

Ptr<Application> Application::get() {
  using namespace hostsim::detail;
  if (Failing("Application", "get"))
    return Ptr<Application>();
  HostState& state = State();
  if (!state.application)
    state.application = MakeObject<ApplicationImpl>();
  return state.application;
}

void Application::log(const std::string& message, LogLevels level, LogTypes type) {
  using namespace hostsim::detail;
  if (Failing("Application", "log"))
    return;
  Record(hostsim::TranscriptEvent{"log", {}}
             .addText("message", message)
             .addNumber("level", level)
             .addNumber("type", type));
}

} // namespace core
} // namespace adsk
