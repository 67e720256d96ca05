// Windows, buttons, labels, panels and text fields on a real X display.
#include "tests/support/gadget_fixture.h"

#include <FL/Fl_Input.H>
#include <X11/keysym.h>

#include <cstdlib>

#include "ui/fl_driver.h"
#include "ui/timer.h"

namespace {

constexpr int kDialog = WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED;
constexpr int kRoom = kDialog | WIN_SIZABLE;

int CountKeyEvents(const std::vector<std::pair<int32_t, int32_t>>& seen, int32_t id) {
  int n = 0;
  for (auto& e : seen)
    if (e.first == id) ++n;
  return n;
}

// Records what the key filter is offered; rejects the characters in `reject`.
struct FilterLog : TObject {
  std::vector<std::pair<int32_t, int32_t>> seen;
  std::u16string reject;
};

int LoggingFilter(const TEvent& event, const TObjectRef& context) {
  auto* log = static_cast<FilterLog*>(context.get());
  log->seen.emplace_back(event.id, event.data);
  if (event.id == KeyChar && log->reject.find(static_cast<char16_t>(event.data)) != TString::npos)
    return 0;
  return 1;
}

void EmitGuardEvent(void*) {
  static const int32_t guardId = TEvent::AllocUserId();
  TEvent::Create(guardId)->Emit();
}

}  // namespace

TEST_F(GadgetTest, TheToolkitDriverReplacesTheFoundationDriver) {
  EXPECT_NE(dynamic_cast<TFLGuiSystemDriver*>(&CurrentSystemDriver()), nullptr);
}

TEST_F(GadgetTest, XErrorsOfTheProgramsConnectionAreSeenByTheChecks) {
  // Guards the "no X errors" checks of every test: an error must reach them.
  XDestroyWindow(fl_display, 0x1fffff);
  XSync(fl_display, False);
  EXPECT_FALSE(ToolkitWarnings().empty());
  ToolkitWarnings().clear();
}

TEST_F(GadgetTest, ATimerTickWakesALoopBlockedInWaitUnderTheToolkitDriver) {
  // A time-out of the toolkit stands guard: if ticks never woke the wait, it
  // ends the wait with another event instead of hanging the test.
  Fl::add_timeout(10.0, EmitGuardEvent);
  TTimerRef timer = TTimer::Create(20.0f);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(TEventQueue::Wait(), TimerTick);
  EXPECT_EQ(TEventQueue::Current()->source, timer);
  timer->Stop();
  Fl::remove_timeout(EmitGuardEvent);
}

TEST_F(GadgetTest, ADialogWindowIsCentredOnTheWorkAreaAndNotResizable) {
  TGadgetRef desktop = Desktop();
  ASSERT_EQ(desktop->width, 1024);
  ASSERT_EQ(desktop->height, 768);
  TGadgetRef window = ShowWindow(u"Choose Username", 5, 5, 300, 70, kDialog);
  // Centred: the margins on either side differ by the odd pixel at most.
  const int left = window->xpos, right = desktop->width - (window->xpos + 300);
  const int top = window->ypos, bottom = desktop->height - (window->ypos + 70);
  EXPECT_LE(std::abs(left - right), 1);
  EXPECT_LE(std::abs(top - bottom), 1);
  EXPECT_EQ(window->ClientWidth(), 300);
  EXPECT_EQ(window->ClientHeight(), 70);
  int rx, ry;
  client.RootPosition(Xid(window), rx, ry);
  EXPECT_EQ(rx, window->xpos);
  EXPECT_EQ(ry, window->ypos);
  int minW, minH, maxW, maxH;
  ASSERT_TRUE(client.MinMaxHints(Xid(window), minW, minH, maxW, maxH));
  EXPECT_EQ(minW, 300);
  EXPECT_EQ(maxW, 300);
  EXPECT_EQ(minH, 70);
  EXPECT_EQ(maxH, 70);
  EXPECT_EQ(window->GetText(), u"Choose Username");
}

