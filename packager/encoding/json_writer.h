// A small writer of one JSON document (RFC 8259), indented two spaces a level so that a diff of two
// reports reads line by line. Strings are escaped by escaped_text.h: the quote, the backslash and
// every control character, and beside them every invisible or direction-changing character, so a
// JSON viewer cannot be spoofed by what a report quotes either. The caller keeps the nesting
// balanced; keys are the writer's own ASCII names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the innermost object.
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view utf8);
  JsonWriter& String(std::u16string_view utf16);
  JsonWriter& Number(std::uint64_t value);
  JsonWriter& Boolean(bool value);
  JsonWriter& Null();

  // The document, ending in a line break.
  std::string Text() const { return text_ + "\n"; }

 private:
  void BeginValue();
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);

  std::string text_;
  std::vector<bool> has_members_;  // per open object or array
  bool after_key_ = false;
};
