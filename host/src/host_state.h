// The in-memory host behind Core/CoreAll.h and hostsim/control.h: the object classes and the one
// process-wide state they share. Internal to libhost.
#pragma once

#include <Core/CoreAll.h>
#include <hostsim/control.h>

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace hostsim {
namespace detail {

using namespace adsk::core;

// Codes returned by Application::getLastError.
enum ErrorCode {
  kNoError = 0,
  kInjectedFailure = 1, // made to fail by FailCall
  kInvalidArgument = 2, // duplicate id, missing position id, empty handle passed in
  kNotFound = 3,        // itemById without a match
  kObjectDeleted = 4,   // call on an object the host has deleted
  kCannotExecute = 5    // the call ran but failed (a handler threw, ...)
};

// Creates a host object holding its first reference.
template <class T, class... Args> Ptr<T> MakeObject(Args&&... args) {
  return Ptr<T>(new T(std::forward<Args>(args)...), /*attach=*/false);
}

// Mixin of every concrete object: validity that ends when the host deletes the object.
template <class Api> class Object : public Api {
public:
  bool isValid() const override { return m_valid; }
  void invalidate() { m_valid = false; }

private:
  bool m_valid = true;
};

class ToolbarControlsImpl;
class CommandDefinitionImpl;

// --- Events ----------------------------------------------------------------------------------

// Calls notify of every handler attached when the firing starts and still attached when its turn
// comes. A handler that throws is reported as an "error" event and the next one still runs.
template <class EventApi, class Handler, class Args> class EventImpl : public Object<EventApi> {
public:
  // className is the API class ("CommandCreatedEvent"), name the member that hands the event out.
  EventImpl(const std::string& className, std::string name)
      : m_type("adsk::core::" + className), m_name(std::move(name)) {}
  std::string name() const override { return m_name; }
  const char* objectType() const override { return m_type.c_str(); }
  size_t handlerCount() const { return this->handlers().size(); }
  void fire(const Ptr<Args>& args);

private:
  std::string m_type;
  std::string m_name;
};

void ReportHandlerException(const std::string& eventName, const std::string& what);

template <class EventApi, class Handler, class Args>
void EventImpl<EventApi, Handler, Args>::fire(const Ptr<Args>& args) {
  const std::vector<EventHandler*> snapshot = this->handlers();
  for (EventHandler* handler : snapshot) {
    const std::vector<EventHandler*> current = this->handlers();
    bool attached = false;
    for (EventHandler* h : current)
      attached = attached || h == handler;
    if (!attached)
      continue;
    try {
      static_cast<Handler*>(handler)->notify(args);
    } catch (const std::exception& e) {
      ReportHandlerException(m_name, e.what());
    } catch (...) {
      ReportHandlerException(m_name, "unknown exception");
    }
  }
}

using ApplicationEventImpl = EventImpl<ApplicationEvent, ApplicationEventHandler, ApplicationEventArgs>;
using CommandCreatedEventImpl =
    EventImpl<CommandCreatedEvent, CommandCreatedEventHandler, CommandCreatedEventArgs>;
using CommandEventImpl = EventImpl<CommandEvent, CommandEventHandler, CommandEventArgs>;
using HTMLEventImpl = EventImpl<HTMLEvent, HTMLEventHandler, HTMLEventArgs>;

// --- Objects ---------------------------------------------------------------------------------

class CommandDefinitionImpl final : public Object<CommandDefinition> {
public:
  CommandDefinitionImpl(std::string id, std::string name, std::string tooltip, std::string resourceFolder);
  std::string id() const override { return m_id; }
  std::string name() const override { return m_name; }
  std::string tooltip() const override { return m_tooltip; }
  std::string resourceFolder() const override { return m_resourceFolder; }
  Ptr<CommandCreatedEvent> commandCreated() const override;
  bool deleteMe() override;
  const char* objectType() const override { return "adsk::core::CommandDefinition"; }

  Ptr<CommandCreatedEventImpl> createdEvent() const { return m_commandCreated; }

private:
  std::string m_id, m_name, m_tooltip, m_resourceFolder;
  Ptr<CommandCreatedEventImpl> m_commandCreated;
};

class CommandControlImpl final : public Object<CommandControl> {
public:
  CommandControlImpl(std::string parentId, const Ptr<CommandDefinition>& definition);
  std::string id() const override { return m_id; }
  bool deleteMe() override;
  Ptr<CommandDefinition> commandDefinition() const override;
  bool isPromotedByDefault() const override { return m_promoted; }
  bool isPromotedByDefault(bool value) override;
  const char* objectType() const override { return "adsk::core::CommandControl"; }

private:
  std::string m_parentId;
  std::string m_id;
  Ptr<CommandDefinition> m_definition;
  bool m_promoted = false;
};

// A control the host itself owns (a drop-down or separator of the default user interface): not a
// command control, so casting it to CommandControl gives an empty handle.
class HostControlImpl final : public Object<ToolbarControl> {
public:
  HostControlImpl(std::string parentId, std::string id)
      : m_parentId(std::move(parentId)), m_id(std::move(id)) {}
  std::string id() const override { return m_id; }
  bool deleteMe() override;
  const char* objectType() const override { return "adsk::core::ToolbarControl"; }

private:
  std::string m_parentId;
  std::string m_id;
};

class ToolbarControlsImpl final : public Object<ToolbarControls> {
public:
  explicit ToolbarControlsImpl(std::string parentId) : m_parentId(std::move(parentId)) {}
  size_t count() const override;
  Ptr<ToolbarControl> item(size_t index) const override;
  Ptr<ToolbarControl> itemById(const std::string& id) const override;
  Ptr<CommandControl> addCommand(const Ptr<CommandDefinition>& commandDefinition,
                                 const std::string& positionID, bool isBefore) override;
  const char* objectType() const override { return "adsk::core::ToolbarControls"; }

  void addHostControl(const std::string& id, bool commandLike);
  // Takes the control out without an event; false when it is not here.
  bool detach(const ToolbarControl* control);
  void invalidateAll();
  std::vector<std::string> ids() const;

private:
  std::string m_parentId;
  std::vector<Ptr<ToolbarControl>> m_controls;
};

class ToolbarImpl final : public Object<Toolbar> {
public:
  explicit ToolbarImpl(std::string id) : m_id(id), m_controls(MakeObject<ToolbarControlsImpl>(id)) {}
  std::string id() const override { return m_id; }
  Ptr<ToolbarControls> controls() const override;
  const char* objectType() const override { return "adsk::core::Toolbar"; }
  Ptr<ToolbarControlsImpl> controlsImpl() const { return m_controls; }

private:
  std::string m_id;
  Ptr<ToolbarControlsImpl> m_controls;
};

class ToolbarPanelImpl final : public Object<ToolbarPanel> {
public:
  explicit ToolbarPanelImpl(std::string id) : m_id(id), m_controls(MakeObject<ToolbarControlsImpl>(id)) {}
  std::string id() const override { return m_id; }
  Ptr<ToolbarControls> controls() const override;
  const char* objectType() const override { return "adsk::core::ToolbarPanel"; }
  Ptr<ToolbarControlsImpl> controlsImpl() const { return m_controls; }

private:
  std::string m_id;
  Ptr<ToolbarControlsImpl> m_controls;
};

class ToolbarsImpl final : public Object<Toolbars> {
public:
  size_t count() const override;
  Ptr<Toolbar> item(size_t index) const override;
  Ptr<Toolbar> itemById(const std::string& id) const override;
  const char* objectType() const override { return "adsk::core::Toolbars"; }
};

class ToolbarPanelListImpl final : public Object<ToolbarPanelList> {
public:
  size_t count() const override;
  Ptr<ToolbarPanel> item(size_t index) const override;
  Ptr<ToolbarPanel> itemById(const std::string& id) const override;
  const char* objectType() const override { return "adsk::core::ToolbarPanelList"; }
};

class CommandDefinitionsImpl final : public Object<CommandDefinitions> {
public:
  size_t count() const override;
  Ptr<CommandDefinition> item(size_t index) const override;
  Ptr<CommandDefinition> itemById(const std::string& id) const override;
  Ptr<CommandDefinition> addButtonDefinition(const std::string& id, const std::string& name,
                                             const std::string& tooltip,
                                             const std::string& resourceFolder) override;
  const char* objectType() const override { return "adsk::core::CommandDefinitions"; }
};

class PaletteImpl final : public Object<Palette> {
public:
  PaletteImpl(std::string id, std::string name, std::string url, bool visible);
  std::string id() const override { return m_id; }
  std::string name() const override { return m_name; }
  std::string htmlFileURL() const override { return m_url; }
  bool isVisible() const override { return m_visible; }
  bool isVisible(bool value) override;
  PaletteDockingStates dockingState() const override { return m_docking; }
  bool dockingState(PaletteDockingStates value) override;
  Ptr<HTMLEvent> incomingFromHTML() const override;
  bool deleteMe() override;
  const char* objectType() const override { return "adsk::core::Palette"; }

  Ptr<HTMLEventImpl> htmlEvent() const { return m_incoming; }

private:
  std::string m_id, m_name, m_url;
  bool m_visible;
  PaletteDockingStates m_docking = PaletteDockStateFloating;
  Ptr<HTMLEventImpl> m_incoming;
};

class PalettesImpl final : public Object<Palettes> {
public:
  size_t count() const override;
  Ptr<Palette> item(size_t index) const override;
  Ptr<Palette> itemById(const std::string& id) const override;
  Ptr<Palette> add(const std::string& id, const std::string& name, const std::string& htmlFileURL,
                   bool isVisible, bool showCloseButton, bool isResizable, int width, int height,
                   bool useNewWebBrowser) override;
  const char* objectType() const override { return "adsk::core::Palettes"; }
};

class CommandInputsImpl final : public Object<CommandInputs> {
public:
  size_t count() const override { return 0; }
  const char* objectType() const override { return "adsk::core::CommandInputs"; }
};

class CommandImpl final : public Object<Command> {
public:
  CommandImpl();
  bool isExecutedWhenPreEmpted() const override { return m_executedWhenPreEmpted; }
  bool isExecutedWhenPreEmpted(bool value) override;
  Ptr<CommandInputs> commandInputs() const override;
  Ptr<CommandEvent> execute() const override;
  const char* objectType() const override { return "adsk::core::Command"; }
  Ptr<CommandEventImpl> executeEvent() const { return m_execute; }

private:
  bool m_executedWhenPreEmpted = true;
  Ptr<CommandInputsImpl> m_inputs;
  Ptr<CommandEventImpl> m_execute;
};

class GeneralPreferencesImpl final : public Object<GeneralPreferences> {
public:
  UserLanguages userLanguage() const override;
  bool userLanguage(UserLanguages value) override;
  const char* objectType() const override { return "adsk::core::GeneralPreferences"; }
};

class PreferencesImpl final : public Object<Preferences> {
public:
  Ptr<GeneralPreferences> generalPreferences() const override;
  const char* objectType() const override { return "adsk::core::Preferences"; }
};

class UserInterfaceImpl final : public Object<UserInterface> {
public:
  DialogResults messageBox(const std::string& text, const std::string& title, MessageBoxButtonTypes buttons,
                           MessageBoxIconTypes icon) const override;
  Ptr<CommandDefinitions> commandDefinitions() const override;
  Ptr<ToolbarPanelList> allToolbarPanels() const override;
  Ptr<Toolbars> toolbars() const override;
  Ptr<Palettes> palettes() const override;
  const char* objectType() const override { return "adsk::core::UserInterface"; }
};

class ApplicationImpl final : public Object<Application> {
public:
  ApplicationImpl();
  Ptr<UserInterface> userInterface() const override;
  int getLastError(std::string* description) const override;
  Ptr<ApplicationEvent> onlineStatusChanged() const override;
  bool isOffLine() const override;
  Ptr<Preferences> preferences() const override;
  std::string executeTextCommand(const std::string& command) const override;
  const char* objectType() const override { return "adsk::core::Application"; }

  Ptr<ApplicationEventImpl> onlineEvent() const { return m_onlineStatusChanged; }

private:
  Ptr<UserInterfaceImpl> m_ui;
  Ptr<PreferencesImpl> m_preferences;
  Ptr<ApplicationEventImpl> m_onlineStatusChanged;
};

class ApplicationEventArgsImpl final : public Object<ApplicationEventArgs> {
public:
  ApplicationEventArgsImpl(Ptr<Event> event, bool offline) : m_event(std::move(event)), m_offline(offline) {}
  bool isOffLine() const override { return m_offline; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  bool m_offline;
};

class CommandCreatedEventArgsImpl final : public Object<CommandCreatedEventArgs> {
public:
  CommandCreatedEventArgsImpl(Ptr<Event> event, Ptr<Command> command)
      : m_event(std::move(event)), m_command(std::move(command)) {}
  Ptr<Command> command() const override { return m_command; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  Ptr<Command> m_command;
};

class CommandEventArgsImpl final : public Object<CommandEventArgs> {
public:
  CommandEventArgsImpl(Ptr<Event> event, Ptr<Command> command)
      : m_event(std::move(event)), m_command(std::move(command)) {}
  Ptr<Command> command() const override { return m_command; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  Ptr<Command> m_command;
};

class HTMLEventArgsImpl final : public Object<HTMLEventArgs> {
public:
  HTMLEventArgsImpl(Ptr<Event> event, std::string action, std::string data)
      : m_event(std::move(event)), m_action(std::move(action)), m_data(std::move(data)) {}
  std::string action() const override { return m_action; }
  std::string data() const override { return m_data; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  std::string m_action, m_data;
};

// --- The host's state ------------------------------------------------------------------------

struct HostState {
  bool initialized = false;
  Ptr<ApplicationImpl> application;
  bool offline = false;
  UserLanguages language = EnglishLanguage;
  std::map<std::string, std::string> textAnswers;
  std::map<std::string, std::string> failures; // call name -> last-error text
  std::deque<DialogResults> answers;
  int lastErrorCode = kNoError;
  std::string lastErrorText;

  std::vector<Ptr<CommandDefinitionImpl>> definitions;
  std::vector<Ptr<ToolbarImpl>> toolbars;
  std::vector<Ptr<ToolbarPanelImpl>> panels;
  std::vector<Ptr<PaletteImpl>> palettes;

  std::vector<TranscriptEvent> transcript;
  std::function<void(const TranscriptEvent&)> listener;
};

// The host, filled with its default user interface and answers on first use.
HostState& State();

void Record(TranscriptEvent event);
void SetLastError(int code, const std::string& text);
// True (with the last error set) when FailCall made "Class.member" or "member" fail.
bool Failing(const char* className, const char* member);
// True (with the last error set) when the object was deleted.
bool Deleted(const Base& object, const char* className);

Ptr<ToolbarControlsImpl> ControlsOf(const std::string& parentId);
Ptr<PaletteImpl> FindPalette(const std::string& id);
Ptr<CommandDefinitionImpl> FindDefinition(const std::string& id);

} // namespace detail
} // namespace hostsim
