// The in-memory host as add-ins see it (Core/CoreAll.h) and as tests drive it (hostsim/control.h).
#include <Core/CoreAll.h>
#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <typeinfo>

using namespace adsk::core;

namespace {

class HostTest : public ::testing::Test {
protected:
  void SetUp() override { hostsim::ResetHost(); }
  void TearDown() override { hostsim::ResetHost(); }

  Ptr<UserInterface> Ui() { return Application::get()->userInterface(); }

  std::vector<std::string> EventTypes() {
    std::vector<std::string> types;
    for (const auto& event : hostsim::Transcript())
      types.push_back(event.type);
    return types;
  }
};

class CountingCreated final : public CommandCreatedEventHandler {
public:
  void notify(const Ptr<CommandCreatedEventArgs>& args) override {
    ++calls;
    command = args->command();
  }
  int calls = 0;
  Ptr<Command> command;
};

class CountingExecute final : public CommandEventHandler {
public:
  void notify(const Ptr<CommandEventArgs>&) override { ++calls; }
  int calls = 0;
};

class AttachingCreated final : public CommandCreatedEventHandler {
public:
  explicit AttachingCreated(CommandEventHandler* execute) : m_execute(execute) {}
  void notify(const Ptr<CommandCreatedEventArgs>& args) override {
    Ptr<Command> command = args->command();
    command->isExecutedWhenPreEmpted(false);
    EXPECT_TRUE(command->commandInputs());
    command->execute()->add(m_execute);
  }

private:
  CommandEventHandler* m_execute;
};

class OnlineHandler final : public ApplicationEventHandler {
public:
  void notify(const Ptr<ApplicationEventArgs>& args) override { seen.push_back(args->isOffLine()); }
  std::vector<bool> seen;
};

class HtmlHandler final : public HTMLEventHandler {
public:
  void notify(const Ptr<HTMLEventArgs>& args) override {
    action = args->action();
    data = args->data();
  }
  std::string action, data;
};

class ThrowingOnline final : public ApplicationEventHandler {
public:
  void notify(const Ptr<ApplicationEventArgs>&) override { throw std::runtime_error("boom"); }
};

TEST_F(HostTest, PtrCastsGiveEmptyHandleForWrongTypeAndAlwaysReachBase) {
  Ptr<ToolbarControls> controls = Ui()->toolbars()->itemById("QATRight")->controls();
  // HelpGroupCommand is a drop-down of the host, not a command control.
  Ptr<ToolbarControl> help = controls->itemById("HelpGroupCommand");
  ASSERT_TRUE(help);
  Ptr<CommandControl> asCommand = help;
  EXPECT_FALSE(asCommand);
  EXPECT_TRUE(asCommand == nullptr);
  EXPECT_FALSE(help->cast<CommandControl>());

  Ptr<CommandControl> userName = controls->itemById("UserDisplayNameCommand");
  EXPECT_TRUE(userName);

  Ptr<Base> base = help;
  EXPECT_TRUE(base);
  EXPECT_TRUE(base == help);
  Ptr<Base> fromEmpty = Ptr<Toolbar>();
  EXPECT_FALSE(fromEmpty);
}

TEST_F(HostTest, PtrAssignmentOfNullptrReleasesAndEmptyArrowThrows) {
  Ptr<UserInterface> ui = Ui();
  ASSERT_TRUE(ui);
  const int before = ui->refcount();
  {
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy's reference is measured
    Ptr<UserInterface> copy = ui;
    EXPECT_EQ(ui->refcount(), before + 1);
  }
  EXPECT_EQ(ui->refcount(), before);
  Ptr<UserInterface> other = ui;
  other = nullptr;
  EXPECT_FALSE(other);
  EXPECT_EQ(ui->refcount(), before);
  // As the host's own Ptr: a bare std::exception, nothing narrower to catch by type.
  try {
    other->palettes();
    ADD_FAILURE() << "operator-> on an empty handle did not throw";
  } catch (const std::exception& thrown) {
    EXPECT_EQ(typeid(thrown), typeid(std::exception));
  }
}

TEST_F(HostTest, ButtonDefinitionsAndControlsAreRecordedAndPositioned) {
  Ptr<CommandDefinitions> definitions = Ui()->commandDefinitions();
  Ptr<CommandDefinition> first =
      definitions->addButtonDefinition("idA", "Aktivace CZ", "tip", "./resources/A");
  ASSERT_TRUE(first);
  EXPECT_FALSE(definitions->addButtonDefinition("idA", "again", "tip"));
  std::string error;
  EXPECT_NE(Application::get()->getLastError(&error), 0);
  EXPECT_NE(error.find("idA"), std::string::npos);
  EXPECT_EQ(definitions->itemById("idA"), first);

  Ptr<ToolbarControls> qat = Ui()->toolbars()->itemById("QATRight")->controls();
  Ptr<CommandDefinition> second = definitions->addButtonDefinition("idB", "B", "tip");
  Ptr<CommandDefinition> third = definitions->addButtonDefinition("idC", "C", "tip");
  ASSERT_TRUE(qat->addCommand(first, "UserDisplayNameCommand", true));
  ASSERT_TRUE(qat->addCommand(second, "HelpGroupCommand", false));
  ASSERT_TRUE(qat->addCommand(third));
  EXPECT_FALSE(qat->addCommand(third)) << "the same control twice";
  EXPECT_FALSE(qat->addCommand(definitions->addButtonDefinition("idD", "D", "t"), "NoSuchControl"));
  EXPECT_FALSE(qat->addCommand(Ptr<CommandDefinition>()));
  EXPECT_EQ(hostsim::ControlIds("QATRight"),
            (std::vector<std::string>{"idA", "UserDisplayNameCommand", "HelpGroupCommand", "idB", "idC"}));

  Ptr<CommandControl> control = qat->itemById("idA");
  ASSERT_TRUE(control);
  EXPECT_TRUE(control->isPromotedByDefault(true));
  EXPECT_TRUE(control->deleteMe());
  EXPECT_FALSE(control->isValid());
  EXPECT_FALSE(control->deleteMe());
  EXPECT_TRUE(first->deleteMe());
  EXPECT_FALSE(first->isValid());
  EXPECT_FALSE(hostsim::HasDefinition("idA"));

  const auto events = hostsim::Transcript();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0].type, "definition_added");
  EXPECT_EQ(events[0].text("resources"), "./resources/A");
  EXPECT_EQ(EventTypes(),
            (std::vector<std::string>{"definition_added", "definition_added", "definition_added",
                                      "control_added", "control_added", "control_added", "definition_added",
                                      "control_promoted", "control_removed", "definition_removed"}));
}

