// The text prompt as a real modal dialog, typed into with real keys, and the
// program asking for the user name at start-up.
#include "tests/support/gadget_fixture.h"

#include <FL/Fl_Input.H>
#include <X11/keysym.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>

#include "app/prompt.h"
#include "tests/support/dialog_script.h"
#include "tests/support/fl_find.h"

extern char** environ;

namespace {

Fl_Input* FocusedInput() { return dynamic_cast<Fl_Input*>(Fl::focus()); }

class PromptTest : public GadgetTest {
 protected:
  // Steps that wait for the prompt, give it the focus and wait until its
  // field has it.
  Script::Step Focused() {
    return [this] {
      Fl_Window* prompt = FindShownWindow("Choose Username");
      XSync(fl_display, False);
      if (!prompt || !client.Viewable(fl_xid(prompt))) return false;
      promptXid = fl_xid(prompt);
      client.Focus(promptXid);
      return true;
    };
  }
  Script::Step FieldHasFocus() {
    return [] { return ActiveGadget() != nullptr && FocusedInput() != nullptr; };
  }
  Script::Step Do(std::function<void()> action) {
    return [action] {
      action();
      return true;
    };
  }
  static Script::Step FieldIs(const char* text) {
    return [text] { return FocusedInput() && std::string(FocusedInput()->value()) == text; };
  }
  Window promptXid = 0;
};

}  // namespace

TEST(NameCharFilter, PassesNameCharactersAndEditingKeysOnly) {
  auto typed = [](int32_t code) {
    TEvent event;
    event.id = KeyChar;
    event.data = code;
    return NameCharFilter(event);
  };
  const std::vector<int32_t> passed{'0', '9', 'A', 'Z', 'a', 'z', '_', 8, 13, 27, 127};
  const std::vector<int32_t> dropped{' ', '-', '.', '@', 0xe9, 9, '/', '[', '`', '{'};
  for (int32_t code : passed) EXPECT_EQ(typed(code), 1) << code;
  for (int32_t code : dropped) EXPECT_EQ(typed(code), 0) << code;
  TEvent down;
  down.id = KeyDown;
  down.data = ' ';
  EXPECT_EQ(NameCharFilter(down), 1);  // only typed characters are judged
}

TEST_F(PromptTest, ASixteenthCharacterIsCutAndSpacesAndHyphensAreRefused) {
  Script script({Focused(), FieldHasFocus(), FieldIs("Username"),
                 Do([&] { client.Type("abcdefghijklmno"); }), FieldIs("abcdefghijklmno"),
                 Do([&] { client.Type("p"); }),
                 // The loop cuts the field back to 15, typing on at the end.
                 [] { return FocusedInput()->size() == 15 && FocusedInput()->mark() == 15 &&
                             FocusedInput()->position() == 15; },
                 // Regression: a 17th key replaced the whole name.
                 Do([&] { client.Type("q"); }),
                 [] { return FocusedInput()->size() == 15 && FocusedInput()->position() == 15; },
                 Do([&] { client.Type(" -"); }), Do([&] { client.Press(XK_Return); })});
  EXPECT_EQ(PromptText(u"Choose Username", u"Username"), u"abcdefghijklmno");
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(FindShownWindow("Choose Username"), nullptr);  // freed on leaving
}

TEST_F(PromptTest, ReturnAcceptsTheTextAsItStands) {
  Script script({Focused(), FieldHasFocus(), Do([&] { client.Press(XK_Return); })});
  EXPECT_EQ(PromptText(u"Choose Username", u"Debater1s_Room"), u"Debater1s_Room");
  EXPECT_TRUE(script.finished());
}

TEST_F(PromptTest, EscapeCancels) {
  Script script({Focused(), FieldHasFocus(), Do([&] { client.Press(XK_Escape); })});
  EXPECT_EQ(PromptText(u"Choose Username", u"Username"), u"");
  EXPECT_TRUE(script.finished());
}

TEST_F(PromptTest, TheCloseBoxCancels) {
  Script script({Focused(), Do([&] { client.RequestClose(promptXid); })});
  EXPECT_EQ(PromptText(u"Choose Username", u"Username"), u"");
  EXPECT_TRUE(script.finished());
}

TEST_F(PromptTest, TheCancelButtonCancels) {
  Script script({Focused(), Do([&] {
                   Fl_Widget* cancel = FindLabelled(FindShownWindow("Choose Username"), "Cancel");
                   int x, y;
                   client.RootPosition(promptXid, x, y);
                   client.MoveTo(x + cancel->x() + cancel->w() / 2,
                                 y + cancel->y() + cancel->h() / 2);
                   client.Click();
                 })});
  EXPECT_EQ(PromptText(u"Choose Username", u"Username"), u"");
  EXPECT_TRUE(script.finished());
}

TEST_F(PromptTest, TheProgramEndsWithStatusZeroWhenNoNameIsGiven) {
  // Also guards against keys pressed as the prompt appears being handled
  // before its Cancel button and filter existed (Escape was lost).
  char* argv[] = {const_cast<char*>(COLLOQUOR_BINARY), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, COLLOQUOR_BINARY, nullptr, nullptr, argv, environ), 0);
  Window prompt = 0;
  WaitUntil([&] { return (prompt = client.FindWindowByName("Choose Username")) != 0; }, 10000);
  ASSERT_NE(prompt, 0u) << "the user-name prompt did not appear";
  // Centred on the screen.
  int x, y;
  client.RootPosition(prompt, x, y);
  XWindowAttributes shape;
  ASSERT_TRUE(XGetWindowAttributes(client.display(), prompt, &shape));
  EXPECT_NEAR(x + shape.width / 2.0, WidthOfScreen(shape.screen) / 2.0, 1.0);
  EXPECT_NEAR(y + shape.height / 2.0, HeightOfScreen(shape.screen) / 2.0, 1.0);
  client.Focus(prompt);
  client.Press(XK_Escape);
  int status = -1;
  bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended) << "the program kept running after the prompt was cancelled";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