TEST_F(GadgetTest, ASizableWindowTellsTheWindowManagerItsMinimumSize) {
  TGadgetRef window = ShowWindow(u"room", 0, 0, 800, 600, kRoom);
  window->SetMinimumSize(800, 480);
  Settle();
  int minW, minH, maxW, maxH;
  ASSERT_TRUE(client.MinMaxHints(Xid(window), minW, minH, maxW, maxH));
  EXPECT_EQ(minW, 800);
  EXPECT_EQ(minH, 480);
  EXPECT_EQ(maxW, 0);  // no upper limit
}

TEST_F(GadgetTest, ResizingTheWindowLaysOutItsGadgetsByTheirEdgeModes) {
  TGadgetRef window = ShowWindow(u"room", 0, 0, 800, 600, kRoom);
  TGadgetRef button = MakeButton(u"Send", 500, 520, 90, 24, window, BTN_PUSH);
  button->SetLayout(EDGE_FLOAT, EDGE_FIXED, EDGE_FLOAT, EDGE_FIXED);
  TGadgetRef bar = MakePanel(10, 40, 290, 20, window, 0);
  bar->SetLayout(EDGE_FIXED, EDGE_SCALED, EDGE_FIXED, EDGE_FLOAT);
  TGadgetRef floating = MakeLabel(u"mid", 350, 100, 100, 20, window, 0);
  TGadgetRef log = MakeTextArea(210, 100, 380, 410, window, TXA_READONLY);
  log->SetLayout(EDGE_FIXED, EDGE_FIXED, EDGE_FIXED, EDGE_FIXED);
  TGadgetRef reshaped = MakeButton(u"shape", 0, 0, 10, 10, window, BTN_PUSH);
  reshaped->SetLayout(EDGE_SCALED, EDGE_SCALED, EDGE_FIXED, EDGE_FLOAT);
  reshaped->SetShape(100, 5, 200, 20);  // the new reference for later resizes

  client.Resize(Xid(window), 1000, 700);
  TEventRef sized = WaitEvent(WindowSize, window);
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(sized->x, 1000);
  EXPECT_EQ(sized->y, 700);
  EXPECT_EQ(window->ClientWidth(), 1000);

  // Each gadget keeps what its edge modes promise as the client grows from
  // 800 x 600 to 1000 x 700, and its widget is where the model says.
  auto right = [](const TGadgetRef& g) { return g->xpos + g->width; };
  auto bottom = [](const TGadgetRef& g) { return g->ypos + g->height; };
  // Fixed right and bottom: the distances to those edges and the size are kept.
  EXPECT_EQ(1000 - right(button), 800 - (500 + 90));
  EXPECT_EQ(700 - bottom(button), 600 - (520 + 24));
  EXPECT_EQ(button->width, 90);
  // Fixed left, scaled right: the right edge keeps its share of the width.
  EXPECT_EQ(bar->xpos, 10);
  EXPECT_EQ(right(bar) * 800, (10 + 290) * 1000);
  // Floating: the centre keeps its share, the size is kept.
  EXPECT_EQ((floating->xpos + 50) * 800, (350 + 50) * 1000);
  EXPECT_EQ(floating->width, 100);
  // All fixed: every distance to an edge is kept.
  EXPECT_EQ((std::vector<int>{log->xpos, log->ypos, 1000 - right(log), 700 - bottom(log)}),
            (std::vector<int>{210, 100, 800 - (210 + 380), 600 - (100 + 410)}));
  // Both edges scaled, from the reference SetShape set.
  EXPECT_EQ(reshaped->xpos * 800, 100 * 1000);
  EXPECT_EQ(right(reshaped) * 800, 300 * 1000);
  for (const TGadgetRef& g : {button, bar, floating, log, reshaped}) {
    Fl_Widget* widget = WidgetOf(g);
    EXPECT_EQ((std::vector<int>{widget->x(), widget->y(), widget->w(), widget->h()}),
              (std::vector<int>{g->xpos, g->ypos, g->width, g->height}));
  }

  client.Move(Xid(window), 3, 4);
  TEventRef moved = WaitEvent(WindowMove, window);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(moved->x, 3);
  EXPECT_EQ(moved->y, 4);
}

