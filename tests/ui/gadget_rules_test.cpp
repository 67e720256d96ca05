// The gadget layer's pure rules, without a display.
#include <FL/Enumerations.H>
#include <gtest/gtest.h>

#include <set>

#include "ui/gadget.h"
#include "ui/gadget_rules.h"

namespace {

TRect Layout(int l, int r, int t, int b, TRect at, int cw, int ch, int newCw, int newCh) {
  TLayoutLock lock{l, r, t, b, at.x, at.y, at.w, at.h, cw, ch};
  return LayoutRect(lock, newCw, newCh);
}

// A gadget without a widget: the model's own layout, as a parent resizes.
class ModelGadget : public TGadget {
 public:
  int Class() const override { return GADGET_PANEL; }
  void Repaint() override { ++repaints; }
  int repaints = 0;
};

std::shared_ptr<ModelGadget> Kid(const std::shared_ptr<ModelGadget>& parent, int x, int y, int w,
                                 int h) {
  auto kid = std::make_shared<ModelGadget>();
  kid->SetRect(x, y, w, h);
  kid->parent = parent;
  parent->kids.push_back(kid);
  kid->LockLayout();
  return kid;
}

}  // namespace

TEST(GadgetLayout, TheFourWrittenExamples) {
  // Right and bottom fixed: size and distances to the far edges kept.
  EXPECT_EQ(Layout(0, 1, 0, 1, {500, 520, 90, 24}, 800, 600, 1000, 700),
            (TRect{700, 620, 90, 24}));
  // Left fixed, right scaled: right edge at 1000 * 300 / 800 = 375.
  EXPECT_EQ(Layout(1, 2, 1, 0, {10, 40, 290, 20}, 800, 600, 1000, 700),
            (TRect{10, 40, 365, 20}));
  // All floating: the centre keeps its proportional place.
  EXPECT_EQ(Layout(0, 0, 0, 0, {350, 100, 100, 20}, 800, 600, 1000, 600).x, 450);
  // All fixed: stretches with the client.
  EXPECT_EQ(Layout(1, 1, 1, 1, {210, 100, 380, 410}, 800, 600, 1000, 700),
            (TRect{210, 100, 580, 510}));
}

TEST(GadgetLayout, IntegerArithmeticTruncatesInTheWrittenOrder) {
  // Scaled left: 801 * 10 / 800 = 10 (not 10.0125 rounded elsewhere).
  EXPECT_EQ(Layout(2, 2, 1, 1, {10, 0, 10, 10}, 800, 600, 801, 600), (TRect{10, 0, 10, 10}));
  // Floating centre with an odd width: lockw / 2 truncates on both uses.
  EXPECT_EQ(Layout(0, 0, 1, 1, {100, 0, 25, 10}, 200, 600, 300, 600).x, 156);  // 300*112/200-12
  // Scaled left with a floating right keeps the width.
  EXPECT_EQ(Layout(2, 0, 1, 1, {100, 0, 50, 10}, 400, 600, 200, 600), (TRect{50, 0, 50, 10}));
  // A zero reference client is taken as 1 instead of dividing by zero.
  EXPECT_EQ(Layout(2, 2, 1, 1, {0, 0, 1, 1}, 0, 0, 10, 10).w, 10);
}

TEST(GadgetLayout, ModelKidsFollowTheirParentAndSetShapeMovesTheReference) {
  auto parent = std::make_shared<ModelGadget>();
  parent->SetRect(0, 0, 800, 600);
  auto button = Kid(parent, 500, 520, 90, 24);
  button->SetLayout(EDGE_FLOAT, EDGE_FIXED, EDGE_FLOAT, EDGE_FIXED);
  EXPECT_EQ(button->lockcw, 800);
  auto bar = Kid(parent, 10, 40, 100, 20);
  bar->SetLayout(EDGE_FIXED, EDGE_SCALED, EDGE_FIXED, EDGE_FLOAT);
  bar->SetShape(10, 40, 290, 20);  // the new reference
  EXPECT_EQ(parent->repaints, 1) << "the area the kid left is drawn again";

  parent->SetArea(0, 0, 1000, 700);
  EXPECT_EQ((TRect{button->xpos, button->ypos, button->width, button->height}),
            (TRect{700, 620, 90, 24}));
  EXPECT_EQ((TRect{bar->xpos, bar->ypos, bar->width, bar->height}), (TRect{10, 40, 365, 20}));

  // A window never lays itself out inside its group, and sizes never go negative.
  bar->SetRect(0, 0, -5, -1);
  EXPECT_EQ(bar->width, 0);
  EXPECT_EQ(bar->height, 0);
}

