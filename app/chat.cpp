#include "app/chat.h"

#include <locale.h>

const TString HOST_LEAVING_NOTICE =
    u"\n\n** CONNECTION WITH HOST LOST \n** If this is due To a bad connection you may be able To "
    u"leave And re-enter room\n";
const TString NEW_TOPIC_TEXT = u"\n\n** NEW TOPIC **\n\n";
const TString ONE_USER_PER_CONNECTION = u"One username per connection only please.";

TString FormatTimestamp(const std::tm& local) {
  // Always the C locale's English month names, whatever the toolkit sets.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
  char time[32], date[32];
  strftime_l(time, sizeof time, "%H:%M:%S", &local, cLocale);
  strftime_l(date, sizeof date, "%d %b %Y", &local, cLocale);
  return u"** " + FromBytes(time) + u" - " + FromBytes(date);
}

TString Timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatTimestamp(local);
}

TString PrepareInput(const TString& fieldText) {
  return LeftUtf8Text(TrimText(fieldText), INPUT_LIMIT);
}

TString ChatLine(const TString& name, const TString& role, const TString& text) {
  return name + (role == u"HOST" ? u"*: " : u": ") + text;
}

TCommand ParseCommand(const TString& input) {
  TString body = input.substr(input.empty() || input[0] != u'/' ? 0 : 1);
  size_t space = body.find(u' ');
  if (space == TString::npos) return {LowerCase(body), TString()};
  return {LowerCase(body.substr(0, space)), body.substr(space + 1)};
}

bool SameUserName(const TString& a, const TString& b) { return LowerCase(a) == LowerCase(b); }

TString UserListLine(const std::vector<TListedUser>& users, const TString& stamp) {
  TString line = u"** USER LIST " + stamp;
  for (const auto& user : users) line += u", " + user.name + (user.role == u"HOST" ? u"*" : u"");
  return line + u"\n";
}

TString WelcomeText(const TString& name, const TString& gameName, const TString& stamp) {
  return u"** Welcome " + name + u" to " + gameName + u"\n" +
         u"** Please keep your discussions civil and enjoy yourself\n\n" +
         u"** Choose a side and start debating " + stamp + u"\n";
}

TString JoinedText(const TString& name, const TString& stamp) {
  return u"** " + name + u" has joined " + stamp + u"\n";
}

TString LeftText(const TString& name, const TString& stamp) {
  return u"** " + name + u" has left " + stamp + u"\n";
}

TString HostLostText(const TString& stamp) {
  return u"\n\n** CONNECTION WITH HOST LOST " + stamp +
         u"\n** If this is due to a bad connection you may be able to leave and re-enter room\n\n";
}

TString KickAttemptText(const TString& stamp) {
  return u"** Host attempted to kick you from server " + stamp + u"\n";
}

TString ExtensionRequest(const TString& name) {
  return u"** " + name + u" requests a time extension ";
}

TString TopicChangeRequest(const TString& name) {
  return u"** " + name + u" requests a topic change ";
}

TString TopicResultText(const TString& redPosition, const TString& bluePosition, int32_t reds,
                        int32_t blues, int32_t count) {
  return u"\n" + redPosition + u" - " + DecimalText(reds) + u"\nUndecided - " +
         DecimalText(count - reds - blues) + u"\n" + bluePosition + u" - " + DecimalText(blues) +
         u"\n\n** NEW TOPIC ";
}

TString CountdownText(int32_t seconds) {
  return LeftUtf8Text(u"New subject: " + DecimalText(seconds) + u"s", COUNTDOWN_LIMIT);
}

TString ReceivedMessageText(const TString& text, int32_t style, const TString& stamp) {
  bool stamped = style != -1 && style != 1 && (style & MSG_STAMP);
  return text + (stamped ? stamp : TString()) + u"\n";
}

TString RenamedName(const TString& name, int32_t lobbyTicks) { return name + DecimalText(lobbyTicks); }

TBarWidths BarWidths(int32_t clientWidth, int32_t reds, int32_t blues, int32_t count) {
  if (count <= 0) return {0, 0};  // the local participant is always counted
  float span = static_cast<float>(clientWidth - 20);
  return {static_cast<int32_t>(span * static_cast<float>(reds) / static_cast<float>(count)),
          static_cast<int32_t>(span * static_cast<float>(blues) / static_cast<float>(count))};
}