TEST_F(GadgetTest, TheCloseBoxReportsWindowCloseAndLeavesTheWindowOpen) {
  TGadgetRef window = ShowWindow(u"closable", 0, 0, 200, 100, kDialog);
  client.RequestClose(Xid(window));
  ASSERT_NE(WaitEvent(WindowClose, window), nullptr);
  Settle();
  EXPECT_TRUE(client.Viewable(Xid(window)));
  EXPECT_EQ(window->State() & STATE_HIDDEN, 0);
  client.RequestClose(Xid(window));
  WaitUntil([&] { return Count(WindowClose, window) == 2; }, 5000, [&] { Drain(); });
  EXPECT_EQ(Count(WindowClose, window), 2);
}

TEST_F(GadgetTest, AHiddenWindowStaysHiddenUntilShown) {
  TGadgetRef window = MakeWindow(u"later", 0, 0, 200, 100, nullptr, kDialog | WIN_HIDDEN);
  windows.push_back(window);
  EXPECT_EQ(window->State() & STATE_HIDDEN, STATE_HIDDEN);
  window->SetShow(1);
  XSync(fl_display, False);
  EXPECT_TRUE(client.WaitViewable(Xid(window), [&] { Drain(); }));
  EXPECT_EQ(window->State() & STATE_HIDDEN, 0);
}

TEST_F(GadgetTest, FocusComesAsWindowActivateAndIsNoneWhileAnotherClientHoldsIt) {
  TGadgetRef window = ShowWindow(u"focus", 0, 0, 300, 100, kDialog);
  TGadgetRef field = MakeTextField(10, 10, 200, 20, window, 0);
  field->Activate(ACT_FOCUS);
  client.Focus(Xid(window));
  ASSERT_NE(WaitEvent(WindowActivate, window), nullptr);
  EXPECT_EQ(ActiveGadget(), field);

  ASSERT_NE(client.OpenOwnWindowWithFocus(), 0u);
  WaitUntil([&] { return ActiveGadget() == nullptr; }, 5000);
  EXPECT_EQ(ActiveGadget(), nullptr);

  // Coming back to the front reports the activation again.
  events.clear();
  client.Focus(Xid(window));
  ASSERT_NE(WaitEvent(WindowActivate, window), nullptr);
  EXPECT_EQ(ActiveGadget(), field);
}

TEST_F(GadgetTest, ButtonsReportTheirStateAndRadioButtonsFormAGroup) {
  TGadgetRef window = ShowWindow(u"buttons", 0, 0, 400, 200, kDialog);
  TGadgetRef push = MakeButton(u"Save...", 10, 10, 90, 24, window, BTN_PUSH);
  TGadgetRef mute = MakeButton(u"Mute", 110, 10, 90, 24, window, BTN_CHECK | BTN_PUSHLIKE);
  TGadgetRef red = MakeButton(u"RED", 10, 50, 90, 24, window, BTN_RADIO | BTN_PUSHLIKE);
  TGadgetRef undecided = MakeButton(u"Undecided", 110, 50, 90, 24, window, BTN_RADIO | BTN_PUSHLIKE);
  TGadgetRef blue = MakeButton(u"BLUE", 210, 50, 90, 24, window, BTN_RADIO | BTN_PUSHLIKE);
  EXPECT_EQ(push->style, 8);
  undecided->SetSelected(1);
  EXPECT_EQ(ButtonValue(undecided), 1);

  ClickOn(push);
  TEventRef pushed = WaitEvent(GadgetAction, push);
  ASSERT_NE(pushed, nullptr);
  EXPECT_EQ(pushed->data, 0);

  ClickOn(mute);
  TEventRef toggled = WaitEvent(GadgetAction, mute);
  ASSERT_NE(toggled, nullptr);
  EXPECT_EQ(toggled->data & STATE_ON, STATE_ON);
  EXPECT_EQ(ButtonValue(mute), 1);

  ClickOn(red);
  ASSERT_NE(WaitEvent(GadgetAction, red), nullptr);
  EXPECT_EQ((std::vector<int>{ButtonValue(red), ButtonValue(undecided), ButtonValue(blue)}),
            (std::vector<int>{1, 0, 0}));
  // Clicking the radio button that is already on leaves it on and reports again.
  events.clear();
  ClickOn(red);
  TEventRef again = WaitEvent(GadgetAction, red);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->data & STATE_ON, STATE_ON);
  EXPECT_EQ(ButtonValue(red), 1);

  blue->SetSelected(STATE_ON);
  EXPECT_EQ((std::vector<int>{ButtonValue(red), ButtonValue(undecided), ButtonValue(blue)}),
            (std::vector<int>{0, 0, 1}));
  blue->SetEnabled(0);
  EXPECT_EQ(blue->State(), STATE_DISABLED | STATE_ON);
}