TEST_F(HostTest, ClickRunsCreatedThenExecuteHandlersAndDetachesDestroyedHandlers) {
  Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idX", "X", "t");
  CountingExecute execute;
  AttachingCreated created(&execute);
  ASSERT_TRUE(definition->commandCreated()->add(&created));
  ASSERT_TRUE(hostsim::ClickCommand("idX", nullptr));
  EXPECT_EQ(execute.calls, 1);
  ASSERT_TRUE(hostsim::ClickCommand("idX", nullptr));
  EXPECT_EQ(execute.calls, 2) << "every click makes a new command";

  {
    CountingCreated temporary;
    definition->commandCreated()->add(&temporary);
    hostsim::ClickCommand("idX", nullptr);
    EXPECT_EQ(temporary.calls, 1);
    ASSERT_TRUE(temporary.command);
    EXPECT_FALSE(temporary.command->isValid()) << "a command lives for one click";
  }
  // The destroyed handler detached itself; the host must not call it.
  EXPECT_TRUE(hostsim::ClickCommand("idX", nullptr));

  std::string error;
  EXPECT_FALSE(hostsim::ClickCommand("nothing", &error));
  EXPECT_NE(error.find("nothing"), std::string::npos);
}

// Handlers that outlive their events (a deleted definition's, a reset host's) are never called and
// detach from nothing when they go; the sanitizer build sees any touch of a freed event.
TEST_F(HostTest, HandlerOutlivingItsEventIsSafe) {
  OnlineHandler online;
  ASSERT_TRUE(Application::get()->onlineStatusChanged()->add(&online));
  {
    Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idY", "Y", "t");
    CountingCreated created;
    definition->commandCreated()->add(&created);
    definition->deleteMe();
    EXPECT_FALSE(hostsim::ClickCommand("idY", nullptr));
    EXPECT_EQ(created.calls, 0);
  }
  auto late = std::make_unique<CountingCreated>();
  {
    Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idZ", "Z", "t");
    definition->commandCreated()->add(late.get());
    definition->deleteMe();
  }
  hostsim::ResetHost(); // the events are gone before the handlers
  hostsim::ReportOnlineStatus(true);
  EXPECT_TRUE(online.seen.empty());
  EXPECT_EQ(late->calls, 0);
  late.reset();
}

