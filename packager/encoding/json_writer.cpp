#include "encoding/json_writer.h"

#include "encoding/escaped_text.h"

void JsonWriter::BeginValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (has_members_.empty()) return;
  if (has_members_.back()) text_ += ',';
  has_members_.back() = true;
  text_ += '\n';
  text_.append(2 * has_members_.size(), ' ');
}

JsonWriter& JsonWriter::Open(char bracket) {
  BeginValue();
  text_ += bracket;
  has_members_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  const bool had_members = has_members_.back();
  has_members_.pop_back();
  if (had_members) {
    text_ += '\n';
    text_.append(2 * has_members_.size(), ' ');
  }
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::BeginObject() { return Open('{'); }
JsonWriter& JsonWriter::EndObject() { return Close('}'); }
JsonWriter& JsonWriter::BeginArray() { return Open('['); }
JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeginValue();
  text_ += '"' + EscapedText(key, EscapeContext::json) + "\": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view utf8) {
  BeginValue();
  text_ += '"' + EscapedText(utf8, EscapeContext::json) + '"';
  return *this;
}

JsonWriter& JsonWriter::String(std::u16string_view utf16) {
  BeginValue();
  text_ += '"' + EscapedText(utf16, EscapeContext::json) + '"';
  return *this;
}

JsonWriter& JsonWriter::Number(std::uint64_t value) {
  BeginValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Boolean(bool value) {
  BeginValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeginValue();
  text_ += "null";
  return *this;
}
