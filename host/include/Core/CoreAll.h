// Stand-in for the host application's add-in interface, namespace adsk::core.
//
// Only the classes, members and enumerations that our add-ins use, with the same C++ shapes as the
// host's own interface, so that add-in sources written against one build unchanged against the other.
// Everything is implemented by libhost, the in-memory host behind hostsim; see hostsim/control.h for
// the side that configures and drives it.
//
// Contract shared with the real interface: calls never throw (except operator-> on an empty Ptr);
// failure is an empty Ptr or false, with the reason in Application::getLastError. The interface is not
// thread-safe: every call belongs on the host's main thread, except Application::fireCustomEvent.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#ifndef XI_EXPORT
#define XI_EXPORT __attribute__((visibility("default")))
#endif

// Host classes keep default visibility even in add-ins built with hidden symbols, so that type
// information (and with it the casts of Ptr) is shared between the host and every add-in.
#define ADSK_CORE_API __attribute__((visibility("default")))

namespace adsk {
namespace core {

enum LogLevels { ErrorLogLevel = 0, WarningLogLevel = 1, InfoLogLevel = 2 };
enum LogTypes { FileLogType = 0, ConsoleLogType = 1 };
enum MessageBoxButtonTypes {
  OKButtonType = 0,
  OKCancelButtonType = 1,
  RetryCancelButtonType = 2,
  YesNoButtonType = 3,
  YesNoCancelButtonType = 4
};
enum MessageBoxIconTypes {
  NoIconIconType = 0,
  QuestionIconType = 1,
  InformationIconType = 2,
  WarningIconType = 3,
  CriticalIconType = 4
};
enum DialogResults { DialogError = -1, DialogOK = 0, DialogCancel = 1, DialogYes = 2, DialogNo = 3 };
enum PaletteDockingStates {
  PaletteDockStateFloating = 0,
  PaletteDockStateTop = 1,
  PaletteDockStateBottom = 2,
  PaletteDockStateLeft = 3,
  PaletteDockStateRight = 4
};
enum UserLanguages {
  ChinesePRCLanguage = 0,
  ChineseTaiwanLanguage = 1,
  CzechLanguage = 2,
  EnglishLanguage = 3,
  FrenchLanguage = 4,
  GermanLanguage = 5,
  HungarianLanguage = 6,
  ItalianLanguage = 7,
  JapaneseLanguage = 8,
  KoreanLanguage = 9,
  PolishLanguage = 10,
  PortugueseBrazilianLanguage = 11,
  RussianLanguage = 12,
  SpanishLanguage = 13,
  TurkishLanguage = 14
};

// Reference policy of Ptr; present for the shape of the interface only.
struct PtrPolicy {};

// Reference-counted handle to a host object. Empty means failure.
template <class T, class PT = PtrPolicy> class Ptr {
public:
  Ptr() noexcept = default;
  Ptr(std::nullptr_t) noexcept {}
  // Adopts a reference the caller already holds (attach), or takes a new one.
  Ptr(const T* p, bool attach = true) : m_p(const_cast<T*>(p)) {
    if (m_p && !attach)
      m_p->addref();
  }
  Ptr(const Ptr& other) : m_p(other.m_p) {
    if (m_p)
      m_p->addref();
  }
  // Up-casts and down-casts alike; empty when the object is not a T.
  template <class V, class PV> Ptr(const Ptr<V, PV>& other) {
    if (V* p = other.get()) {
      m_p = dynamic_cast<T*>(p);
      if (m_p)
        m_p->addref();
    }
  }
  ~Ptr() {
    if (m_p)
      m_p->release();
  }

  void operator=(const Ptr& other) { reset(other.m_p); }
  template <class V, class PV> void operator=(const Ptr<V, PV>& other) {
    Ptr converted(other);
    reset(converted.m_p);
  }
  void operator=(std::nullptr_t) { reset(nullptr); }

  operator bool() const { return m_p != nullptr; }
  bool operator==(std::nullptr_t) const { return m_p == nullptr; }
  bool operator!=(std::nullptr_t) const { return m_p != nullptr; }
  template <class V, class PV> bool operator==(const Ptr<V, PV>& other) const {
    return static_cast<const void*>(m_p) == static_cast<const void*>(other.get());
  }
  template <class V, class PV> bool operator!=(const Ptr<V, PV>& other) const { return !(*this == other); }

  T* get() const { return m_p; }
  // The host's own Ptr throws a bare std::exception here (and asserts in its debug build): nothing may
  // rely on a message or a narrower type.
  T* operator->() const {
    if (!m_p)
      throw std::exception();
    return m_p;
  }

private:
  void reset(T* p) {
    if (p)
      p->addref();
    T* old = m_p;
    m_p = p;
    if (old)
      old->release();
  }

  T* m_p = nullptr;
};

// Where the host declares the reference count: non-const, so a Ptr cannot count a const object.
class ADSK_CORE_API ReferenceCounted {
public:
  virtual void addref() = 0;
  virtual void release() = 0;

protected:
  // Non-virtual as in the host (which warns for it); protected, so nothing deletes through this base.
  ~ReferenceCounted() = default;
};

// Root of every host object: reference counted, destroyed at the last release.
class ADSK_CORE_API Base : public ReferenceCounted {
public:
  virtual ~Base();
  void addref() override;
  void release() override;
  int refcount() const;
  // False once the host has deleted the object (for example after deleteMe).
  virtual bool isValid() const;
  virtual const char* objectType() const;
  static const char* classType();
  template <class T> Ptr<T> cast() const { return Ptr<T>(dynamic_cast<T*>(const_cast<Base*>(this)), false); }

protected:
  Base();
  Base(const Base&) = delete;
  Base& operator=(const Base&) = delete;

private:
  int m_refcount = 0;
};

class Event;
class EventArgs;

// Handlers are owned by the add-in and handed to events by address. Not reference counted; a handler's
// destructor detaches it from every event it was added to.
class ADSK_CORE_API EventHandler {
public:
  virtual ~EventHandler();

protected:
  EventHandler();
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;

private:
  friend class Event;
  std::vector<Event*> m_attachedTo;
};

class ADSK_CORE_API Event : public Base {
public:
  ~Event() override;
  virtual std::string name() const = 0;

protected:
  Event();
  bool addHandler(EventHandler* handler);
  bool removeHandler(EventHandler* handler);
  // The handlers in the order they were added; fired by the host.
  std::vector<EventHandler*> handlers() const;

private:
  friend class EventHandler;
  std::vector<EventHandler*> m_handlers;
};

class ADSK_CORE_API EventArgs : public Base {
public:
  virtual Ptr<Event> firingEvent() const = 0;
};

// --- Events of the classes below --------------------------------------------------------------

class Command;
class CommandInputs;

class ADSK_CORE_API ApplicationEventArgs : public EventArgs {
public:
  virtual bool isOffLine() const = 0;
};
class ADSK_CORE_API ApplicationEventHandler : public EventHandler {
public:
  virtual void notify(const Ptr<ApplicationEventArgs>& eventArgs) = 0;
};
class ADSK_CORE_API ApplicationEvent : public Event {
public:
  bool add(ApplicationEventHandler* handler) { return addHandler(handler); }
  bool remove(ApplicationEventHandler* handler) { return removeHandler(handler); }
};

class ADSK_CORE_API CommandCreatedEventArgs : public EventArgs {
public:
  virtual Ptr<Command> command() const = 0;
};
class ADSK_CORE_API CommandCreatedEventHandler : public EventHandler {
public:
  virtual void notify(const Ptr<CommandCreatedEventArgs>& eventArgs) = 0;
};
class ADSK_CORE_API CommandCreatedEvent : public Event {
public:
  bool add(CommandCreatedEventHandler* handler) { return addHandler(handler); }
  bool remove(CommandCreatedEventHandler* handler) { return removeHandler(handler); }
};

class ADSK_CORE_API CommandEventArgs : public EventArgs {
public:
  virtual Ptr<Command> command() const = 0;
};
class ADSK_CORE_API CommandEventHandler : public EventHandler {
public:
  virtual void notify(const Ptr<CommandEventArgs>& eventArgs) = 0;
};
class ADSK_CORE_API CommandEvent : public Event {
public:
  bool add(CommandEventHandler* handler) { return addHandler(handler); }
  bool remove(CommandEventHandler* handler) { return removeHandler(handler); }
};

class ADSK_CORE_API HTMLEventArgs : public EventArgs {
public:
  virtual std::string action() const = 0;
  virtual std::string data() const = 0;
};
class ADSK_CORE_API HTMLEventHandler : public EventHandler {
public:
  virtual void notify(const Ptr<HTMLEventArgs>& eventArgs) = 0;
};
class ADSK_CORE_API HTMLEvent : public Event {
public:
  bool add(HTMLEventHandler* handler) { return addHandler(handler); }
  bool remove(HTMLEventHandler* handler) { return removeHandler(handler); }
};

// Raised by the host, on its main thread when it is idle, for each Application::fireCustomEvent of the
// event's id; additionalInfo is the text given to that call.
class ADSK_CORE_API CustomEventArgs : public EventArgs {
public:
  virtual std::string additionalInfo() const = 0;
};
class ADSK_CORE_API CustomEventHandler : public EventHandler {
public:
  virtual void notify(const Ptr<CustomEventArgs>& eventArgs) = 0;
};
class ADSK_CORE_API CustomEvent : public Event {
public:
  bool add(CustomEventHandler* handler) { return addHandler(handler); }
  bool remove(CustomEventHandler* handler) { return removeHandler(handler); }
  virtual std::string eventId() const = 0;
};

// --- Commands ----------------------------------------------------------------------------------

class ADSK_CORE_API CommandInputs : public Base {
public:
  virtual size_t count() const = 0;
};

class ADSK_CORE_API Command : public Base {
public:
  virtual bool isExecutedWhenPreEmpted() const = 0;
  virtual bool isExecutedWhenPreEmpted(bool value) = 0;
  virtual Ptr<CommandInputs> commandInputs() const = 0;
  virtual Ptr<CommandEvent> execute() const = 0;
};

class ADSK_CORE_API CommandDefinition : public Base {
public:
  virtual std::string id() const = 0;
  virtual std::string name() const = 0;
  virtual std::string tooltip() const = 0;
  virtual std::string resourceFolder() const = 0;
  virtual Ptr<CommandCreatedEvent> commandCreated() const = 0;
  virtual bool deleteMe() = 0;
};

class ADSK_CORE_API CommandDefinitions : public Base {
public:
  virtual size_t count() const = 0;
  virtual Ptr<CommandDefinition> item(size_t index) const = 0;
  virtual Ptr<CommandDefinition> itemById(const std::string& id) const = 0;
  // Empty on a duplicate id.
  virtual Ptr<CommandDefinition> addButtonDefinition(const std::string& id, const std::string& name,
                                                     const std::string& tooltip,
                                                     const std::string& resourceFolder = "") = 0;
};

// --- Toolbars ----------------------------------------------------------------------------------

class ADSK_CORE_API ToolbarControl : public Base {
public:
  virtual std::string id() const = 0;
  virtual bool deleteMe() = 0;
};

class ADSK_CORE_API CommandControl : public ToolbarControl {
public:
  virtual Ptr<CommandDefinition> commandDefinition() const = 0;
  virtual bool isPromotedByDefault() const = 0;
  virtual bool isPromotedByDefault(bool value) = 0;
};

class ADSK_CORE_API ToolbarControls : public Base {
public:
  virtual size_t count() const = 0;
  virtual Ptr<ToolbarControl> item(size_t index) const = 0;
  virtual Ptr<ToolbarControl> itemById(const std::string& id) const = 0;
  // An empty positionID appends at the end.
  virtual Ptr<CommandControl> addCommand(const Ptr<CommandDefinition>& commandDefinition,
                                         const std::string& positionID = "", bool isBefore = true) = 0;
};

class ADSK_CORE_API Toolbar : public Base {
public:
  virtual std::string id() const = 0;
  virtual Ptr<ToolbarControls> controls() const = 0;
};

class ADSK_CORE_API Toolbars : public Base {
public:
  virtual size_t count() const = 0;
  virtual Ptr<Toolbar> item(size_t index) const = 0;
  virtual Ptr<Toolbar> itemById(const std::string& id) const = 0;
};

class ADSK_CORE_API ToolbarPanel : public Base {
public:
  virtual std::string id() const = 0;
  virtual Ptr<ToolbarControls> controls() const = 0;
};

class ADSK_CORE_API ToolbarPanelList : public Base {
public:
  virtual size_t count() const = 0;
  virtual Ptr<ToolbarPanel> item(size_t index) const = 0;
  virtual Ptr<ToolbarPanel> itemById(const std::string& id) const = 0;
};

// --- Palettes ----------------------------------------------------------------------------------

class ADSK_CORE_API Palette : public Base {
public:
  virtual std::string id() const = 0;
  virtual std::string name() const = 0;
  virtual std::string htmlFileURL() const = 0;
  virtual bool isVisible() const = 0;
  virtual bool isVisible(bool value) = 0;
  virtual PaletteDockingStates dockingState() const = 0;
  virtual bool dockingState(PaletteDockingStates value) = 0;
  virtual Ptr<HTMLEvent> incomingFromHTML() const = 0;
  virtual bool deleteMe() = 0;
};

class ADSK_CORE_API Palettes : public Base {
public:
  virtual size_t count() const = 0;
  virtual Ptr<Palette> item(size_t index) const = 0;
  virtual Ptr<Palette> itemById(const std::string& id) const = 0;
  // Empty on a duplicate id.
  virtual Ptr<Palette> add(const std::string& id, const std::string& name, const std::string& htmlFileURL,
                           bool isVisible, bool showCloseButton, bool isResizable, int width = 200,
                           int height = 200, bool useNewWebBrowser = true) = 0;
};

// --- Preferences -------------------------------------------------------------------------------

class ADSK_CORE_API GeneralPreferences : public Base {
public:
  virtual UserLanguages userLanguage() const = 0;
  // Takes effect at the host's next start.
  virtual bool userLanguage(UserLanguages value) = 0;
};

class ADSK_CORE_API Preferences : public Base {
public:
  virtual Ptr<GeneralPreferences> generalPreferences() const = 0;
};

// --- Progress ------------------------------------------------------------------------------------

// A modeless dialog with a progress bar, a message and an optional Cancel button. In the message, %p
// stands for the percentage, %v for the value and %m for the maximum.
class ADSK_CORE_API ProgressDialog : public Base {
public:
  // Shows the dialog after `delay` seconds (at once for 0) unless it is hidden before; the value starts
  // at minimumValue.
  virtual bool show(const std::string& title, const std::string& message, int minimumValue, int maximumValue,
                    int delay = 0) = 0;
  virtual int progressValue() const = 0;
  virtual bool progressValue(int value) = 0;
  virtual std::string message() const = 0;
  virtual bool message(const std::string& value) = 0;
  virtual bool isCancelButtonShown() const = 0;
  virtual bool isCancelButtonShown(bool value) = 0;
  virtual std::string cancelButtonText() const = 0;
  virtual bool cancelButtonText(const std::string& value) = 0;
  // True once the user pressed Cancel (which also hides the dialog), until reset.
  virtual bool wasCancelled() const = 0;
  // True from show until hide, reset or Cancel, including while a delay still holds the dialog back.
  virtual bool isShowing() const = 0;
  virtual bool hide() = 0;
  // Hides the dialog, puts the value back to the minimum and forgets a Cancel.
  virtual bool reset() = 0;
};

// --- Application and user interface ------------------------------------------------------------

class ADSK_CORE_API UserInterface : public Base {
public:
  // Modal: returns when the user has answered.
  virtual DialogResults messageBox(const std::string& text, const std::string& title = "",
                                   MessageBoxButtonTypes buttons = OKButtonType,
                                   MessageBoxIconTypes icon = NoIconIconType) const = 0;
  virtual Ptr<CommandDefinitions> commandDefinitions() const = 0;
  virtual Ptr<ToolbarPanelList> allToolbarPanels() const = 0;
  virtual Ptr<Toolbars> toolbars() const = 0;
  virtual Ptr<Palettes> palettes() const = 0;
  virtual Ptr<ProgressDialog> createProgressDialog() = 0;
};

class ADSK_CORE_API Application : public Base {
public:
  static Ptr<Application> get();
  static void log(const std::string& message, LogLevels level = InfoLogLevel, LogTypes type = ConsoleLogType);

  virtual Ptr<UserInterface> userInterface() const = 0;
  // Returns the code of the last failed call; its text goes to description when given.
  virtual int getLastError(std::string* description = nullptr) const = 0;
  virtual Ptr<ApplicationEvent> onlineStatusChanged() const = 0;
  virtual bool isOffLine() const = 0;
  virtual Ptr<Preferences> preferences() const = 0;
  virtual std::string executeTextCommand(const std::string& command) const = 0;

  // Custom events let a worker thread hand work back to the main thread. Empty when the id is taken.
  virtual Ptr<CustomEvent> registerCustomEvent(const std::string& eventId) = 0;
  // The only call that may come from any thread. True means queued, not handled: the host raises the
  // event on its main thread when it is idle, in the order the calls were made. False for an id that is
  // not registered.
  virtual bool fireCustomEvent(const std::string& eventId, const std::string& additionalInfo = "") = 0;
  // Unregistering drops the event's deliveries that are still queued.
  virtual bool unregisterCustomEvent(const std::string& eventId) = 0;
};

} // namespace core
} // namespace adsk