TEST_F(HostTest, OnlineStatusAndHtmlMessagesReachHandlers) {
  OnlineHandler online;
  ASSERT_TRUE(Application::get()->onlineStatusChanged()->add(&online));
  hostsim::SetOfflineState(true);
  EXPECT_TRUE(Application::get()->isOffLine());
  EXPECT_TRUE(online.seen.empty());
  hostsim::ReportOnlineStatus(false);
  EXPECT_FALSE(Application::get()->isOffLine());
  EXPECT_EQ(online.seen, std::vector<bool>{false});

  ThrowingOnline thrower;
  Application::get()->onlineStatusChanged()->add(&thrower);
  hostsim::ReportOnlineStatus(true);
  EXPECT_EQ(online.seen, (std::vector<bool>{false, true}));
  EXPECT_EQ(hostsim::Transcript().back().type, "error") << "a throwing handler is reported, not fatal";

  Ptr<Palettes> palettes = Ui()->palettes();
  Ptr<Palette> palette = palettes->add("pal", "Průvodce", "https://x/y?a=1", false, true, true, 400, 600);
  ASSERT_TRUE(palette);
  EXPECT_FALSE(palettes->add("pal", "again", "u", true, true, true));
  HtmlHandler html;
  palette->incomingFromHTML()->add(&html);
  EXPECT_TRUE(hostsim::SendHtml("pal", "https://open/me", "openURL", nullptr));
  EXPECT_EQ(html.action, "openURL");
  EXPECT_EQ(html.data, "https://open/me");
  EXPECT_FALSE(hostsim::SendHtml("nope", "d", "a", nullptr));

  EXPECT_TRUE(palette->dockingState(PaletteDockStateRight));
  EXPECT_TRUE(palette->isVisible(true));
  EXPECT_TRUE(hostsim::PaletteVisible("pal"));
  EXPECT_EQ(hostsim::PaletteUrl("pal"), "https://x/y?a=1");
  EXPECT_TRUE(palette->deleteMe());
  EXPECT_FALSE(hostsim::HasPalette("pal"));
  EXPECT_FALSE(palette->isVisible(true));
}

TEST_F(HostTest, MessageBoxesTakeQueuedAnswersElseOkOrNo) {
  Ptr<UserInterface> ui = Ui();
  hostsim::QueueAnswers({DialogYes, DialogCancel});
  EXPECT_EQ(ui->messageBox("a", "", YesNoButtonType), DialogYes);
  EXPECT_EQ(ui->messageBox("b", "", OKCancelButtonType), DialogCancel);
  EXPECT_EQ(ui->messageBox("c", "", YesNoButtonType), DialogNo);
  EXPECT_EQ(ui->messageBox("d"), DialogOK);
  const auto events = hostsim::Transcript();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].number("buttons"), 3);
  EXPECT_EQ(events[2].number("answer"), 3);
}

