// Text area and list box on a real X display.
#include "tests/support/gadget_fixture.h"

#include <FL/Fl_Browser.H>
#include <FL/Fl_Text_Display.H>
#include <X11/keysym.h>

#include "core/error.h"
#include "ui/fl_text.h"

namespace {

constexpr int kDialog = WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED;

class TextAreaTest : public GadgetTest {
 protected:
  TGadgetRef MakeArea(int style) {
    window = ShowWindow(u"area", 0, 0, 400, 300, kDialog);
    return MakeTextArea(10, 10, 380, 200, window, style);
  }
  static Fl_Text_Display* Display(const TGadgetRef& area) {
    return static_cast<Fl_Text_Display*>(WidgetOf(area));
  }
  // The style letters of the area's characters.
  static std::string Styles(const TGadgetRef& area) { return TextAreaStyleLetters(area.get()); }
  // The window row where character `pos` shows, or -1 when it is off screen.
  static int RowOf(const TGadgetRef& area, int pos) {
    int x, y;
    return Display(area)->position_to_xy(pos, &x, &y) ? y : -1;
  }
  static bool ShowsEnd(const TGadgetRef& area) { return RowOf(area, area->AreaLen(TXU_CHARS)) >= 0; }
  // Turns the mouse wheel over the area (button 4 up, 5 down) until `done`.
  template <class Done>
  void Wheel(const TGadgetRef& area, int button, Done done) {
    for (int i = 0; i < 50 && !done(); ++i) {
      ClickOn(area, 1, button);
      WaitUntil(done, 200, [&] { Drain(); });
    }
  }

  TGadgetRef window;
};

struct Entry : TObject {
  explicit Entry(std::string ip) : ip(std::move(ip)) {}
  std::string ip;
};

}  // namespace

TEST_F(TextAreaTest, ProgramAppendsNeverReportAnEditButTypingDoes) {
  TGadgetRef area = MakeArea(TXA_WORDWRAP);
  area->AddText(u"** Welcome\n");
  area->ReplaceText(0, 2, u"##", TXU_CHARS);
  area->SetText(u"fresh\n");
  area->AddText(u"");  // appends nothing: must not swallow the next user edit
  Settle();
  EXPECT_EQ(Find(GadgetAction, area), nullptr);
  EXPECT_EQ(area->GetText(), u"fresh\n");

  area->Activate(ACT_FOCUS);
  FocusWindow(window);
  client.Type("x");
  ASSERT_NE(WaitEvent(GadgetAction, area), nullptr);
  EXPECT_NE(WaitEvent(GadgetSelect, area), nullptr);
  EXPECT_EQ(area->AreaLen(TXU_CHARS), 7);
  EXPECT_EQ(Styles(area).size(), 7u);  // a style letter for every character
}

TEST_F(TextAreaTest, StylingColoursExactlyTheAppendedText) {
  TGadgetRef area = MakeArea(TXA_WORDWRAP | TXA_READONLY);
  EXPECT_EQ(Display(area)->box(), FL_THIN_DOWN_BOX);
  area->AddText(u"black ");
  const int start = area->AreaLen(TXU_CHARS);
  area->AddText(u"red");
  area->SetStyle(255, 0, 0, 0, start, -1, TXU_CHARS);
  EXPECT_EQ(Styles(area), "AAAAAABBB");
  // Bold black is a style of its own; the same values share one entry.
  area->SetStyle(0, 0, 0, TXS_BOLD, 0, 5, TXU_CHARS);
  area->SetStyle(0, 0, 0, TXS_BOLD, 0, 1, TXU_CHARS);
  EXPECT_EQ(Styles(area), "CCCCCABBB");
  // An empty range changes nothing and leaves the area unlocked.
  area->SetStyle(0, 0, 255, 0, area->AreaLen(TXU_CHARS), -1, TXU_CHARS);
  EXPECT_EQ(Styles(area), "CCCCCABBB");
  area->AddText(u"\nmore");
  EXPECT_EQ(Display(area)->insert_position(), area->AreaLen(TXU_CHARS));
  EXPECT_EQ(Styles(area), "CCCCCABBBAAAAA");
}