TEST(GadgetRules, CentringTruncatesTowardZero) {
  int x, y;
  CentredPosition(0, 0, 1024, 768, 300, 70, x, y);
  EXPECT_EQ(x, 362);
  EXPECT_EQ(y, 349);
  CentredPosition(100, 50, 400, 300, 501, 301, x, y);  // larger than the group
  EXPECT_EQ(x, 100 + (-101) / 2);
  EXPECT_EQ(y, 50 + 0);
}

TEST(GadgetRules, WindowStripsLieOutsideTheClientRectangle) {
  const TRect client{100, 100, 800, 600};
  const struct {
    int style;
    int above, below;  // strip heights the window adds around the client area
  } cases[] = {
      {WIN_CLIENT_RECT, 0, 0},
      {WIN_CLIENT_RECT | WIN_MENUBAR, MENU_HEIGHT, 0},
      {WIN_CLIENT_RECT | WIN_STATUSBAR, 0, STATUSBAR_HEIGHT},
      {WIN_CLIENT_RECT | WIN_MENUBAR | WIN_STATUSBAR, MENU_HEIGHT, STATUSBAR_HEIGHT},
  };
  for (const auto& c : cases) {
    const TRect outer = OuterFromClient(c.style, client);
    EXPECT_EQ(client.y - outer.y, c.above) << c.style;
    EXPECT_EQ((outer.y + outer.h) - (client.y + client.h), c.below) << c.style;
    EXPECT_EQ((std::vector<int>{outer.x, outer.w}), (std::vector<int>{client.x, client.w}));
    EXPECT_EQ(ClientFromOuter(c.style, outer), client) << c.style;
  }
}

TEST(GadgetRules, FilterConversion) {
  EXPECT_EQ(FilterToPattern(u""), u"");
  EXPECT_EQ(FilterToPattern(u"Text Files:txt"), u"Text Files(*.{txt})");
  EXPECT_EQ(FilterToPattern(u"txt,log"), u"(*.{txt,log})");
  EXPECT_EQ(FilterToPattern(u"Text Files:txt;All Files:*"), u"Text Files(*.{txt})\tAll Files(*)");
}

TEST(GadgetRules, ColourMapping) {
  EXPECT_EQ(ToolkitColour(0, 0, 0), static_cast<uint32_t>(FL_BLACK));  // exact black
  EXPECT_EQ(ToolkitColour(0, 0, 1), 0x00000100u);                      // near black stays RGB
  EXPECT_EQ(ToolkitColour(255, 191, 191), 0xFFBFBF00u);
  EXPECT_EQ(ToolkitColour(256 + 255, -256, 0x1FF), 0xFF00FF00u);       // low 8 bits count
}

TEST(GadgetRules, SelectionColourContrastsWithTheBackground) {
  const uint32_t palette = FL_SELECTION_COLOR;
  // The toolkit's dark blue selection stands out on white.
  EXPECT_EQ(SelectionColour(255, 255, 255, palette, 0, 0, 128), palette);
  // On a dark blue background it does not: inverted instead.
  EXPECT_EQ(SelectionColour(0, 0, 100, palette, 0, 0, 128), ToolkitColour(255, 255, 155));
  // Mid-grey cannot be inverted usefully: each component moves by 128.
  EXPECT_EQ(SelectionColour(128, 128, 128, palette, 120, 120, 120), ToolkitColour(0, 0, 0));
  EXPECT_EQ(SelectionColour(120, 130, 128, palette, 120, 120, 120),
            ToolkitColour(248, 2, 0));
}

TEST(GadgetRules, AtSignsAreDoubledTowardTheToolkitAndUndoubledBack) {
  EXPECT_EQ(DoubleAtSigns("a@b@@c"), "a@@b@@@@c");
  EXPECT_EQ(UndoubleAtSigns("a@@b@@@@c"), "a@b@@c");
  EXPECT_EQ(UndoubleAtSigns(DoubleAtSigns("@")), "@");
  EXPECT_EQ(UndoubleAtSigns("@"), "@");
}

TEST(GadgetRules, ButtonStyleWordsChooseTheWidgetAndTheTextPlace) {
  const int framed = FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP;
  const struct {
    int style;
    TButtonWidget widget;
    bool radio;
    bool textLeft;  // beside a check mark or dot; otherwise centred on the button
  } cases[] = {
      {BTN_PUSH, TButtonWidget::Push, false, false},
      {BTN_OK, TButtonWidget::Return, false, false},
      {BTN_CANCEL, TButtonWidget::Escape, false, false},
      {BTN_CHECK, TButtonWidget::Check, false, true},
      {BTN_RADIO, TButtonWidget::Round, true, true},
      {BTN_CHECK | BTN_PUSHLIKE, TButtonWidget::Toggle, false, false},
      {BTN_RADIO | BTN_PUSHLIKE, TButtonWidget::Toggle, true, false},
  };
  for (const auto& c : cases) {
    const TButtonKind kind = ButtonKindFor(c.style);
    EXPECT_EQ(kind.widget, c.widget) << c.style;
    EXPECT_EQ(kind.radio, c.radio) << c.style;
    EXPECT_EQ((kind.align & FL_ALIGN_LEFT) != 0, c.textLeft) << c.style;
    EXPECT_EQ(kind.align & framed, framed) << c.style;
  }
  // A plain push button is stored as a push-like one.
  EXPECT_EQ(ButtonKindFor(BTN_PUSH).style, BTN_PUSHLIKE);
  EXPECT_EQ(ButtonKindFor(BTN_CHECK).style, BTN_CHECK);
}