TEST_F(HostTest, InjectedFailuresSetLastErrorForNamedCallsOnly) {
  struct Case {
    const char* call;
    bool toolbarFound;
    bool panelFound;
  };
  const Case cases[] = {
      {"itemById", false, false},
      {"Toolbars.itemById", false, true},
      {"ToolbarPanelList.itemById", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    hostsim::ResetHost();
    hostsim::FailCall(c.call, "boom");
    EXPECT_EQ(static_cast<bool>(Ui()->toolbars()->itemById("QATRight")), c.toolbarFound);
    EXPECT_EQ(static_cast<bool>(Ui()->allToolbarPanels()->itemById("SolidScriptsAddinsPanel")), c.panelFound);
    std::string text;
    EXPECT_EQ(Application::get()->getLastError(&text), 1);
    EXPECT_EQ(text, "boom");
  }
  hostsim::ResetHost();
  hostsim::FailCall("get", "no application");
  EXPECT_FALSE(Application::get());
  hostsim::ClearFailures();
  EXPECT_TRUE(Application::get());

  hostsim::FailCall("CommandCreatedEvent.add", "no events");
  Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idF", "F", "t");
  CountingCreated created;
  EXPECT_FALSE(definition->commandCreated()->add(&created));
}

TEST_F(HostTest, RemovedToolbarAndPanelAreGoneAndTheirHandlesInvalid) {
  Ptr<Toolbar> qat = Ui()->toolbars()->itemById("QATRight");
  ASSERT_TRUE(qat);
  EXPECT_TRUE(hostsim::RemoveToolbar("QATRight"));
  EXPECT_FALSE(hostsim::RemoveToolbar("QATRight"));
  EXPECT_FALSE(Ui()->toolbars()->itemById("QATRight"));
  EXPECT_FALSE(qat->isValid());
  EXPECT_FALSE(qat->controls());
  EXPECT_TRUE(hostsim::RemovePanel("SolidScriptsAddinsPanel"));
  EXPECT_FALSE(Ui()->allToolbarPanels()->itemById("SolidScriptsAddinsPanel"));
  EXPECT_TRUE(hostsim::ControlIds("SolidScriptsAddinsPanel").empty());
  hostsim::ResetHost();
  EXPECT_TRUE(Ui()->toolbars()->itemById("QATRight"));
}

TEST_F(HostTest, PreferencesLanguageAndTextCommands) {
  Ptr<GeneralPreferences> general = Application::get()->preferences()->generalPreferences();
  EXPECT_EQ(general->userLanguage(), EnglishLanguage);
  EXPECT_TRUE(general->userLanguage(CzechLanguage));
  EXPECT_EQ(hostsim::Language(), CzechLanguage);
  EXPECT_EQ(hostsim::Transcript().back().type, "preference");
  EXPECT_EQ(hostsim::Transcript().back().number("value"), 2);

  EXPECT_FALSE(Application::get()->executeTextCommand(hostsim::kEntitlementTextCommand).empty());
  hostsim::SetEntitlementText("COMMERCIAL");
  EXPECT_EQ(Application::get()->executeTextCommand(hostsim::kEntitlementTextCommand), "COMMERCIAL");
  EXPECT_EQ(Application::get()->executeTextCommand("Unknown.Command"), "");
}

TEST(TranscriptFormat, ReadableLinesAndJsonObjects) {
  struct Case {
    hostsim::TranscriptEvent event;
    const char* readable;
    const char* json;
  };
  const Case cases[] = {
      {hostsim::TranscriptEvent{"log", {}}
           .addText("message", "QUORLEX: ahoj")
           .addNumber("level", 2)
           .addNumber("type", 0),
       "log [Info(2)/File(0)] QUORLEX: ahoj",
       R"({"event":"log","message":"QUORLEX: ahoj","level":2,"type":0})"},
      {hostsim::TranscriptEvent{"messagebox", {}}
           .addText("text", "Nová\n\"verze\"")
           .addText("title", "")
           .addNumber("buttons", 3)
           .addNumber("icon", 1)
           .addNumber("answer", 2),
       R"(messagebox "Nová\n\"verze\"" title="" buttons=YesNo(3) icon=Question(1) -> Yes(2))",
       R"({"event":"messagebox","text":"Nová\n\"verze\"","title":"","buttons":3,"icon":1,"answer":2})"},
      {hostsim::TranscriptEvent{"open", {}}.addList("argv", {"https://a/b?c=d&e"}),
       R"(open ["https://a/b?c=d&e"])", R"({"event":"open","argv":["https://a/b?c=d&e"]})"},
      {hostsim::TranscriptEvent{"restart", {}}, "restart: a new host process", R"({"event":"restart"})"},
      {hostsim::TranscriptEvent{"custom", {}}.addBoolean("flag", true).addText("t", "\x01"),
       R"(custom flag=true t="\u0001")", R"({"event":"custom","flag":true,"t":"\u0001"})"},
      {hostsim::TranscriptEvent{"handler", {}}
           .addText("addin", "Orvandel")
           .addText("what", "notify customEvent x")
           .addNumber("ms", 12)
           .addNumber("us", 12345),
       "handler Orvandel notify customEvent x 12 ms",
       R"({"event":"handler","addin":"Orvandel","what":"notify customEvent x","ms":12,"us":12345})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.readable);
    EXPECT_EQ(hostsim::FormatReadable(c.event), c.readable);
    EXPECT_EQ(hostsim::FormatJson(c.event), c.json);
  }
}

// Bytes that are not well-formed UTF-8 become \u00XX escapes of their value in JSON; every well-formed
// sequence, up to four bytes, passes through as it is.
TEST(TranscriptFormat, JsonIsValidUtf8WhateverTheBytes) {
  struct Case {
    const char* bytes;
    const char* json;
  };
  const Case cases[] = {
      {"\xC4\x8C"
       "e\xC5\xA1tina",
       "\xC4\x8C"
       "e\xC5\xA1tina"},                        // Čeština
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // U+1F600, four bytes
      {"\xEF\xBF\xBF", "\xEF\xBF\xBF"},         // U+FFFF, the last of three bytes
      {"a\xFF"
       "b",
       "a\\u00ffb"},                                        // a byte no sequence starts with
      {"\xC0\xAF", "\\u00c0\\u00af"},                       // overlong "/"
      {"\xED\xA0\x80", "\\u00ed\\u00a0\\u0080"},            // a surrogate
      {"\xF4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"}, // above U+10FFFF
      {"\xE2\x82", "\\u00e2\\u0082"},                       // cut short at the end
      {"\xE2\x82x", "\\u00e2\\u0082x"},                     // cut short by another character
      {"\xC3", "\\u00c3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const auto event = hostsim::TranscriptEvent{"program", {}}.addText("stdout", c.bytes);
    EXPECT_EQ(hostsim::FormatJson(event), std::string(R"({"event":"program","stdout":")") + c.json + "\"}");
  }
}

class CountingCustom final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& args) override {
    infos.push_back(args->additionalInfo());
    onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
    eventIds.push_back(Ptr<CustomEvent>(args->firingEvent())->eventId());
    if (fireAgain)
      Application::get()->fireCustomEvent("tick", "again");
  }
  std::vector<std::string> infos;
  std::vector<std::string> eventIds;
  std::thread::id mainThread = std::this_thread::get_id();
  bool onMainThread = true;
  bool fireAgain = false;
};

