// Reading JSON files field by field, as the board-file reader does: every
// problem a message that names the field, e.g.
// "bridges[2].secondary: must be a number from 0 to 255". Numbers are JSON
// numbers or strings written "0x...".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>

namespace sim::json_fields {

using nlohmann::json;

// Thrown by the helpers; a reader catches it and hands its message on.
struct FieldError {
  std::string message;
};

[[noreturn]] void Fail(const std::string &field, const std::string &problem);

uint64_t Number(const json &value, const std::string &field, uint64_t maximum);
uint8_t Byte(const json &value, const std::string &field, uint64_t maximum = 0xFF);
const std::string &Text(const json &value, const std::string &field);

// The member KEY of OBJECT, which must be there.
const json &Member(const json &object, const char *key, const std::string &field);
void RequireObject(const json &value, const std::string &field);
void RequireArray(const json &value, const std::string &field);
// Every key of OBJECT must be one of KNOWN.
void RejectUnknownKeys(const json &object, const std::string &field,
                       std::initializer_list<const char *> known);

// False when the file cannot be opened.
bool ReadWholeFile(const std::string &path, std::string &text);

// "name[index]", and a key appended to a field as a message shows it.
std::string Indexed(const std::string &name, size_t index);
std::string Keyed(const std::string &field, const std::string &key);

// TEXT parsed, or a FieldError "not valid JSON: ...".
json Parse(const std::string &text);

// Reads the file at PATH whole and hands it to PARSE (text, result, error);
// every message then starts with the path, "PATH: cannot be read" when the
// file cannot be.
template <typename Result>
bool LoadFile(const std::string &path, Result &result, std::string &error,
              bool (*parse)(const std::string &, Result &, std::string &)) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  if (!parse(text, result, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace sim::json_fields
