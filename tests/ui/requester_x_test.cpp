// Message boxes and the file requester, answered with real keys. A dialog runs
// its own modal loop, so the answer is given from a toolkit time-out that
// fires inside that loop: it waits for the dialog to be on the screen, gives
// it the focus like a window manager and presses the key.
#include "tests/support/gadget_fixture.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_File_Browser.H>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ui/requester.h"

namespace {

struct Answer {
  Answer(TXClient* client, unsigned long keysym) : client(client), keysym(keysym) {}
  TXClient* client;
  unsigned long keysym;
  int tries = 0;
  bool pressed = false;
  std::function<void(Fl_Window*)> inspect;  // looks at the dialog before the key
  std::string typed;                          // typed before the key
};

Answer* currentAnswer = nullptr;

void AnswerDialog(void*) {
  Answer& answer = *currentAnswer;
  Fl_Window* dialog = Fl::modal();
  Window xid = dialog && dialog->shown() ? fl_xid(dialog) : 0;
  XSync(fl_display, False);
  if (!xid || !answer.client->Viewable(xid)) {
    // Bounded: after 10 s give up by hiding the dialog (its "cancel").
    if (++answer.tries < 1000) {
      Fl::repeat_timeout(0.01, AnswerDialog);
    } else if (dialog) {
      dialog->hide();
    }
    return;
  }
  if (answer.inspect) answer.inspect(dialog);
  answer.client->Focus(xid);
  answer.client->Type(answer.typed);
  answer.client->Press(answer.keysym);
  answer.pressed = true;
}

// Arms the answer for the next dialog; call right before opening it.
void AnswerWith(Answer& answer) {
  currentAnswer = &answer;
  Fl::add_timeout(0.01, AnswerDialog);
}

template <class W>
W* FindChild(Fl_Group* group, const std::function<bool(W*)>& match = nullptr) {
  for (int i = 0; i < group->children(); ++i) {
    Fl_Widget* child = group->child(i);
    if (auto* wanted = dynamic_cast<W*>(child))
      if (!match || match(wanted)) return wanted;
    if (Fl_Group* inner = child->as_group())
      if (W* found = FindChild<W>(inner, match)) return found;
  }
  return nullptr;
}

bool HasBoxLabelled(Fl_Window* dialog, const char* text) {
  return FindChild<Fl_Box>(dialog, [&](Fl_Box* box) {
           return box->label() && std::string(box->label()) == text;
         }) != nullptr;
}

}  // namespace

TEST_F(GadgetTest, NotifyShowsTheTextLiterallyWithTheRightIcon) {
  Answer plain{&client, XK_Escape};
  bool informationIcon = false, literal = false;
  plain.inspect = [&](Fl_Window* dialog) {
    informationIcon = HasBoxLabelled(dialog, "i");
    literal = HasBoxLabelled(dialog, "100%s done");
  };
  AnswerWith(plain);
  EXPECT_EQ(Notify(u"100%s done", 0), 0);
  EXPECT_TRUE(plain.pressed);
  EXPECT_TRUE(informationIcon);
  EXPECT_TRUE(literal);

  Answer serious{&client, XK_Return};
  bool alertIcon = false;
  std::string title, resName, resClass;
  serious.inspect = [&](Fl_Window* dialog) {
    alertIcon = HasBoxLabelled(dialog, "!");
    title = client.WindowName(fl_xid(dialog));
    client.ClassHint(fl_xid(dialog), resName, resClass);
  };
  AnswerWith(serious);
  EXPECT_EQ(Notify(u"#3 Could Not connect To server.", 1), 0);
  EXPECT_TRUE(serious.pressed);
  EXPECT_TRUE(alertIcon);
  // Regression: message boxes were titled "Unnamed Window" and the desktop
  // could not tell whose they were.
  EXPECT_EQ(title, "Colloquor");
  EXPECT_EQ(resName, "colloquor");
}