TEST_F(HostTest, CustomEventsFromWorkersWaitForTheIdleHostAndArriveInOrderOnItsThread) {
  Ptr<Application> app = Application::get();
  CountingCustom handler;
  Ptr<CustomEvent> tick = app->registerCustomEvent("tick");
  ASSERT_TRUE(tick);
  EXPECT_EQ(tick->eventId(), "tick");
  EXPECT_TRUE(tick->add(&handler));
  EXPECT_FALSE(app->registerCustomEvent("tick")) << "the id is taken";
  EXPECT_FALSE(app->registerCustomEvent(""));

  // Two workers fire at once; each one's events keep their order.
  std::atomic<int> accepted{0};
  auto fire = [&](const std::string& prefix) {
    for (int i = 0; i < 200; ++i)
      accepted += app->fireCustomEvent("tick", prefix + std::to_string(i)) ? 1 : 0;
  };
  std::thread first(fire, "a"), second(fire, "b");
  first.join();
  second.join();
  EXPECT_EQ(accepted, 400);
  EXPECT_TRUE(handler.infos.empty()) << "nothing is delivered before the host is idle";
  EXPECT_TRUE(hostsim::WaitForCustomEvents(std::chrono::milliseconds(0)));
  EXPECT_EQ(hostsim::QueuedCustomEvents(), 400u);

  EXPECT_EQ(hostsim::DeliverCustomEvents(), 400u);
  ASSERT_EQ(handler.infos.size(), 400u);
  EXPECT_TRUE(handler.onMainThread);
  EXPECT_EQ(handler.eventIds.front(), "tick");
  int nextA = 0, nextB = 0;
  for (const auto& info : handler.infos) {
    int& next = info[0] == 'a' ? nextA : nextB;
    EXPECT_EQ(info.substr(1), std::to_string(next++));
  }
  // Each delivery is recorded before its handlers run.
  const auto transcript = hostsim::Transcript();
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript.back().type, "custom_event");
  EXPECT_EQ(transcript.back().text("id"), "tick");

  // An event a handler fires waits for the next idle moment, so that delivery ends.
  handler.fireAgain = true;
  EXPECT_TRUE(app->fireCustomEvent("tick", "first"));
  EXPECT_EQ(hostsim::DeliverCustomEvents(), 1u);
  handler.fireAgain = false;
  EXPECT_EQ(handler.infos.back(), "first");
  EXPECT_EQ(hostsim::DeliverCustomEvents(), 1u);
  EXPECT_EQ(handler.infos.back(), "again");
  EXPECT_FALSE(hostsim::WaitForCustomEvents(std::chrono::milliseconds(1)));

  // Unregistering drops what is queued; the id no longer fires and can be registered again.
  EXPECT_TRUE(app->fireCustomEvent("tick", "dropped"));
  EXPECT_TRUE(app->unregisterCustomEvent("tick"));
  EXPECT_FALSE(tick->isValid());
  EXPECT_FALSE(app->unregisterCustomEvent("tick"));
  EXPECT_FALSE(app->fireCustomEvent("tick", "late"));
  EXPECT_FALSE(app->fireCustomEvent("never registered"));
  EXPECT_EQ(hostsim::DeliverCustomEvents(), 0u);
  EXPECT_EQ(handler.infos.back(), "again");
  EXPECT_TRUE(app->registerCustomEvent("tick"));
}

