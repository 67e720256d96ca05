// The gadget layer's pure rules, without a display.
#include <FL/Enumerations.H>
#include <gtest/gtest.h>

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
  EXPECT_EQ(OuterFromClient(0x20, client), client);
  EXPECT_EQ(OuterFromClient(0x20 | 0x4 | 0x8, client), (TRect{100, 75, 800, 647}));
  EXPECT_EQ(ClientFromOuter(0x20 | 0x4 | 0x8, TRect{100, 75, 800, 647}), client);
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

TEST(GadgetRules, WidgetChoicesFollowTheStyleWords) {
  EXPECT_EQ(ButtonKindFor(0).style, 8);
  EXPECT_EQ(ButtonKindFor(0).widget, TButtonWidget::Push);
  EXPECT_EQ(ButtonKindFor(4).widget, TButtonWidget::Return);
  EXPECT_EQ(ButtonKindFor(5).widget, TButtonWidget::Escape);
  EXPECT_EQ(ButtonKindFor(10).widget, TButtonWidget::Toggle);
  EXPECT_FALSE(ButtonKindFor(10).radio);
  EXPECT_TRUE(ButtonKindFor(11).radio);
  EXPECT_EQ(ButtonKindFor(11).align, 208);
  EXPECT_EQ(ButtonKindFor(3).widget, TButtonWidget::Round);
  EXPECT_EQ(ButtonKindFor(3).align, 212);
  EXPECT_EQ(ButtonKindFor(2).widget, TButtonWidget::Check);

  EXPECT_EQ(LabelAlign(0), 212);
  EXPECT_EQ(LabelAlign(8), 216);
  EXPECT_EQ(LabelAlign(16), 208);
  EXPECT_EQ(LabelAlign(0x18), 208);
  EXPECT_EQ((std::vector<int>{LabelBox(0, false), LabelBox(1, false), LabelBox(2, false),
                              LabelBox(3, false)}),
            (std::vector<int>{0, 14, 9, 13}));
  EXPECT_EQ((std::vector<int>{LabelBox(0, true), LabelBox(1, true), LabelBox(2, true),
                              LabelBox(3, true)}),
            (std::vector<int>{1, 14, 7, 11}));
  EXPECT_EQ((std::vector<int>{PanelBox(0, false), PanelBox(1, false), PanelBox(2, false)}),
            (std::vector<int>{0, 5, 4}));
  EXPECT_EQ((std::vector<int>{PanelBox(0, true), PanelBox(1, true), PanelBox(2, true)}),
            (std::vector<int>{1, 3, 2}));
}

TEST(GadgetRules, KeyTranslationForTheKeyFilter) {
  EXPECT_EQ(ProgramKeyCode('a'), 'A');
  EXPECT_EQ(ProgramKeyCode('7'), '7');
  EXPECT_EQ(ProgramKeyCode(FL_Enter), 13);
  EXPECT_EQ(ProgramKeyCode(FL_Escape), 27);
  EXPECT_EQ(ProgramKeyCode(FL_F + 1), 112);
  EXPECT_EQ(ProgramKeyCode(FL_Control_R), 163);
  EXPECT_EQ(ProgramKeyCode(0xfe03), 0);  // a key without a code
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
