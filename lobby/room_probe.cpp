#include "lobby/room_probe.h"

#include <vector>

#include "core/clock.h"

namespace {

constexpr size_t HEADER_BYTES = 12;
constexpr size_t MAX_LABEL_BYTES = 63;
constexpr size_t MAX_NAME_BYTES = 255;
constexpr uint16_t TYPE_SRV = 33;
constexpr uint16_t CLASS_IN = 1;
constexpr uint16_t FLAG_RESPONSE = 0x8000;
constexpr uint16_t OPCODE_MASK = 0x7800;
constexpr uint16_t RCODE_MASK = 0x000F;

void Put16(std::string& packet, uint16_t value) {
  packet += static_cast<char>(value >> 8);
  packet += static_cast<char>(value & 0xFF);
}

uint16_t Get16(const std::string& packet, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(packet[at]) << 8 |
                               static_cast<unsigned char>(packet[at + 1]));
}

std::vector<std::string> SplitLabels(const std::string& dotted) {
  std::vector<std::string> labels;
  size_t start = 0;
  for (;;) {
    size_t dot = dotted.find('.', start);
    labels.push_back(dotted.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (labels.size() > 1 && labels.back().empty()) labels.pop_back();  // a trailing dot
  return labels;
}

bool PutLabel(std::string& name, const std::string& label) {
  if (label.empty() || label.size() > MAX_LABEL_BYTES) return false;
  name += static_cast<char>(label.size());
  name += label;
  return true;
}

}  // namespace

std::string SrvQuery(uint16_t id, const std::string& instance, const std::string& type,
                     const std::string& domain) {
  if (domain.find('\\') != std::string::npos) return "";
  std::string name;
  if (!PutLabel(name, instance)) return "";
  for (const std::string* dotted : {&type, &domain})
    for (const std::string& label : SplitLabels(*dotted))
      if (!PutLabel(name, label)) return "";
  name += '\0';
  if (name.size() > MAX_NAME_BYTES) return "";

  std::string packet;
  Put16(packet, id);
  Put16(packet, 0);  // a standard query
  Put16(packet, 1);  // one question
  Put16(packet, 0);
  Put16(packet, 0);
  Put16(packet, 0);
  packet += name;
  Put16(packet, TYPE_SRV);
  Put16(packet, CLASS_IN);
  return packet;
}

bool AnswersQuery(const std::string& packet, uint16_t id) {
  if (packet.size() < HEADER_BYTES) return false;
  uint16_t flags = Get16(packet, 2);
  return Get16(packet, 0) == id && (flags & FLAG_RESPONSE) && (flags & OPCODE_MASK) == 0 &&
         (flags & RCODE_MASK) == 0 && Get16(packet, 6) > 0;
}

void TRoomLiveness::Answered(int32_t nowMs) {
  _answered = true;
  _lastAnswerMs = nowMs;
}

bool TRoomLiveness::Alive(int32_t nowMs, int32_t timeoutMs) const {
  // The clock wraps: add without signed overflow.
  auto deadline =
      static_cast<int32_t>(static_cast<uint32_t>(_lastAnswerMs) + static_cast<uint32_t>(timeoutMs));
  return !_answered || !ClockReached(nowMs, deadline);
}