TEST_F(HostTest, CustomEventHandlerDestroyedBeforeDeliveryIsNotCalled) {
  Ptr<Application> app = Application::get();
  Ptr<CustomEvent> tick = app->registerCustomEvent("tick");
  {
    CountingCustom handler;
    tick->add(&handler);
    EXPECT_TRUE(app->fireCustomEvent("tick"));
  }
  EXPECT_EQ(hostsim::DeliverCustomEvents(), 1u);
  EXPECT_EQ(hostsim::Transcript().back().type, "custom_event");
}

TEST_F(HostTest, TimingsFollowEveryHandlerCall) {
  OnlineHandler online;
  Application::get()->onlineStatusChanged()->add(&online);
  hostsim::ReportOnlineStatus(true);
  EXPECT_NE(EventTypes().back(), "handler") << "timings are off by default";
  hostsim::SetTimings(true);
  hostsim::ReportOnlineStatus(false);
  const hostsim::TranscriptEvent last = hostsim::Transcript().back();
  EXPECT_EQ(last.type, "handler");
  EXPECT_EQ(last.text("what"), "notify onlineStatusChanged");
  // The handler is defined in this test program, not in an add-in.
  EXPECT_EQ(last.text("addin"), "host_api_test");
  EXPECT_GE(last.number("us"), 0);
}

