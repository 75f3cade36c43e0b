#include "sim/json_fields.h"

#include <fstream>
#include <sstream>

namespace sim::json_fields {

bool ReadWholeFile(const std::string &path, std::string &text) {
  std::ifstream file(path);
  if (!file) return false;
  std::stringstream contents;
  contents << file.rdbuf();
  text = contents.str();
  return true;
}

void Fail(const std::string &field, const std::string &problem) {
  throw FieldError{field + ": " + problem};
}

uint64_t Number(const json &value, const std::string &field, uint64_t maximum) {
  uint64_t number = 0;
  if (value.is_number_unsigned()) {
    number = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) Fail(field, "must not be negative");
    number = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    if (text.size() < 3 || text.size() > 18 || (text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0)) {
      Fail(field, "a string number must be written 0x followed by hex digits");
    }
    // Hex digits only: stoull alone would also take a sign or leading blanks.
    if (text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      Fail(field, json(text).dump() + " is not a hex number");
    }
    number = std::stoull(text.substr(2), nullptr, 16);  // at most 16 digits: cannot overflow
  } else {
    Fail(field, "must be a number or a \"0x\" string");
  }
  if (number > maximum) {
    std::ostringstream message;
    message << "must be a number from 0 to " << maximum;
    Fail(field, message.str());
  }
  return number;
}

uint8_t Byte(const json &value, const std::string &field, uint64_t maximum) {
  return static_cast<uint8_t>(Number(value, field, maximum));
}

const std::string &Text(const json &value, const std::string &field) {
  if (!value.is_string() || value.get_ref<const std::string &>().empty()) {
    Fail(field, "must be a non-empty string");
  }
  return value.get_ref<const std::string &>();
}

const json &Member(const json &object, const char *key, const std::string &field) {
  auto found = object.find(key);
  if (found == object.end()) Fail(Keyed(field, key), "is missing");
  return *found;
}

void RequireObject(const json &value, const std::string &field) {
  if (!value.is_object()) Fail(field, "must be an object");
}

void RequireArray(const json &value, const std::string &field) {
  if (!value.is_array()) Fail(field, "must be an array");
}

namespace {

// A key as a message shows it: quoted and escaped when it is empty or holds control characters.
std::string KeyName(const std::string &key) {
  if (key.empty()) return "\"\"";
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return json(key).dump();
  }
  return key;
}

}  // namespace

void RejectUnknownKeys(const json &object, const std::string &field,
                       std::initializer_list<const char *> known) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool isKnown = false;
    for (const char *key : known) isKnown = isKnown || it.key() == key;
    if (!isKnown) Fail(Keyed(field, it.key()), "unknown field");
  }
}

std::string Indexed(const std::string &name, size_t index) {
  return name + "[" + std::to_string(index) + "]";
}

std::string Keyed(const std::string &field, const std::string &key) {
  return field.empty() ? KeyName(key) : field + "." + KeyName(key);
}

json Parse(const std::string &text) {
  try {
    return json::parse(text);
  } catch (const json::exception &problem) {
    // A syntax error, or a number too large for a double (out_of_range).
    throw FieldError{std::string("not valid JSON: ") + problem.what()};
  }
}

}  // namespace sim::json_fields
