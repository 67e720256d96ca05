// What participants write into a room, as plain text rules: input trimming,
// chat lines, slash commands, every text the room writes into its discussion
// area and the side bars. No gadgets or network here.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "core/text.h"

// Caps in characters of the toolkit's UTF-8 (bytes); a cap never cuts a
// multi-byte character in half (LeftUtf8Text).
constexpr size_t INPUT_LIMIT = 256;
constexpr size_t COUNTDOWN_LIMIT = 20;

// Flags of a "MSG" message's style slot, when it is neither -1 nor 1.
constexpr int32_t MSG_LOCK = 2;
constexpr int32_t MSG_STAMP = 4;

// "** HH:MM:SS - DD Mon YYYY" for the given local time, C locale.
TString FormatTimestamp(const std::tm& local);
// The same for now.
TString Timestamp();

// Trimmed (codes 32 and below off both ends), then cut to at most 256
// characters, whole UTF-8 characters only.
TString PrepareInput(const TString& fieldText);

// name + "*: " + text for the host, name + ": " + text for everybody else.
TString ChatLine(const TString& name, const TString& role, const TString& text);

// A slash command: the text after "/" split at its first space. The command
// is lower-cased; the argument is everything after that space, unchanged.
struct TCommand {
  TString command;
  TString argument;
};
TCommand ParseCommand(const TString& input);

// Names compare case-insensitively in /kick and /ban.
bool SameUserName(const TString& a, const TString& b);

struct TListedUser {
  TString name;
  TString role;
};
// "** USER LIST " + stamp + ", name" per participant ("*" after the host's) + "\n".
TString UserListLine(const std::vector<TListedUser>& users, const TString& stamp);

// The texts of the discussion area.
TString WelcomeText(const TString& name, const TString& gameName, const TString& stamp);
TString JoinedText(const TString& name, const TString& stamp);
TString LeftText(const TString& name, const TString& stamp);
TString HostLostText(const TString& stamp);  // a guest's own notice
extern const TString HOST_LEAVING_NOTICE;   // what a leaving host sends
TString KickAttemptText(const TString& stamp);
TString ExtensionRequest(const TString& name);  // stamp added by receivers
TString TopicChangeRequest(const TString& name);
extern const TString NEW_TOPIC_TEXT;
extern const TString ONE_USER_PER_CONNECTION;

// The result of an ended topic, up to "** NEW TOPIC " (the stamp follows).
TString TopicResultText(const TString& redPosition, const TString& bluePosition, int32_t reds,
                        int32_t blues, int32_t count);

// The first 20 characters of "New subject: " + seconds + "s".
TString CountdownText(int32_t seconds);

// A received "MSG": its text, stamped when the style is a flag word with
// MSG_STAMP, and the line break.
TString ReceivedMessageText(const TString& text, int32_t style, const TString& stamp);

// The name a participant takes when an older participant has the same name.
TString RenamedName(const TString& name, int32_t lobbyTicks);

// Side bar widths in single precision, truncated toward zero.
struct TBarWidths {
  int32_t red;
  int32_t blue;
};
TBarWidths BarWidths(int32_t clientWidth, int32_t reds, int32_t blues, int32_t count);