// The host's interface is not thread-safe: a call from a worker would race, so it stops the host.
TEST(HostThreadsDeathTest, AHostCallFromAnotherThreadStopsTheHostNamingTheCall) {
  Application::get();
  EXPECT_DEATH(std::thread([] { Application::log("from a worker"); }).join(),
               "Application.log called from a thread other than the host's main thread");
}

class ProgressTest : public HostTest {
protected:
  std::vector<hostsim::TranscriptEvent> ProgressEvents() {
    std::vector<hostsim::TranscriptEvent> events;
    for (const auto& event : hostsim::Transcript()) {
      if (event.type.rfind("progress", 0) == 0)
        events.push_back(event);
    }
    return events;
  }
};

TEST_F(ProgressTest, ShowSubstitutesAndProgressPrintsOncePerTenth) {
  Ptr<ProgressDialog> dialog = Ui()->createProgressDialog();
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(dialog->isShowing());
  EXPECT_TRUE(dialog->isCancelButtonShown());
  EXPECT_FALSE(dialog->show("T", "m", 10, 5)) << "maximum below minimum";
  EXPECT_TRUE(dialog->show("Stahování", "%p % (%v z %m)", 0, 200));
  EXPECT_TRUE(dialog->isShowing());
  EXPECT_TRUE(hostsim::ProgressDialogShowing());
  for (int value = 1; value <= 200; ++value)
    EXPECT_TRUE(dialog->progressValue(value));
  EXPECT_EQ(dialog->progressValue(), 200);
  EXPECT_TRUE(dialog->progressValue(500));
  EXPECT_EQ(dialog->progressValue(), 200) << "values stay within the range";
  EXPECT_TRUE(dialog->hide());
  EXPECT_FALSE(dialog->isShowing());

  const auto events = ProgressEvents();
  ASSERT_EQ(events.size(), 12u);
  EXPECT_EQ(events[0].type, "progress_shown");
  EXPECT_EQ(events[0].text("title"), "Stahování");
  EXPECT_EQ(events[0].text("message"), "0 % (0 z 200)");
  EXPECT_EQ(events[0].number("minimum"), 0);
  EXPECT_EQ(events[0].number("maximum"), 200);
  // A line when the value has moved a tenth of the range (20) since the last one.
  for (size_t i = 1; i <= 10; ++i) {
    EXPECT_EQ(events[i].type, "progress");
    EXPECT_EQ(events[i].number("value"), static_cast<long long>(20 * i));
  }
  EXPECT_EQ(events[5].text("message"), "50 % (100 z 200)");
  EXPECT_EQ(events[11].type, "progress_hidden");
  EXPECT_FALSE(events[11].boolean("cancelled"));

  // A new message waits for the next line like a new value; hiding a hidden dialog prints nothing.
  hostsim::ClearTranscript();
  EXPECT_TRUE(dialog->show("T", "a %v", 0, 10));
  EXPECT_TRUE(dialog->message("b %v"));
  EXPECT_EQ(dialog->message(), "b %v");
  EXPECT_EQ(ProgressEvents().size(), 1u);
  EXPECT_TRUE(dialog->progressValue(1));
  EXPECT_TRUE(dialog->hide());
  EXPECT_TRUE(dialog->hide());
  const auto again = ProgressEvents();
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[1].type, "progress");
  EXPECT_EQ(again[1].text("message"), "b 1");

  // A state no line has shown yet is printed as the dialog goes, hidden or cancelled.
  for (const bool cancel : {false, true}) {
    hostsim::ClearTranscript();
    EXPECT_TRUE(dialog->show("T", "a %v", 0, 10));
    EXPECT_TRUE(dialog->message("last %v"));
    if (cancel) {
      ASSERT_TRUE(hostsim::PressCancel(nullptr));
    } else {
      EXPECT_TRUE(dialog->hide());
    }
    const auto last = ProgressEvents();
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[1].type, "progress");
    EXPECT_EQ(last[1].text("message"), "last 0");
    EXPECT_EQ(last[2].type, "progress_hidden");
    EXPECT_EQ(last[2].boolean("cancelled"), cancel);
  }
}

