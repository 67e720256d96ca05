// The requesters, each handed to the current system driver.
#include "ui/requester.h"

#include "ui/event_queue.h"

int Notify(const TString& text, int serious) { return CurrentSystemDriver().Notify(text, serious); }
int Confirm(const TString& text, int serious) { return CurrentSystemDriver().Confirm(text, serious); }
int Proceed(const TString& text, int serious) { return CurrentSystemDriver().Proceed(text, serious); }
TString RequestFile(const TString& title, const TString& filter, int save, const TString& path) {
  return CurrentSystemDriver().RequestFile(title, filter, save, path);
}
