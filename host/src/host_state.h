// The in-memory host behind Core/CoreAll.h and hostsim/control.h: the object classes and the one
// process-wide state they share. Internal to libhost.
#pragma once

#include <Core/CoreAll.h>
#include <hostsim/control.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <typeinfo>
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

void Record(const TranscriptEvent& event);
// A language as the readable transcript names it: "Czech(2)".
std::string LanguageName(long long value);
void SetLastError(int code, const std::string& text);
// True (with the last error set) when FailCall made "Class.member" or "member" fail.
bool Failing(const char* className, const char* member);
// True (with the last error set) when the object was deleted.
bool Deleted(const Base& object, const char* className);

// The item with the id, or an empty handle.
template <class T> Ptr<T> FindById(const std::vector<Ptr<T>>& items, const std::string& id) {
  for (const auto& item : items) {
    if (item->id() == id)
      return item;
  }
  return Ptr<T>();
}

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
  void fire(const Ptr<Args>& args);

private:
  std::string m_type;
  std::string m_name;
};

void ReportHandlerException(const std::string& eventName, const std::string& what);

// Times one call into an add-in and, when timings are on, records a "handler" event after it. `code` is
// an address inside the called library (the add-in's name is found from it).
class CallTimer {
public:
  CallTimer(const void* code, std::string what);
  CallTimer(std::string addin, std::string what);
  ~CallTimer();
  CallTimer(const CallTimer&) = delete;
  CallTimer& operator=(const CallTimer&) = delete;

private:
  bool m_on;
  std::string m_addin;
  std::string m_what;
  std::chrono::steady_clock::time_point m_start;
};

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
    auto* typed = static_cast<Handler*>(handler);
    // The handler's type information lives in the library that defines the handler.
    CallTimer timer(&typeid(*typed), "notify " + m_name);
    try {
      typed->notify(args);
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

class CustomEventImpl final : public EventImpl<CustomEvent, CustomEventHandler, CustomEventArgs> {
public:
  explicit CustomEventImpl(const std::string& id) : EventImpl("CustomEvent", "customEvent " + id), m_id(id) {}
  std::string eventId() const override { return m_id; }

private:
  std::string m_id;
};

class CustomEventArgsImpl final : public Object<CustomEventArgs> {
public:
  CustomEventArgsImpl(const Ptr<Event>& event, std::string info) : m_event(event), m_info(std::move(info)) {}
  std::string additionalInfo() const override { return m_info; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  std::string m_info;
};

// The one part of the host that other threads touch: the ids fireCustomEvent accepts and the queue of
// fired events, both under the mutex.
struct CustomEventQueue {
  struct Fired {
    std::string id;
    std::string info;
  };
  std::mutex mutex;
  std::condition_variable arrived;
  std::set<std::string> registered;
  std::deque<Fired> queued;
};
CustomEventQueue& Queue();

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

// count, item and itemById of a collection. FailCall makes them fail as "<className>.item" and
// "<className>.itemById"; a deleted collection holds no items.
template <class Api, class Item, class ItemImpl> class CollectionImpl : public Object<Api> {
public:
  size_t count() const override { return this->isValid() ? items().size() : 0; }

  Ptr<Item> item(size_t index) const override {
    if (Failing(m_className, "item") || Deleted(*this, m_className))
      return Ptr<Item>();
    const std::vector<Ptr<ItemImpl>>& all = items();
    if (index < all.size())
      return all[index];
    SetLastError(kNotFound, "No " + m_itemName + " at index " + std::to_string(index) + ".");
    return Ptr<Item>();
  }

  Ptr<Item> itemById(const std::string& id) const override {
    if (Failing(m_className, "itemById") || Deleted(*this, m_className))
      return Ptr<Item>();
    if (Ptr<ItemImpl> found = FindById(items(), id))
      return found;
    SetLastError(kNotFound, "No " + m_itemName + m_location + " with the id \"" + id + "\".");
    return Ptr<Item>();
  }

protected:
  // itemName names an item in the last-error texts ("toolbar"); location (" in QAT") follows it in
  // the text of itemById only.
  CollectionImpl(const char* className, std::string itemName, std::string location = std::string())
      : m_className(className), m_itemName(std::move(itemName)), m_location(std::move(location)) {}

private:
  virtual const std::vector<Ptr<ItemImpl>>& items() const = 0;

  const char* m_className;
  std::string m_itemName;
  std::string m_location;
};

class ToolbarControlsImpl final : public CollectionImpl<ToolbarControls, ToolbarControl, ToolbarControl> {
public:
  explicit ToolbarControlsImpl(std::string parentId)
      : CollectionImpl("ToolbarControls", "control", " in " + parentId), m_parentId(std::move(parentId)) {}
  Ptr<CommandControl> addCommand(const Ptr<CommandDefinition>& commandDefinition,
                                 const std::string& positionID, bool isBefore) override;
  const char* objectType() const override { return "adsk::core::ToolbarControls"; }

  void addHostControl(const std::string& id, bool commandLike);
  // Takes the control out without an event; false when it is not here.
  bool detach(const ToolbarControl* control);
  void invalidateAll();
  std::vector<std::string> ids() const;

private:
  const std::vector<Ptr<ToolbarControl>>& items() const override { return m_controls; }

  std::string m_parentId;
  std::vector<Ptr<ToolbarControl>> m_controls;
};

// A toolbar or a panel: an id and the controls on it. FailCall makes controls fail as
// "<className>.controls".
template <class Api> class ControlParentImpl : public Object<Api> {
public:
  std::string id() const override { return m_id; }
  Ptr<ToolbarControls> controls() const override {
    if (Failing(m_className, "controls") || Deleted(*this, m_className))
      return Ptr<ToolbarControls>();
    return m_controls;
  }
  Ptr<ToolbarControlsImpl> controlsImpl() const { return m_controls; }
  // Deletes the parent with every control on it.
  void invalidateAll() {
    m_controls->invalidateAll();
    this->invalidate();
  }

protected:
  ControlParentImpl(const std::string& id, const char* className)
      : m_className(className), m_id(id), m_controls(MakeObject<ToolbarControlsImpl>(id)) {}

private:
  const char* m_className;
  std::string m_id;
  Ptr<ToolbarControlsImpl> m_controls;
};

class ToolbarImpl final : public ControlParentImpl<Toolbar> {
public:
  explicit ToolbarImpl(const std::string& id) : ControlParentImpl(id, "Toolbar") {}
  const char* objectType() const override { return "adsk::core::Toolbar"; }
};

class ToolbarPanelImpl final : public ControlParentImpl<ToolbarPanel> {
public:
  explicit ToolbarPanelImpl(const std::string& id) : ControlParentImpl(id, "ToolbarPanel") {}
  const char* objectType() const override { return "adsk::core::ToolbarPanel"; }
};

class ToolbarsImpl final : public CollectionImpl<Toolbars, Toolbar, ToolbarImpl> {
public:
  ToolbarsImpl() : CollectionImpl("Toolbars", "toolbar") {}
  const char* objectType() const override { return "adsk::core::Toolbars"; }

private:
  const std::vector<Ptr<ToolbarImpl>>& items() const override;
};

class ToolbarPanelListImpl final : public CollectionImpl<ToolbarPanelList, ToolbarPanel, ToolbarPanelImpl> {
public:
  ToolbarPanelListImpl() : CollectionImpl("ToolbarPanelList", "toolbar panel") {}
  const char* objectType() const override { return "adsk::core::ToolbarPanelList"; }

private:
  const std::vector<Ptr<ToolbarPanelImpl>>& items() const override;
};

class CommandDefinitionsImpl final
    : public CollectionImpl<CommandDefinitions, CommandDefinition, CommandDefinitionImpl> {
public:
  CommandDefinitionsImpl() : CollectionImpl("CommandDefinitions", "command definition") {}
  Ptr<CommandDefinition> addButtonDefinition(const std::string& id, const std::string& name,
                                             const std::string& tooltip,
                                             const std::string& resourceFolder) override;
  const char* objectType() const override { return "adsk::core::CommandDefinitions"; }

private:
  const std::vector<Ptr<CommandDefinitionImpl>>& items() const override;
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

class PalettesImpl final : public CollectionImpl<Palettes, Palette, PaletteImpl> {
public:
  PalettesImpl() : CollectionImpl("Palettes", "palette") {}
  Ptr<Palette> add(const std::string& id, const std::string& name, const std::string& htmlFileURL,
                   bool isVisible, bool showCloseButton, bool isResizable, int width, int height,
                   bool useNewWebBrowser) override;
  const char* objectType() const override { return "adsk::core::Palettes"; }

private:
  const std::vector<Ptr<PaletteImpl>>& items() const override;
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

class ProgressDialogImpl final : public Object<ProgressDialog> {
public:
  explicit ProgressDialogImpl(std::string owner) : m_owner(std::move(owner)) {}
  bool show(const std::string& title, const std::string& message, int minimumValue, int maximumValue,
            int delay) override;
  int progressValue() const override { return m_value; }
  bool progressValue(int value) override;
  std::string message() const override { return m_message; }
  bool message(const std::string& value) override;
  bool isCancelButtonShown() const override { return m_cancelShown; }
  bool isCancelButtonShown(bool value) override;
  std::string cancelButtonText() const override { return m_cancelText; }
  bool cancelButtonText(const std::string& value) override;
  bool wasCancelled() const override { return m_cancelled; }
  bool isShowing() const override { return m_phase != Phase::Hidden; }
  bool hide() override;
  bool reset() override;
  const char* objectType() const override { return "adsk::core::ProgressDialog"; }

  const std::string& owner() const { return m_owner; }
  // On the screen (a delay no longer holds it back).
  bool visible() const { return m_phase == Phase::Visible; }
  // Puts a dialog on the screen once its delay has passed.
  void appearIfDue(std::chrono::steady_clock::time_point now);
  // The user pressed Cancel: the dialog goes away and wasCancelled turns true.
  void pressCancel();
  // Takes the dialog off the screen without touching wasCancelled.
  void close(bool cancelled);

private:
  enum class Phase { Hidden, Delayed, Visible };
  bool checked(const char* member);
  void appear();
  // A "progress" event for a new value or message, when the value moved a tenth of the range or a
  // second has passed since the last line: a message rewritten on every step cannot flood the transcript.
  // close prints the state the dialog goes with when this left it unprinted.
  void reportProgress();
  std::string substituted() const;

  std::string m_owner;
  std::string m_title;
  std::string m_message;
  int m_minimum = 0;
  int m_maximum = 100;
  int m_value = 0;
  bool m_cancelShown = true;
  std::string m_cancelText = "Cancel";
  bool m_cancelled = false;
  Phase m_phase = Phase::Hidden;
  std::chrono::steady_clock::time_point m_appearAt;
  int m_reportedValue = 0;
  std::string m_reportedMessage;
  std::chrono::steady_clock::time_point m_reportedAt;
};

class UserInterfaceImpl final : public Object<UserInterface> {
public:
  DialogResults messageBox(const std::string& text, const std::string& title, MessageBoxButtonTypes buttons,
                           MessageBoxIconTypes icon) const override;
  Ptr<CommandDefinitions> commandDefinitions() const override;
  Ptr<ToolbarPanelList> allToolbarPanels() const override;
  Ptr<Toolbars> toolbars() const override;
  Ptr<Palettes> palettes() const override;
  Ptr<ProgressDialog> createProgressDialog() override;
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
  Ptr<CustomEvent> registerCustomEvent(const std::string& eventId) override;
  bool fireCustomEvent(const std::string& eventId, const std::string& additionalInfo) override;
  bool unregisterCustomEvent(const std::string& eventId) override;
  const char* objectType() const override { return "adsk::core::Application"; }

  Ptr<ApplicationEventImpl> onlineEvent() const { return m_onlineStatusChanged; }

private:
  Ptr<UserInterfaceImpl> m_ui;
  Ptr<PreferencesImpl> m_preferences;
  Ptr<ApplicationEventImpl> m_onlineStatusChanged;
};

class ApplicationEventArgsImpl final : public Object<ApplicationEventArgs> {
public:
  ApplicationEventArgsImpl(const Ptr<Event>& event, bool offline) : m_event(event), m_offline(offline) {}
  bool isOffLine() const override { return m_offline; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  bool m_offline;
};

// The arguments of commandCreated and of execute: the command they concern.
template <class Api> class CommandArgsImpl final : public Object<Api> {
public:
  CommandArgsImpl(const Ptr<Event>& event, const Ptr<Command>& command)
      : m_event(event), m_command(command) {}
  Ptr<Command> command() const override { return m_command; }
  Ptr<Event> firingEvent() const override { return m_event; }

private:
  Ptr<Event> m_event;
  Ptr<Command> m_command;
};

using CommandCreatedEventArgsImpl = CommandArgsImpl<CommandCreatedEventArgs>;
using CommandEventArgsImpl = CommandArgsImpl<CommandEventArgs>;

class HTMLEventArgsImpl final : public Object<HTMLEventArgs> {
public:
  HTMLEventArgsImpl(const Ptr<Event>& event, std::string action, std::string data)
      : m_event(event), m_action(std::move(action)), m_data(std::move(data)) {}
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

  struct RegisteredEvent {
    Ptr<CustomEventImpl> event;
    std::string owner; // the add-in that registered it; empty for the host's own program
  };
  std::map<std::string, RegisteredEvent> customEvents;
  // Dialogs from show until they go away: the host keeps a dialog on the screen alive.
  std::vector<Ptr<ProgressDialogImpl>> progressDialogs;
  bool timings = false;

  std::vector<TranscriptEvent> transcript;
  std::function<void(const TranscriptEvent&)> listener;
};

// The host, filled with its default user interface and answers on first use.
HostState& State();

// The name of the loaded add-in whose library holds the address; else the file name of the program or
// library that holds it.
std::string AddinOwning(const void* address);
// Unregisters a custom event (its queued deliveries go with it); false when the id is not registered.
bool DropCustomEvent(const std::string& id);

Ptr<ToolbarControlsImpl> ControlsOf(const std::string& parentId);
Ptr<PaletteImpl> FindPalette(const std::string& id);
Ptr<CommandDefinitionImpl> FindDefinition(const std::string& id);

} // namespace detail
} // namespace hostsim
