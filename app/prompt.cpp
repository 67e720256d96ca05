#include "app/prompt.h"

#include <optional>

#include "ui/event_loop.h"
#include "ui/gadget.h"
#include "ui/gui.h"

namespace {

constexpr size_t kMaxPromptLength = 15;

bool NameCharacter(int32_t code) {
  return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
         (code >= 'a' && code <= 'z') || code == '_';
}

// Keys that type nothing into the field but edit it or answer the dialog:
// without Escape the Cancel button's shortcut could never fire from the field,
// and without Delete the field could not be edited forward.
bool EditingCharacter(int32_t code) { return code == 8 || code == 13 || code == 27 || code == 127; }

}  // namespace

int NameCharFilter(const TEvent& event, const TObjectRef&) {
  if (event.id != KeyChar) return 1;
  return NameCharacter(event.data) || EditingCharacter(event.data) ? 1 : 0;
}

TString PromptText(const TString& title, const TString& initialText) {
  TGadgetRef window =
      MakeWindow(title, 0, 0, 300, 70, nullptr, WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED);
  if (!window) return {};
  TGadgetRef field = MakeTextField(10, 10, 280, 20, window, 0);
  field->SetText(initialText);
  TGadgetRef ok = MakeButton(u"OK", 210, 40, 80, 24, window, BTN_OK);
  TGadgetRef cancel = MakeButton(u"Cancel", 10, 40, 80, 24, window, BTN_CANCEL);
  field->SetFilter(NameCharFilter, nullptr);
  // Focusing polls the toolkit: keys already typed are handled then, so the
  // buttons and the filter must be in place first.
  field->Activate(ACT_FOCUS);

  // Every way out but OK answers "".
  TString result = RunEventLoop([&](const TEvent& event) -> std::optional<TString> {
    if (event.source == window && event.id == WindowClose) return TString();
    if (event.source == field) {
      CapTextField(field, kMaxPromptLength);
      return std::nullopt;
    }
    if (event.source == ok && event.id == GadgetAction) return field->GetText();
    if (event.source == cancel && event.id == GadgetAction) return TString();
    if (event.id == AppTerminate) return TString();
    return std::nullopt;
  });
  window->CleanUp();
  return result;
}

TProgressEnd WaitWithProgress(const TString& text, const TBackgroundTaskRef& task) {
  if (task->Done()) return PROGRESS_DONE;
  TGadgetRef window =
      MakeWindow(text, 0, 0, 300, 70, nullptr, WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED);
  if (!window) {
    // Nothing to cancel with: wait for the task's own event.
    return RunEventLoop([&](const TEvent&) -> std::optional<TProgressEnd> {
      if (task->Done()) return PROGRESS_DONE;
      return std::nullopt;
    });
  }
  MakeLabel(text, 10, 10, 280, 20, window, 0);
  TGadgetRef cancel = MakeButton(u"Cancel", 110, 40, 80, 24, window, BTN_CANCEL);
  TProgressEnd end = RunEventLoop([&](const TEvent& event) -> std::optional<TProgressEnd> {
    // Tested on every event: the task's own event is not the only sign.
    if (task->Done()) return PROGRESS_DONE;
    if (event.source == window && event.id == WindowClose) return PROGRESS_CANCELLED;
    if (event.source == cancel && event.id == GadgetAction) return PROGRESS_CANCELLED;
    if (event.id == AppTerminate) return PROGRESS_TERMINATE;
    return std::nullopt;
  });
  if (end != PROGRESS_DONE) task->Cancel();
  window->CleanUp();
  return end;
}
