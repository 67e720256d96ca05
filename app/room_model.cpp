#include "app/room_model.h"

const TString ROLE_HOST = u"HOST";
const TString ROLE_GUEST = u"GUEST";
const TString ROLE_DEV = u"DEV";

bool IsParticipantRole(const TString& role) {
  return role == ROLE_HOST || role == ROLE_DEV || role == ROLE_GUEST;
}

namespace {

const TTopic kTopics[TOPIC_COUNT] = {
    {u"Life in the city", u"Life in the countryside"},
    {u"Games can be art", u"Games can't be considered art"},
    {u"Religion is bad", u"Religion is good"},
    {u"Testing on animals is wrong", u"Testing on animals is necessary"},
    {u"Coca~Cola", u"Pepsi"},
    {u"Capital punishment is wrong", u"Capital punishment is necessary"},
    {u"Pirates", u"Ninjas"},
    {u"Windows PC", u"Mac OS X"},
    {u"Summer", u"Winter"},
    {u"Homework should be abolished", u"Homework is worth keeping"},
    {u"God does not exist", u"God does exist"},
    {u"Xbox", u"PlayStation"},
    {u"Nintendo", u"Sega"},
    {u"Reading books", u"Listening to music"},
    {u"Paper books", u"E-readers"},
    {u"Bing", u"Google"},
    {u"Zombies", u"Robots"},
    {u"Cats", u"Dogs"},
    {u"Android", u"iPhone"},
    {u"Predator", u"Alien"},
    {u"Star Wars", u"Star Trek"},
    {u"Working from home", u"Working in an office"},
    {u"Coffee", u"Tea"},
    {u"PC games", u"Console games"},
    {u"Soccer", u"American football"},
    {u"Boxer shorts", u"Briefs"},
    {u"Eating meat is wrong", u"Eating meat is fine"},
    {u"Communism", u"Capitalism"},
    {u"Pro abortion", u"Anti abortion"},
    {u"DC comics", u"Marvel comics"},
    {u"Early birds", u"Night owls"},
    {u"Retro graphics", u"3D graphics"},
    {u"Cinema", u"Television"},
    {u"Eating out", u"Home cooking"},
    {u"Nintendo DSi", u"Sony PSP go"},
};

}  // namespace

const TTopic& TopicAt(int index) { return kTopics[index]; }

int NextTopicIndex(int index) {
  ++index;
  return index > TOPIC_COUNT - 1 ? 0 : index;
}

void TRandom::Seed(int32_t value) {
  state_ = value & 0x7fffffff;
  if (state_ == 0 || state_ == 0x7fffffff) state_ = 0x1234;
}

int32_t TRandom::Step() {
  // Schrage's method: 2^31 - 1 = 48271 * 44488 + 3399, so nothing overflows.
  int32_t next = (state_ % 44488) * 48271 - (state_ / 44488) * 3399;
  if (next < 0) next += 0x7fffffff;
  state_ = next;
  return state_;
}

double TRandom::Real() {
  int32_t s1 = Step();
  int32_t s2 = Step();
  return ((s1 & 0x1ffffffc) + (s2 & 0x1ffffff8) / 134217728.0) / 536870912.0;
}

int32_t TRandom::Range(int32_t lo, int32_t hi) {
  int32_t d = hi - lo;
  if (d > 0) return lo + static_cast<int32_t>(Real() * (d + 1));
  return hi + static_cast<int32_t>(Real() * (1 - d));
}

TRandom& RoomRandom() {
  static TRandom random;
  return random;
}
