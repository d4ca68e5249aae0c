// A JSON value read back from the validator's reports and traces: a small
// strict reader, enough of JSON for checking their structure and values.
#ifndef TESTS_JSONVALUE_H
#define TESTS_JSONVALUE_H

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

class JsonValue {
 public:
  enum class Type { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT };

  // The whole text must be one value; false and `error` otherwise.
  static bool Parse(const std::string& text, JsonValue* value, std::string* error) {
    size_t at = 0;
    if (!value->Read(text, &at, error)) return false;
    SkipSpace(text, &at);
    if (at != text.size()) {
      *error = "text after the value at " + std::to_string(at);
      return false;
    }
    return true;
  }

  Type type = Type::NUL;
  bool boolean = false;
  double number = 0.0;
  std::string string;
  std::vector<JsonValue> array;
  std::vector<std::pair<std::string, JsonValue>> object;

  bool Has(const std::string& key) const {
    for (const auto& member : object) {
      if (member.first == key) return true;
    }
    return false;
  }
  // The member, or a null value.
  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue kNull;
    for (const auto& member : object) {
      if (member.first == key) return member.second;
    }
    return kNull;
  }
  const JsonValue& operator[](size_t index) const { return array.at(index); }

 private:
  static void SkipSpace(const std::string& t, size_t* at) {
    while (*at < t.size() && (t[*at] == ' ' || t[*at] == '\n' || t[*at] == '\r' || t[*at] == '\t')) ++*at;
  }

  static bool ReadString(const std::string& t, size_t* at, std::string* out, std::string* error) {
    ++*at;  // the opening quote
    while (*at < t.size() && t[*at] != '"') {
      char c = t[(*at)++];
      if (static_cast<unsigned char>(c) < 0x20) {
        *error = "control character in a string";
        return false;
      }
      if (c == '\\') {
        if (*at >= t.size()) break;
        const char e = t[(*at)++];
        if (e == 'u') {
          if (*at + 4 > t.size()) break;
          const long code = std::strtol(t.substr(*at, 4).c_str(), nullptr, 16);
          *at += 4;
          c = code < 0x80 ? static_cast<char>(code) : '?';
        } else {
          const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
          const size_t k = from.find(e);
          if (k == std::string::npos) {
            *error = "bad escape";
            return false;
          }
          c = to[k];
        }
      }
      *out += c;
    }
    if (*at >= t.size()) {
      *error = "unterminated string";
      return false;
    }
    ++*at;
    return true;
  }

  bool Read(const std::string& t, size_t* at, std::string* error) {
    SkipSpace(t, at);
    if (*at >= t.size()) {
      *error = "no value";
      return false;
    }
    const char c = t[*at];
    if (c == '{') {
      type = Type::OBJECT;
      ++*at;
      SkipSpace(t, at);
      if (*at < t.size() && t[*at] == '}') return ++*at, true;
      for (;;) {
        SkipSpace(t, at);
        std::string key;
        if (*at >= t.size() || t[*at] != '"' || !ReadString(t, at, &key, error)) {
          if (error->empty()) *error = "no key at " + std::to_string(*at);
          return false;
        }
        SkipSpace(t, at);
        if (*at >= t.size() || t[(*at)++] != ':') return *error = "no colon", false;
        JsonValue member;
        if (!member.Read(t, at, error)) return false;
        object.emplace_back(key, member);
        SkipSpace(t, at);
        if (*at < t.size() && t[*at] == ',') {
          ++*at;
        } else if (*at < t.size() && t[*at] == '}') {
          return ++*at, true;
        } else {
          return *error = "bad object at " + std::to_string(*at), false;
        }
      }
    }
    if (c == '[') {
      type = Type::ARRAY;
      ++*at;
      SkipSpace(t, at);
      if (*at < t.size() && t[*at] == ']') return ++*at, true;
      for (;;) {
        JsonValue element;
        if (!element.Read(t, at, error)) return false;
        array.push_back(element);
        SkipSpace(t, at);
        if (*at < t.size() && t[*at] == ',') {
          ++*at;
        } else if (*at < t.size() && t[*at] == ']') {
          return ++*at, true;
        } else {
          return *error = "bad array at " + std::to_string(*at), false;
        }
      }
    }
    if (c == '"') {
      type = Type::STRING;
      return ReadString(t, at, &string, error);
    }
    for (const char* word : {"true", "false", "null"}) {
      if (t.compare(*at, std::char_traits<char>::length(word), word) == 0) {
        type = word[0] == 'n' ? Type::NUL : Type::BOOL;
        boolean = word[0] == 't';
        *at += std::char_traits<char>::length(word);
        return true;
      }
    }
    char* end = nullptr;
    number = std::strtod(t.c_str() + *at, &end);
    if (end == t.c_str() + *at || c == '+' || c == '.' || (c != '-' && (c < '0' || c > '9'))) {
      *error = "no value at " + std::to_string(*at);
      return false;
    }
    type = Type::NUMBER;
    *at = static_cast<size_t>(end - t.c_str());
    return true;
  }
};

#endif  // TESTS_JSONVALUE_H
