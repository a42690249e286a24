// The in-memory host as add-ins see it (Core/CoreAll.h) and as tests drive it (hostsim/control.h).
#include <Core/CoreAll.h>
#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <memory>

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
    Ptr<UserInterface> copy = ui;
    EXPECT_EQ(ui->refcount(), before + 1);
  }
  EXPECT_EQ(ui->refcount(), before);
  Ptr<UserInterface> other = ui;
  other = nullptr;
  EXPECT_FALSE(other);
  EXPECT_EQ(ui->refcount(), before);
  EXPECT_THROW(other->palettes(), std::exception);
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

TEST_F(HostTest, HandlerOutlivingItsEventIsSafe) {
  OnlineHandler handler;
  {
    Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idY", "Y", "t");
    CountingCreated created;
    definition->commandCreated()->add(&created);
    definition->deleteMe();
  }
  auto late = std::make_unique<CountingCreated>();
  {
    Ptr<CommandDefinition> definition = Ui()->commandDefinitions()->addButtonDefinition("idZ", "Z", "t");
    definition->commandCreated()->add(late.get());
    definition->deleteMe();
  }
  hostsim::ResetHost(); // the event is gone before the handler
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.readable);
    EXPECT_EQ(hostsim::FormatReadable(c.event), c.readable);
    EXPECT_EQ(hostsim::FormatJson(c.event), c.json);
  }
}

} // namespace
