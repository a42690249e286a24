#include "host_state.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

namespace hostsim {

using namespace detail;

const char* const kEntitlementTextCommand = "Licensing.EntitlementStatus";

namespace {

struct LibraryCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

using EntryPoint = bool (*)(const char*);

struct LoadedAddin {
  std::string name;
  std::string folder;
  LibraryHandle library;
  EntryPoint stop = nullptr;
  const void* base = nullptr; // where the library is mapped: tells its code from other libraries'
};

std::vector<LoadedAddin>& Addins() {
  static std::vector<LoadedAddin> addins;
  return addins;
}

// Calls an entry point so that no exception escapes into the host.
bool CallEntry(const std::string& name, const char* entry, EntryPoint function) {
  try {
    return function("");
  } catch (const std::exception& e) {
    Record(TranscriptEvent{"error", {}}.addText("message",
                                                name + ": " + entry + " threw an exception: " + e.what()));
  } catch (...) {
    Record(TranscriptEvent{"error", {}}.addText("message", name + ": " + entry + " threw an exception"));
  }
  return false;
}

std::string FolderName(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  const auto slash = folder.find_last_of('/');
  return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

// Deletes the toolbar or panel with the id; false when there is none.
template <class Parent> bool RemoveParent(std::vector<Ptr<Parent>>& parents, const std::string& id) {
  for (auto it = parents.begin(); it != parents.end(); ++it) {
    if ((*it)->id() == id) {
      (*it)->invalidateAll();
      parents.erase(it);
      return true;
    }
  }
  return false;
}

template <class Parent>
void DescribeParents(std::ostream& out, const char* label, const std::vector<Ptr<Parent>>& parents) {
  for (const auto& parent : parents) {
    out << "\n  " << label << " " << parent->id() << ":";
    for (const auto& id : parent->controlsImpl()->ids())
      out << " " << id;
  }
}

// Unregisters the add-in's custom events (dropping their queued deliveries) and takes its progress
// dialogs off the screen: nothing of an unloaded add-in may be called or shown afterwards.
void ForgetAddin(const std::string& name) {
  HostState& state = State();
  std::vector<std::string> ids;
  for (const auto& entry : state.customEvents) {
    if (entry.second.owner == name)
      ids.push_back(entry.first);
  }
  for (const auto& id : ids)
    DropCustomEvent(id);
  for (const auto& dialog : std::vector<Ptr<ProgressDialogImpl>>(state.progressDialogs)) {
    if (dialog->owner() == name)
      dialog->close(/*cancelled=*/false);
  }
}

} // namespace

namespace detail {

std::string AddinOwning(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0)
    return std::string();
  for (const auto& addin : Addins()) {
    if (addin.base == info.dli_fbase)
      return addin.name;
  }
  const char* file = info.dli_fname ? info.dli_fname : "";
  const char* slash = std::strrchr(file, '/');
  return slash ? slash + 1 : file;
}

CallTimer::CallTimer(const void* code, std::string what)
    : m_on(State().timings), m_what(std::move(what)), m_start(std::chrono::steady_clock::now()) {
  if (m_on)
    m_addin = AddinOwning(code);
}

CallTimer::CallTimer(std::string addin, std::string what)
    : m_on(State().timings), m_addin(std::move(addin)), m_what(std::move(what)),
      m_start(std::chrono::steady_clock::now()) {}

CallTimer::~CallTimer() {
  if (!m_on)
    return;
  const auto elapsed = std::chrono::steady_clock::now() - m_start;
  const long long us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  Record(TranscriptEvent{"handler", {}}
             .addText("addin", m_addin)
             .addText("what", m_what)
             .addNumber("ms", (us + 500) / 1000)
             .addNumber("us", us));
}

} // namespace detail

void ResetHost() {
  HostState& state = State();
  for (const auto& definition : state.definitions)
    definition->invalidate();
  for (const auto& toolbar : state.toolbars)
    toolbar->invalidateAll();
  for (const auto& panel : state.panels)
    panel->invalidateAll();
  for (const auto& palette : state.palettes)
    palette->invalidate();
  if (state.application)
    state.application->invalidate();
  for (const auto& entry : state.customEvents)
    entry.second.event->invalidate();
  for (const auto& dialog : state.progressDialogs)
    dialog->invalidate();
  {
    CustomEventQueue& queue = Queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.registered.clear();
    queue.queued.clear();
  }
  auto listener = std::move(state.listener);
  state = HostState();
  state.listener = std::move(listener);
}

bool LoadAddin(const std::string& folder, bool* runResult, std::string* error) {
  if (runResult)
    *runResult = false;
  const std::string name = FolderName(folder);
  auto fail = [&](const std::string& text) {
    if (error)
      *error = text;
    return false;
  };
  if (name.empty() || name == "/" || name == "." || name == "..")
    return fail("\"" + folder + "\" is no add-in folder");
  for (const auto& addin : Addins()) {
    if (addin.name == name)
      return fail("the add-in " + name + " is already loaded");
  }
  std::string reasons;
  LibraryHandle library;
  for (const std::string& file : {name + ".so", name + ".dylib", "lib" + name + ".so"}) {
    const std::string path = folder + "/" + file;
    dlerror();
    library.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (library)
      break;
    const char* reason = dlerror();
    reasons += std::string("\n  ") + (reason ? reason : path + ": cannot be loaded");
  }
  if (!library)
    return fail("the add-in " + name + " cannot be loaded from " + folder + ":" + reasons);
  auto run = reinterpret_cast<EntryPoint>(dlsym(library.get(), "run"));
  auto stop = reinterpret_cast<EntryPoint>(dlsym(library.get(), "stop"));
  if (!run || !stop)
    return fail("the add-in " + name + " does not export " + (run ? "stop" : "run"));

  Dl_info info{};
  const void* base = dladdr(reinterpret_cast<void*>(run), &info) ? info.dli_fbase : nullptr;
  Addins().push_back(LoadedAddin{name, folder, std::move(library), stop, base});
  bool result = false;
  {
    CallTimer timer(name, "run");
    result = CallEntry(name, "run", run);
    Record(TranscriptEvent{"addin", {}}
               .addText("name", name)
               .addText("entry", "run")
               .addBoolean("result", result)
               .addText("folder", folder));
  }
  if (runResult)
    *runResult = result;
  return true;
}

bool UnloadAddin(const std::string& name, bool* stopResult, std::string* error) {
  if (stopResult)
    *stopResult = false;
  auto& addins = Addins();
  const auto found = std::find_if(addins.begin(), addins.end(),
                                  [&](const LoadedAddin& addin) { return addin.name == name; });
  if (found == addins.end()) {
    if (error)
      *error = "the add-in " + name + " is not loaded";
    return false;
  }
  bool result = false;
  {
    CallTimer timer(name, "stop");
    result = CallEntry(name, "stop", found->stop);
    Record(TranscriptEvent{"addin", {}}
               .addText("name", name)
               .addText("entry", "stop")
               .addBoolean("result", result)
               .addText("folder", found->folder));
  }
  // Events its workers fired while stop joined them are dropped with the add-in's custom events.
  ForgetAddin(name);
  // Closing the library destroys the add-in's handlers, which detach themselves from the host's events.
  LoadedAddin addin = std::move(*found);
  addins.erase(found);
  addin.library.reset();
  if (stopResult)
    *stopResult = result;
  return true;
}

std::vector<std::string> LoadedAddins() {
  std::vector<std::string> names;
  for (const auto& addin : Addins())
    names.push_back(addin.name);
  return names;
}

bool RemoveToolbar(const std::string& id) {
  return RemoveParent(State().toolbars, id);
}

bool RemovePanel(const std::string& id) {
  return RemoveParent(State().panels, id);
}

void FailCall(const std::string& call, const std::string& errorText) {
  State().failures[call] = errorText;
}
void ClearFailures() {
  State().failures.clear();
}
void SetTimings(bool on) {
  State().timings = on;
}

void SetOfflineState(bool offline) {
  State().offline = offline;
}

void ReportOnlineStatus(bool offline) {
  HostState& state = State();
  state.offline = offline;
  Record(TranscriptEvent{"online_status", {}}.addBoolean("offline", offline));
  if (!state.application)
    return;
  Ptr<ApplicationEventImpl> event = state.application->onlineEvent();
  event->fire(MakeObject<ApplicationEventArgsImpl>(event, offline));
}

void SetLanguage(adsk::core::UserLanguages language) {
  State().language = language;
}
adsk::core::UserLanguages Language() {
  return State().language;
}

void SetTextCommandAnswer(const std::string& command, const std::string& answer) {
  State().textAnswers[command] = answer;
}

void SetEntitlementText(const std::string& text) {
  SetTextCommandAnswer(kEntitlementTextCommand, text);
}

void QueueAnswers(const std::vector<adsk::core::DialogResults>& answers) {
  auto& queue = State().answers;
  queue.insert(queue.end(), answers.begin(), answers.end());
}

bool ClickCommand(const std::string& id, std::string* error) {
  Ptr<CommandDefinitionImpl> definition = FindDefinition(id);
  if (!definition) {
    if (error)
      *error = "no command definition with the id \"" + id + "\"";
    return false;
  }
  Record(TranscriptEvent{"click", {}}.addText("id", id));
  auto command = MakeObject<CommandImpl>();
  Ptr<CommandCreatedEventImpl> created = definition->createdEvent();
  created->fire(MakeObject<CommandCreatedEventArgsImpl>(created, command));
  Ptr<CommandEventImpl> execute = command->executeEvent();
  execute->fire(MakeObject<CommandEventArgsImpl>(execute, command));
  command->invalidate();
  return true;
}

bool SendHtml(const std::string& paletteId, const std::string& data, const std::string& action,
              std::string* error) {
  Ptr<PaletteImpl> palette = FindPalette(paletteId);
  if (!palette) {
    if (error)
      *error = "no palette with the id \"" + paletteId + "\"";
    return false;
  }
  Record(TranscriptEvent{"html", {}}
             .addText("palette", paletteId)
             .addText("action", action)
             .addText("data", data));
  Ptr<HTMLEventImpl> event = palette->htmlEvent();
  event->fire(MakeObject<HTMLEventArgsImpl>(event, action, data));
  return true;
}

std::vector<TranscriptEvent> Transcript() {
  return State().transcript;
}
void ClearTranscript() {
  State().transcript.clear();
}

void SetTranscriptListener(std::function<void(const TranscriptEvent&)> listener) {
  State().listener = std::move(listener);
}

void RecordEvent(const TranscriptEvent& event) {
  Record(event);
}

std::vector<std::string> LogMessages() {
  std::vector<std::string> messages;
  for (const auto& event : State().transcript) {
    if (event.type == "log")
      messages.push_back(event.text("message"));
  }
  return messages;
}

bool HasDefinition(const std::string& id) {
  return static_cast<bool>(FindDefinition(id));
}

std::string DefinitionResourceFolder(const std::string& id) {
  Ptr<CommandDefinitionImpl> definition = FindDefinition(id);
  return definition ? definition->resourceFolder() : std::string();
}

std::vector<std::string> ControlIds(const std::string& parentId) {
  Ptr<ToolbarControlsImpl> controls = ControlsOf(parentId);
  return controls ? controls->ids() : std::vector<std::string>();
}

bool HasPalette(const std::string& id) {
  return static_cast<bool>(FindPalette(id));
}

bool PaletteVisible(const std::string& id) {
  Ptr<PaletteImpl> palette = FindPalette(id);
  return palette && palette->isVisible();
}

std::string PaletteUrl(const std::string& id) {
  Ptr<PaletteImpl> palette = FindPalette(id);
  return palette ? palette->htmlFileURL() : std::string();
}

std::string DescribeState() {
  HostState& state = State();
  std::ostringstream out;
  out << "state: " << (state.offline ? "offline" : "online") << ", language " << LanguageName(state.language)
      << "\n";
  out << "  add-ins:";
  for (const auto& name : LoadedAddins())
    out << " " << name;
  out << "\n  definitions:";
  for (const auto& definition : state.definitions)
    out << " " << definition->id();
  DescribeParents(out, "toolbar", state.toolbars);
  DescribeParents(out, "panel", state.panels);
  out << "\n  palettes:";
  for (const auto& palette : state.palettes)
    out << " " << palette->id() << (palette->isVisible() ? "(visible)" : "(hidden)");
  return out.str();
}

} // namespace hostsim