TEST_F(GadgetTest, ConfirmAndProceedAnswerEscapeAndReturn) {
  Answer escape{&client, XK_Escape};
  AnswerWith(escape);
  EXPECT_EQ(Confirm(u"Really?"), 0);
  EXPECT_TRUE(escape.pressed);

  Answer cancel{&client, XK_Escape};
  AnswerWith(cancel);
  EXPECT_EQ(Proceed(u"Save first?"), -1);
  EXPECT_TRUE(cancel.pressed);

  // Return takes the default, the second button listed: "Yes" and "No".
  Answer yes{&client, XK_Return};
  AnswerWith(yes);
  EXPECT_EQ(Confirm(u"Really?"), 1);
  Answer no{&client, XK_Return};
  AnswerWith(no);
  EXPECT_EQ(Proceed(u"Save first?"), 0);
}

TEST_F(GadgetTest, RequestFileOffersTheFilteredFilesAndCancelGivesEmpty) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("colloquor-chooser-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "log.txt") << "x";
  std::ofstream(dir / "other.log") << "x";

  Answer cancel{&client, XK_Escape};
  std::string caption;
  std::vector<std::string> offered;
  cancel.inspect = [&](Fl_Window* dialog) {
    caption = dialog->label() ? dialog->label() : "";
    Fl_File_Browser* files = FindChild<Fl_File_Browser>(dialog);
    // The chooser fills its list as it opens; wait (bounded) for it.
    for (int i = 0; files && files->size() == 0 && i < 500; ++i) Fl::check();
    for (int line = 1; files && line <= files->size(); ++line) offered.push_back(files->text(line));
  };
  AnswerWith(cancel);
  TString chosen = RequestFile(u"Save discussion log", u"Text Files:txt", 1,
                               FromBytes(dir.string() + "/"));
  EXPECT_TRUE(cancel.pressed);
  EXPECT_EQ(chosen, u"");
  EXPECT_EQ(caption, "Save discussion log");
  EXPECT_NE(std::find(offered.begin(), offered.end(), "log.txt"), offered.end());
  EXPECT_EQ(std::find(offered.begin(), offered.end(), "other.log"), offered.end());

  // Saving: a name typed into the chooser comes back as a path in its folder.
  Answer save{&client, XK_Return};
  save.typed = "saved.txt";
  AnswerWith(save);
  chosen = RequestFile(u"Save discussion log", u"Text Files:txt", 1, FromBytes(dir.string() + "/"));
  EXPECT_TRUE(save.pressed);
  EXPECT_EQ(fs::path(ToBytes(chosen)), dir / "saved.txt");
  fs::remove_all(dir);
}

namespace {

// Reads the byte and ends the dialog it is served in; counts where it ran.
int servedInDialog = 0;
void EndDialogOnReadable(int fd, void*) {
  char byte = 0;
  if (read(fd, &byte, 1) != 1 || !Fl::modal()) return;
  ++servedInDialog;
  Fl::modal()->hide();
}

}  // namespace

TEST_F(GadgetTest, WatchedDescriptorsAreServedInsideTheRequestersLoops) {
  // Regression: the network was served from the event queue only, so nothing
  // was read (and peers timed out) while a requester was open.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  WatchReadable(fds[0], EndDialogOnReadable, nullptr);
  // Late fallbacks: the toolkit looks at descriptors once the dialog's own
  // window events are handled.
  Answer fallback{&client, XK_Escape};
  currentAnswer = &fallback;
  for (auto dialog : {+[] { Notify(u"Saved."); },
                      +[] { RequestFile(u"Save discussion log", u"Text Files:txt", 1, u""); }}) {
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    Fl::add_timeout(5.0, AnswerDialog);
    dialog();
    Fl::remove_timeout(AnswerDialog);
  }
  UnwatchReadable(fds[0]);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(servedInDialog, 2);
  EXPECT_FALSE(fallback.pressed);
}