TEST(GadgetRules, LabelTextSitsWhereTheStyleWordSays) {
  const int framed = FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP;
  const struct {
    int style;
    int side;  // FL_ALIGN_LEFT, FL_ALIGN_RIGHT, or 0 for centred
  } cases[] = {
      {LBL_LEFT, FL_ALIGN_LEFT},
      {LBL_RIGHT | LBL_SUNKEN, FL_ALIGN_RIGHT},
      {LBL_CENTRE, 0},
      {LBL_CENTRE | LBL_RIGHT, 0},  // both alignment bits: centred
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LabelAlign(c.style) & (FL_ALIGN_LEFT | FL_ALIGN_RIGHT), c.side) << c.style;
    EXPECT_EQ(LabelAlign(c.style) & framed, framed) << c.style;
  }
}

TEST(GadgetRules, AColourFillsALabelOrPanelAndKeepsItsFrame) {
  std::set<int> frames;
  for (auto boxOf : {LabelBox, PanelBox}) {
    for (int frameStyle = 0; frameStyle < 4; ++frameStyle) {
      const auto plain = static_cast<Fl_Boxtype>(boxOf(frameStyle, false));
      // The toolkit's filled version of the frame; nothing becomes a flat fill.
      const Fl_Boxtype filled = plain == FL_NO_BOX ? FL_FLAT_BOX : fl_box(plain);
      EXPECT_EQ(boxOf(frameStyle, true), filled) << frameStyle;
      frames.insert(plain);
    }
  }
  // Uncoloured, a frameless label or panel draws nothing; the frames all differ.
  EXPECT_EQ(LabelBox(LBL_LEFT, false), FL_NO_BOX);
  EXPECT_EQ(PanelBox(0, false), FL_NO_BOX);
  EXPECT_EQ(frames.size(), 7u);
}

TEST(GadgetRules, KeyTranslationForTheKeyFilter) {
  const struct {
    int toolkitKey;
    int programCode;  // 0: the key has no code
  } keys[] = {
      {'a', 'A'},       {'7', '7'},         {FL_Enter, 13},          {FL_KP_Enter, 13},
      {FL_Escape, 27},  {FL_F + 1, 112},    {FL_KP + '3', 99},       {FL_Control_R, 163},
      {0xfe03, 0},
  };
  for (const auto& k : keys) EXPECT_EQ(ProgramKeyCode(k.toolkitKey), k.programCode) << k.toolkitKey;
  EXPECT_EQ(ProgramModifiers(FL_SHIFT | FL_CTRL), 3);
  EXPECT_EQ(TypedCharacters("", FL_Tab), std::vector<int>{'\t'});
  EXPECT_EQ(TypedCharacters("", FL_Left), std::vector<int>{});
  EXPECT_EQ(TypedCharacters("\xc3\xa9", 0xe9), (std::vector<int>{0xc3, 0xa9}));
}

TEST(GadgetRules, TheStyleTableHolds128EntriesFoundByValue) {
  TStyleTable table;
  EXPECT_EQ(table.FindOrAdd({1, 0, 12}), 0);
  EXPECT_EQ(table.FindOrAdd({2, 1, 12}), 1);
  EXPECT_EQ(table.FindOrAdd({1, 0, 12}), 0);  // same colour, font and size share
  for (uint32_t c = 3; table.Count() < TStyleTable::kMaxEntries; ++c) table.FindOrAdd({c, 0, 12});
  EXPECT_EQ(table.FindOrAdd({9999, 0, 12}), -1);
  EXPECT_EQ(table.FindOrAdd({2, 1, 12}), 1);  // existing entries still found
  EXPECT_EQ(StyledFont(FL_HELVETICA, TXS_BOLD), FL_HELVETICA_BOLD);
  EXPECT_EQ(StyledFont(FL_COURIER, TXS_BOLD | TXS_ITALIC), FL_COURIER_BOLD_ITALIC);
  EXPECT_EQ(StyledFont(FL_SYMBOL, TXS_BOLD), FL_SYMBOL);  // no bold member: the font itself
}