TEST_F(GadgetTest, ReturnAndEscapePressTheOkAndCancelButtons) {
  TGadgetRef window = ShowWindow(u"keys", 0, 0, 300, 80, kDialog);
  TGadgetRef field = MakeTextField(10, 10, 280, 20, window, 0);
  TGadgetRef ok = MakeButton(u"OK", 210, 40, 80, 24, window, BTN_OK);
  TGadgetRef cancel = MakeButton(u"Cancel", 10, 40, 80, 24, window, BTN_CANCEL);
  field->Activate(ACT_FOCUS);
  FocusWindow(window);
  client.Press(XK_Return);
  ASSERT_NE(WaitEvent(GadgetAction, ok), nullptr);
  EXPECT_EQ(Find(GadgetAction, cancel), nullptr);
  client.Press(XK_Escape);
  ASSERT_NE(WaitEvent(GadgetAction, cancel), nullptr);
  // Escape is a button's shortcut here, never a close request.
  EXPECT_EQ(Find(WindowClose, window), nullptr);
}

TEST_F(GadgetTest, TheKeyFilterSeesKeyDownThenKeyCharAndARejectedKeyReachesNothing) {
  TGadgetRef window = ShowWindow(u"filter", 0, 0, 300, 80, kDialog);
  TGadgetRef field = MakeTextField(10, 10, 280, 20, window, 0);
  TGadgetRef cancel = MakeButton(u"Cancel", 10, 40, 80, 24, window, BTN_CANCEL);
  auto log = std::make_shared<FilterLog>();
  log->reject = u"-\x1b";
  field->SetFilter(LoggingFilter, log);
  field->SetText(u"");
  field->Activate(ACT_FOCUS);
  FocusWindow(window);

  client.Type("a");
  ASSERT_NE(WaitEvent(GadgetAction, field), nullptr);
  EXPECT_EQ(field->GetText(), u"a");
  ASSERT_EQ(log->seen.size(), 2u);
  EXPECT_EQ(log->seen[0], std::make_pair(int32_t{KeyDown}, int32_t{'A'}));
  EXPECT_EQ(log->seen[1], std::make_pair(int32_t{KeyChar}, int32_t{'a'}));

  // A rejected hyphen reaches neither the field nor, as Escape, the button.
  events.clear();
  client.Type("-");
  client.Press(XK_Escape);
  client.Type("b");
  WaitUntil([&] { return field->GetText() == u"ab"; }, 5000, [&] { Drain(); });
  EXPECT_EQ(field->GetText(), u"ab");
  EXPECT_EQ(Find(GadgetAction, cancel), nullptr);
  EXPECT_EQ(CountKeyEvents(log->seen, KeyChar), 4);

  // The right Control key never reaches the filter or the widget.
  const size_t before = log->seen.size();
  client.Press(XK_Control_R);
  client.Type("c");
  WaitUntil([&] { return field->GetText() == u"abc"; }, 5000, [&] { Drain(); });
  ASSERT_EQ(log->seen.size(), before + 2);
  EXPECT_EQ(log->seen[before].second, 'C');
}