TEST_F(TextAreaTest, TheStyleTableFailsOnThe129thStyleAndStaysUnlocked) {
  TGadgetRef area = MakeArea(TXA_READONLY);
  area->AddText(u"text");
  // The default style (black) is the first of the 128 entries.
  for (int i = 1; i < 128; ++i) area->SetStyle(i, 0, 0, 0, 0, 1, TXU_CHARS);
  try {
    area->SetStyle(0, 200, 0, 0, 0, 1, TXU_CHARS);
    FAIL() << "a 129th style was accepted";
  } catch (const TRuntimeError& error) {
    EXPECT_STREQ(error.what(), "SetStyle failed");
  }
  area->SetStyle(5, 0, 0, 0, 1, 1, TXU_CHARS);  // an existing entry still works
  area->SetSelection(1, 2, TXU_CHARS);
  area->UnlockText();  // not locked: does nothing
  EXPECT_EQ(area->GetCursorPos(TXU_CHARS), 1);
  EXPECT_EQ(area->GetSelectionLength(TXU_CHARS), 2);
}

TEST_F(TextAreaTest, AppendingClearsTheUsersSelectionAndLockingKeepsIt) {
  TGadgetRef area = MakeArea(TXA_READONLY);
  area->AddText(u"line one\nline two\n");
  area->SetSelection(0, 4, TXU_CHARS);
  area->LockText();
  area->LockText();
  EXPECT_EQ(area->GetSelectionLength(TXU_CHARS), area->AreaLen(TXU_CHARS));
  area->UnlockText();
  area->UnlockText();
  EXPECT_EQ(area->GetCursorPos(TXU_CHARS), 0);
  EXPECT_EQ(area->GetSelectionLength(TXU_CHARS), 4);

  area->AddText(u"three");
  EXPECT_EQ(area->GetSelectionLength(TXU_CHARS), 0);
  EXPECT_EQ(area->GetCursorPos(TXU_CHARS), area->AreaLen(TXU_CHARS));
}

// A reader who scrolled back to read was pulled to the end by every new line.
TEST_F(TextAreaTest, AppendingFollowsTheEndUnlessAKeptViewWasScrolledBack) {
  for (int keepView : {0, int{TXA_KEEPVIEW}}) {
    SCOPED_TRACE(keepView);
    TGadgetRef area = MakeArea(TXA_WORDWRAP | TXA_READONLY | keepView);
    std::vector<int> lineStarts;
    auto addLines = [&](int count) {
      for (int i = 0; i < count; ++i) {
        lineStarts.push_back(area->AreaLen(TXU_CHARS));
        area->AddText(u"line " + DecimalText(static_cast<long long>(lineStarts.size())) + u"\n");
      }
      Settle();
    };
    addLines(60);
    EXPECT_TRUE(ShowsEnd(area));  // at the end, the view follows

    Wheel(area, 4, [&] { return RowOf(area, lineStarts[30]) >= 0; });
    ASSERT_FALSE(ShowsEnd(area));
    const int row = RowOf(area, lineStarts[30]);
    ASSERT_GE(row, 0);
    addLines(30);
    if (keepView) {
      EXPECT_EQ(RowOf(area, lineStarts[30]), row) << "the reader's line moved";
      EXPECT_FALSE(ShowsEnd(area));
      // Nor does the program's removal of lines above the view move it.
      area->ReplaceText(0, lineStarts[10], u"", TXU_CHARS);
      Settle();
      EXPECT_EQ(RowOf(area, lineStarts[30] - lineStarts[10]), row) << "moved by a removal";
      // Back at the end, new lines are followed again.
      Wheel(area, 5, [&] { return ShowsEnd(area); });
      addLines(5);
    }
    EXPECT_TRUE(ShowsEnd(area));
  }
}

