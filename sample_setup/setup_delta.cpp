#include "setup_delta.h"

#include <vector>

namespace {

constexpr char kMagic[] = "ZVDELTA1";
constexpr size_t kMagicSize = 8;
constexpr size_t kHeaderSize = kMagicSize + 6 * 8;
// Shorter matches cost more as a copy operation (17 bytes) than as literal bytes.
constexpr size_t kMinimumMatch = 24;
constexpr size_t kWindow = 8;
constexpr unsigned kTableBits = 20;

void PutNumber(std::string& out, uint64_t value) {
  for (int byte = 0; byte < 8; ++byte) out.push_back(static_cast<char>((value >> (8 * byte)) & 0xFF));
}

// Reads one number at position and advances it; false when fewer than eight bytes remain.
bool TakeNumber(const std::string& in, size_t& position, uint64_t& value) {
  if (in.size() - position < 8) return false;
  value = 0;
  for (int byte = 0; byte < 8; ++byte) {
    value |= static_cast<uint64_t>(static_cast<unsigned char>(in[position + byte])) << (8 * byte);
  }
  position += 8;
  return true;
}

uint32_t WindowSlot(const std::string& bytes, size_t position) {
  uint64_t value = 0;
  for (size_t index = 0; index < kWindow; ++index) {
    value = (value << 8) | static_cast<unsigned char>(bytes[position + index]);
  }
  return static_cast<uint32_t>((value * 0x9E3779B97F4A7C15ull) >> (64 - kTableBits));
}

size_t MatchLength(const std::string& old_program, size_t old_position, const std::string& new_program,
                   size_t new_position) {
  size_t length = 0;
  while (old_position + length < old_program.size() && new_position + length < new_program.size() &&
         old_program[old_position + length] == new_program[new_position + length]) {
    ++length;
  }
  return length;
}

void FlushLiteral(std::string& body, const std::string& new_program, size_t start, size_t end) {
  if (end == start) return;
  body.push_back('A');
  PutNumber(body, end - start);
  body.append(new_program, start, end - start);
}

}  // namespace

uint64_t DeltaHash(const std::string& bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

// Greedy matching: first the old position that continues the last copy (two builds of one program
// differ in place more often than they shift), then the last old position with the same eight bytes.
std::string MakeDelta(const std::string& old_program, const std::string& new_program) {
  std::vector<int64_t> last_position(size_t{1} << kTableBits, -1);
  if (old_program.size() >= kWindow) {
    for (size_t position = 0; position + kWindow <= old_program.size(); ++position) {
      last_position[WindowSlot(old_program, position)] = static_cast<int64_t>(position);
    }
  }

  std::string body;
  int64_t shift = 0;
  size_t literal_start = 0;
  size_t position = 0;
  while (position < new_program.size()) {
    size_t best_length = 0;
    size_t best_offset = 0;
    const int64_t continued = static_cast<int64_t>(position) + shift;
    if (continued >= 0 && static_cast<size_t>(continued) < old_program.size()) {
      best_length = MatchLength(old_program, static_cast<size_t>(continued), new_program, position);
      best_offset = static_cast<size_t>(continued);
    }
    if (best_length < kMinimumMatch && position + kWindow <= new_program.size()) {
      const int64_t candidate = last_position[WindowSlot(new_program, position)];
      if (candidate >= 0) {
        const size_t length = MatchLength(old_program, static_cast<size_t>(candidate), new_program, position);
        if (length > best_length) {
          best_length = length;
          best_offset = static_cast<size_t>(candidate);
        }
      }
    }
    if (best_length < kMinimumMatch) {
      ++position;
      continue;
    }
    FlushLiteral(body, new_program, literal_start, position);
    body.push_back('C');
    PutNumber(body, best_offset);
    PutNumber(body, best_length);
    shift = static_cast<int64_t>(best_offset) - static_cast<int64_t>(position);
    position += best_length;
    literal_start = position;
  }
  FlushLiteral(body, new_program, literal_start, new_program.size());

  std::string delta(kMagic, kMagicSize);
  PutNumber(delta, old_program.size());
  PutNumber(delta, DeltaHash(old_program));
  PutNumber(delta, new_program.size());
  PutNumber(delta, DeltaHash(new_program));
  PutNumber(delta, body.size());
  PutNumber(delta, DeltaHash(body));
  delta += body;
  return delta;
}

DeltaResult ApplyDelta(const std::string& old_program, const std::string& delta, std::string& new_program) {
  if (delta.size() < kHeaderSize || delta.compare(0, kMagicSize, kMagic, kMagicSize) != 0) {
    return DeltaResult::damaged;
  }
  size_t position = kMagicSize;
  uint64_t old_size = 0, old_hash = 0, new_size = 0, new_hash = 0, body_size = 0, body_hash = 0;
  static_cast<void>(TakeNumber(delta, position, old_size) && TakeNumber(delta, position, old_hash) &&
                    TakeNumber(delta, position, new_size) && TakeNumber(delta, position, new_hash) &&
                    TakeNumber(delta, position, body_size) && TakeNumber(delta, position, body_hash));
  // The body is checked first: a damaged delta must read as damaged even when its header names
  // another program by accident.
  if (body_size != delta.size() - kHeaderSize || DeltaHash(delta.substr(kHeaderSize)) != body_hash) {
    return DeltaResult::damaged;
  }
  if (old_size != old_program.size() || old_hash != DeltaHash(old_program)) {
    return DeltaResult::made_for_another_program;
  }

  // Nothing is reserved from the recorded size: a damaged size must not become a huge allocation.
  std::string result;
  while (position < delta.size()) {
    const char operation = delta[position++];
    uint64_t first = 0;
    if (!TakeNumber(delta, position, first)) return DeltaResult::damaged;
    if (operation == 'C') {
      uint64_t length = 0;
      if (!TakeNumber(delta, position, length)) return DeltaResult::damaged;
      if (first > old_program.size() || length > old_program.size() - first) return DeltaResult::damaged;
      if (length > new_size - result.size()) return DeltaResult::damaged;
      result.append(old_program, first, length);
    } else if (operation == 'A') {
      if (first > delta.size() - position || first > new_size - result.size()) return DeltaResult::damaged;
      result.append(delta, position, first);
      position += first;
    } else {
      return DeltaResult::damaged;
    }
  }
  if (result.size() != new_size || DeltaHash(result) != new_hash) return DeltaResult::damaged;
  new_program.swap(result);
  return DeltaResult::applied;
}