TEST_F(GadgetTest, ATextFieldReportsEditsAndLostFocusButNotSetText) {
  TGadgetRef window = ShowWindow(u"field", 0, 0, 300, 80, kDialog);
  TGadgetRef field = MakeTextField(10, 10, 280, 20, window, 0);
  TGadgetRef other = MakeTextField(10, 40, 280, 20, window, 0);
  field->SetText(u"Username");
  Settle();
  EXPECT_EQ(Find(GadgetAction, field), nullptr);
  auto* input = static_cast<Fl_Input*>(WidgetOf(field));
  EXPECT_EQ(input->position(), 0);
  EXPECT_EQ(input->mark(), 8);

  field->Activate(ACT_FOCUS);
  FocusWindow(window);
  field->SetText(u"Username");  // selects all: the next key replaces it
  client.Type("x");
  ASSERT_NE(WaitEvent(GadgetAction, field), nullptr);
  EXPECT_EQ(field->GetText(), u"x");

  other->Activate(ACT_FOCUS);
  EXPECT_NE(WaitEvent(GadgetLostFocus, field), nullptr);
}

TEST_F(GadgetTest, LabelsAndPanelsKeepAtSignsAndColoursFillThem) {
  TGadgetRef window = ShowWindow(u"labels", 0, 0, 300, 200, kDialog);
  TGadgetRef label = MakeLabel(u"mail@host", 10, 10, 200, 20, window, LBL_RIGHT);
  EXPECT_STREQ(WidgetOf(label)->label(), "mail@@host");
  EXPECT_EQ(label->GetText(), u"mail@host");
  EXPECT_EQ(WidgetOf(label)->align() & (FL_ALIGN_LEFT | FL_ALIGN_RIGHT), FL_ALIGN_RIGHT);
  EXPECT_EQ(WidgetOf(label)->box(), FL_NO_BOX);
  label->SetColor(0, 0, 0);
  // Palette entry 0 is the foreground colour, black only by chance.
  EXPECT_EQ(WidgetOf(label)->color(), FL_BLACK);
  EXPECT_EQ(WidgetOf(label)->box(), FL_FLAT_BOX);

  TGadgetRef separator = MakeLabel(u"", 10, 40, 200, 30, window, LBL_SEPARATOR);
  EXPECT_EQ(separator->height, 2);
  EXPECT_EQ(WidgetOf(separator)->h(), 2);

  TGadgetRef bar = MakePanel(10, 80, 100, 20, window, 0);
  bar->SetColor(255, 0, 0);
  EXPECT_EQ(WidgetOf(bar)->box(), FL_FLAT_BOX);
  EXPECT_TRUE(ShowsAs(WidgetOf(bar)->color(), 255, 0, 0));
  TGadgetRef light = MakePanel(120, 80, 10, 10, window, PNL_SUNKEN);
  light->SetColor(0, 255, 0);
  EXPECT_EQ(WidgetOf(light)->box(), FL_DOWN_BOX);

  TGadgetRef button = MakeButton(u"a@b", 10, 110, 80, 24, window, BTN_PUSH);
  EXPECT_STREQ(WidgetOf(button)->label(), "a@@b");
  EXPECT_EQ(button->GetText(), u"a@b");
  EXPECT_EQ(WidgetOf(button)->labelfont(), FL_HELVETICA);  // the default font
  EXPECT_EQ(WidgetOf(button)->labelsize(), 12);
}

TEST_F(GadgetTest, CleanUpFreesKidsAndWidgetsWithoutXErrors) {
  for (int round = 0; round < 3; ++round) {
    TGadgetRef window = ShowWindow(u"gone", 0, 0, 300, 200, kRoom);
    TGadgetRef panel = MakePanel(10, 10, 200, 100, window, PNL_TITLED, u"Group");
    TGadgetRef inner = MakeButton(u"in", 5, 5, 50, 20, panel, BTN_PUSH);
    MakeTextArea(10, 120, 200, 50, window, TXA_WORDWRAP);
    MakeListBox(220, 10, 70, 100, window, 0);
    EXPECT_EQ(inner->GetGroup(), panel);
    // A titled panel's kids sit in its client area, inside the frame and
    // below the title.
    EXPECT_GT(WidgetOf(inner)->x(), WidgetOf(panel)->x() + inner->xpos);
    EXPECT_GT(WidgetOf(inner)->y(), WidgetOf(panel)->y() + inner->ypos);
    EXPECT_TRUE(window->HasDescendant(inner.get()));
    window->CleanUp();
    windows.clear();
    EXPECT_TRUE(window->kids.empty());
    EXPECT_EQ(inner->GetGroup(), nullptr);
    EXPECT_EQ(WidgetOf(window), nullptr);
    inner->SetText(u"after clean-up");  // harmless on a freed gadget
    Settle();
  }
}