TEST_F(TextAreaTest, RangesInCharactersAndLines) {
  TGadgetRef area = MakeArea(0);
  area->AddText(u"zero\none\ntwo\n");
  EXPECT_EQ(area->AreaLen(TXU_LINES), 3);
  EXPECT_EQ(area->AreaText(1, 1, TXU_LINES), u"one\n");
  EXPECT_EQ(area->AreaText(1, -1, TXU_LINES), u"one\ntwo\n");
  EXPECT_EQ(area->AreaText(5, 3, TXU_CHARS), u"one");
  EXPECT_EQ(area->AreaText(10, 100, TXU_CHARS), u"wo\n");
  EXPECT_EQ(area->AreaText(99, 1, TXU_CHARS), u"");
  EXPECT_EQ(area->AreaText(-1, 1, TXU_CHARS), u"");
  area->SetSelection(1, 1, TXU_LINES);
  EXPECT_EQ(area->GetCursorPos(TXU_LINES), 1);
  EXPECT_EQ(area->GetCursorPos(TXU_CHARS), 5);
  // Characters above 127 cross as single bytes and come back unchanged.
  area->SetText(u"caf\u00e9 \u00ff");
  area->SetStyle(0, 0, 255, TXS_ITALIC, 0, -1, TXU_CHARS);
  EXPECT_EQ(area->GetText(), u"caf\u00e9 \u00ff");
  EXPECT_EQ(area->AreaLen(TXU_CHARS), 6);
  Settle();
}

TEST_F(TextAreaTest, CopyPutsTheSelectionOnTheClipboard) {
  TGadgetRef area = MakeArea(TXA_READONLY);
  area->AddText(u"copy me please");
  area->Activate(ACT_COPY);  // nothing selected: nothing happens
  area->SetSelection(5, 2, TXU_CHARS);
  area->Activate(ACT_COPY);
  TGadgetRef field = MakeTextField(10, 220, 200, 20, window, 0);
  field->Activate(ACT_FOCUS);
  FocusWindow(window);
  client.Press(XK_v, false, true);  // Control+V pastes what the area copied
  WaitUntil([&] { return field->GetText() == u"me"; }, 5000, [&] { Drain(); });
  EXPECT_EQ(field->GetText(), u"me");
}

TEST_F(GadgetTest, AListBoxReportsSelectionsAndDoubleClicks) {
  TGadgetRef window = ShowWindow(u"rooms", 0, 0, 300, 300, kDialog);
  TGadgetRef list = MakeListBox(10, 10, 220, 200, window, 0);
  EXPECT_EQ(list->SelectedItem(), -1);
  auto first = std::make_shared<Entry>("10.0.0.1");
  auto second = std::make_shared<Entry>("10.0.0.2");
  AppendItem(list, u"@first", 0, -1, u"", first);
  AppendItem(list, u"second", 0, -1, u"", second);
  list->InsertItem(0, u"top", u"", -1, nullptr, 0);
  EXPECT_EQ(list->ItemCount(), 3);
  EXPECT_EQ(list->ItemText(1), u"@first");
  EXPECT_STREQ(static_cast<Fl_Browser*>(WidgetOf(list))->text(2), "@.@first");
  EXPECT_EQ(list->ItemExtra(2), second);
  EXPECT_EQ(list->ItemExtra(-1), nullptr);

  auto* browser = static_cast<Fl_Browser*>(WidgetOf(list));
  const int lineHeight = browser->textsize() + 2;
  auto clickLine = [&](int index, int count) {
    ClickOn(list, count, 1, 20, 4 + index * lineHeight + lineHeight / 2);
  };
  clickLine(2, 1);
  TEventRef selected = WaitEvent(GadgetSelect, list);
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(selected->data, 2);
  EXPECT_EQ(selected->extra, second);
  Settle();
  EXPECT_EQ(Find(GadgetAction, list), nullptr);

  // A later single click on the selected item (not part of a double click:
  // the pointer moves away and back first) reports nothing.
  client.MoveTo(0, 0);
  client.Click(1, 1);
  Settle();
  events.clear();
  clickLine(2, 1);
  Settle();
  EXPECT_TRUE(events.empty());

  events.clear();
  clickLine(1, 2);
  TEventRef action = WaitEvent(GadgetAction, list);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->data, 1);
  EXPECT_EQ(action->extra, first);
  EXPECT_EQ(Count(GadgetSelect, list), 1);
  EXPECT_EQ(list->SelectedItem(), 1);

  // The right button reports the menu request where it was released.
  events.clear();
  clickLine(0, 1 /* count */);
  WaitEvent(GadgetSelect, list);
  events.clear();
  ClickOn(list, 1, 3, 20, 4 + lineHeight / 2);
  TEventRef menu = WaitEvent(GadgetMenu, list);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->data, list->SelectedItem());
  EXPECT_EQ(menu->x, 20);

  list->SelectItem(1, 1);
  list->SelectItem(1, 0);
  EXPECT_EQ(list->SelectedItem(), -1);
  list->SelectItem(0, 2);
  EXPECT_EQ(list->SelectedItems(), std::vector<int>{0});
  list->Clear();
  EXPECT_EQ(list->ItemCount(), 0);
  EXPECT_EQ(browser->size(), 0);
  EXPECT_EQ(list->SelectedItem(), -1);
}