TEST_F(ProgressTest, SmallStepsPrintAfterASecondAndADelayedDialogAppearsWhenIdle) {
  Ptr<ProgressDialog> dialog = Ui()->createProgressDialog();
  ASSERT_TRUE(dialog->show("T", "%v", 0, 1000, /*delay=*/1));
  EXPECT_TRUE(dialog->isShowing());
  EXPECT_FALSE(hostsim::ProgressDialogShowing());
  dialog->progressValue(500);
  hostsim::DeliverCustomEvents();
  EXPECT_TRUE(ProgressEvents().empty()) << "the delay holds the dialog back";
  std::string reason;
  EXPECT_FALSE(hostsim::PressCancel(&reason)) << "Cancel of a dialog not yet on the screen";
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));
  hostsim::DeliverCustomEvents();
  auto events = ProgressEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "progress_shown");
  EXPECT_EQ(events[0].text("message"), "500");

  dialog->progressValue(501);
  dialog->message("%v!");
  EXPECT_EQ(ProgressEvents().size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));
  dialog->progressValue(502);
  dialog->message("%v?");
  events = ProgressEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].number("value"), 502);
  EXPECT_EQ(events[1].text("message"), "502!");

  // Hidden during its delay, a dialog never appears.
  Ptr<ProgressDialog> quick = Ui()->createProgressDialog();
  quick->show("Q", "", 0, 1, 1);
  quick->hide();
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));
  hostsim::DeliverCustomEvents();
  EXPECT_EQ(ProgressEvents().size(), 2u);
}

TEST_F(ProgressTest, CancelHidesTheDialogInFrontUntilReset) {
  std::string reason;
  EXPECT_FALSE(hostsim::PressCancel(&reason));
  EXPECT_EQ(reason, "no progress dialog is showing");

  Ptr<ProgressDialog> back = Ui()->createProgressDialog();
  Ptr<ProgressDialog> front = Ui()->createProgressDialog();
  back->show("Back", "", 0, 10);
  front->show("Front", "", 0, 10);
  EXPECT_TRUE(hostsim::PressCancel(&reason)) << reason;
  EXPECT_TRUE(front->wasCancelled());
  EXPECT_FALSE(front->isShowing());
  EXPECT_FALSE(back->wasCancelled());
  const auto events = ProgressEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().type, "progress_hidden");
  EXPECT_TRUE(events.back().boolean("cancelled"));
  // Values after Cancel print nothing.
  front->progressValue(10);
  EXPECT_EQ(ProgressEvents().size(), events.size());
  EXPECT_TRUE(front->reset());
  EXPECT_FALSE(front->wasCancelled());

  EXPECT_TRUE(back->isCancelButtonShown(false));
  EXPECT_FALSE(hostsim::PressCancel(&reason));
  EXPECT_EQ(reason, "the progress dialog shows no Cancel button");
  EXPECT_TRUE(back->isShowing());

  // Dropping the last handle of a showing dialog leaves it on the screen: the host holds it.
  back = nullptr;
  EXPECT_TRUE(hostsim::ProgressDialogShowing());
  EXPECT_TRUE(front->show("Front", "", 0, 10));
  hostsim::ResetHost();
  EXPECT_FALSE(hostsim::ProgressDialogShowing());
  EXPECT_FALSE(front->isValid());
  EXPECT_FALSE(front->show("T", "", 0, 1));
}

} // namespace