TEST_F(GadgetTest, OneOfEachKindLivesInOneWindow) {
  TGadgetRef window = ShowWindow(u"Colloquor gadgets", 0, 0, 520, 330, kRoom);
  TGadgetRef log = MakeTextArea(10, 40, 300, 150, window, TXA_WORDWRAP | TXA_READONLY);
  log->AddText(u"** Welcome to the gadget showcase\n");
  log->SetStyle(0, 0, 0, TXS_BOLD, 0, -1, TXU_CHARS);
  const int start = log->AreaLen(TXU_CHARS);
  log->AddText(u"A red line from a RED debater\n");
  log->SetStyle(255, 0, 0, 0, start, -1, TXU_CHARS);
  const int blue = log->AreaLen(TXU_CHARS);
  log->AddText(u"A blue line from a BLUE debater, long enough to wrap at the edge\n");
  log->SetStyle(0, 0, 255, 0, blue, -1, TXU_CHARS);
  TGadgetRef list = MakeListBox(320, 40, 190, 150, window, 0);
  list->SetColor(255, 191, 191);
  AppendItem(list, u"Debater1 [HOST]");
  AppendItem(list, u"mail@example [GUEST]");
  list->SelectItem(1, 1);
  TGadgetRef bar = MakePanel(10, 10, 250, 20, window, 0);
  bar->SetColor(255, 0, 0);
  TGadgetRef light = MakePanel(490, 300, 10, 10, window, PNL_SUNKEN);
  light->SetColor(0, 255, 0);
  MakePanel(270, 200, 240, 60, window, PNL_TITLED, u"Titled panel");
  MakeLabel(u"Connection: ", 380, 296, 100, 20, window, LBL_RIGHT);
  MakeLabel(u"Centred label", 270, 8, 240, 24, window, LBL_CENTRE | LBL_SUNKEN);
  MakeLabel(u"", 10, 196, 250, 2, window, LBL_SEPARATOR);
  TGadgetRef red = MakeButton(u"RED", 10, 205, 80, 24, window, BTN_RADIO | BTN_PUSHLIKE);
  red->SetTextColor(255, 0, 0);
  TGadgetRef undecided = MakeButton(u"Undecided", 95, 205, 80, 24, window, BTN_RADIO | BTN_PUSHLIKE);
  undecided->SetSelected(1);
  MakeButton(u"Mute", 180, 205, 80, 24, window, BTN_CHECK | BTN_PUSHLIKE);
  MakeButton(u"Check", 10, 235, 80, 24, window, BTN_CHECK);
  MakeButton(u"Round", 95, 235, 80, 24, window, BTN_RADIO);
  TGadgetRef field = MakeTextField(10, 270, 360, 20, window, 0);
  field->SetText(u"Typed text");
  MakeButton(u"Send", 380, 268, 60, 24, window, BTN_OK);
  MakeButton(u"Leave Room", 10, 298, 100, 24, window, BTN_CANCEL);
  MakeButton(u"Save...", 120, 298, 80, 24, window, BTN_PUSH);
  EXPECT_EQ(window->kids.size(), 17u);
  for (int kind : {GADGET_TEXTAREA, GADGET_LISTBOX, GADGET_PANEL, GADGET_LABEL, GADGET_BUTTON,
                   GADGET_TEXTFIELD}) {
    bool found = false;
    for (auto& kid : window->kids) found = found || kid->Class() == kind;
    EXPECT_TRUE(found) << kind;
  }
  Settle();
  // The picture is for people to look at; it never goes into the tree.
  if (const char* dir = std::getenv("COLLOQUOR_SCREENSHOT_DIR")) {
    for (int i = 0; i < 10; ++i) Fl::check();
    std::string command = std::string("import -window root ") + dir + "/gadgets.png";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
}