// Regression: Down in a list with nothing selected skipped its first row,
// and Tab went in the order the gadgets were made instead of the layout's.
TEST_F(GadgetTest, TabFollowsTheLayoutAndAListIsUsedWithArrowsAndReturn) {
  TGadgetRef window = ShowWindow(u"keys", 0, 0, 300, 300, kDialog);
  // Made out of reading order on purpose; the label takes no focus.
  TGadgetRef cancel = MakeButton(u"Cancel", 210, 266, 80, 24, window, BTN_CANCEL);
  TGadgetRef field = MakeTextField(10, 240, 190, 20, window, 0);
  TGadgetRef join = MakeButton(u"Join", 210, 10, 80, 24, window, BTN_OK);
  MakeLabel(u"note", 210, 40, 80, 20, window, 0);
  TGadgetRef list = MakeListBox(10, 10, 190, 200, window, 0);
  AppendItem(list, u"first");
  AppendItem(list, u"second");
  FocusWindow(window);
  list->Activate(ACT_FOCUS);
  auto press = [&](unsigned long key, bool shift = false) {
    TGadgetRef before = ActiveGadget();
    client.Press(key, shift);
    WaitUntil([&] { return ActiveGadget() != before; }, 2000, [&] { Drain(); });
    return ActiveGadget();
  };
  std::vector<TGadgetRef> visited;
  for (int i = 0; i < 4; ++i) visited.push_back(press(XK_Tab));
  EXPECT_EQ(visited, (std::vector<TGadgetRef>{join, field, cancel, list}));
  EXPECT_EQ(press(XK_Tab, true), cancel);
  EXPECT_EQ(press(XK_Tab), list);

  Settle();
  events.clear();
  const std::pair<unsigned long, int> steps[] = {{XK_Down, 0}, {XK_Down, 1}, {XK_Up, 0}};
  for (const auto& [key, row] : steps) {
    client.Press(key);
    TEventRef selected = WaitEvent(GadgetSelect, list);
    ASSERT_NE(selected, nullptr) << row;
    EXPECT_EQ(selected->data, row);
    events.clear();
  }
  client.Press(XK_Return);
  ASSERT_NE(WaitEvent(GadgetAction, join), nullptr);
  EXPECT_EQ(list->SelectedItem(), 0);
}

TEST_F(GadgetTest, ADisabledListBoxShowsItsItemsButReportsNothing) {
  TGadgetRef window = ShowWindow(u"sides", 0, 0, 300, 300, kDialog);
  TGadgetRef list = MakeListBox(10, 10, 190, 200, window, 0);
  list->SetColor(255, 191, 191);
  list->SetEnabled(0);
  AppendItem(list, u"Debater1 [HOST]");
  EXPECT_EQ(list->State() & STATE_DISABLED, STATE_DISABLED);
  ClickOn(list, 2, 1, 20, 10);
  Settle();
  EXPECT_EQ(Find(GadgetSelect, list), nullptr);
  EXPECT_EQ(Find(GadgetAction, list), nullptr);
  EXPECT_EQ(list->SelectedItem(), -1);
  EXPECT_TRUE(ShowsAs(WidgetOf(list)->color(), 255, 191, 191));
}
