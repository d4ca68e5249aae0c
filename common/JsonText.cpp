#include "JsonText.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "TextFormat.h"

namespace {

void Append(std::string* out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      *out += '{';
      const char* separator = "";
      for (const auto& item : value.items()) {
        *out += separator;
        Append(out, Json(item.key()));
        *out += ": ";
        Append(out, item.value());
        separator = ", ";
      }
      *out += '}';
      return;
    }
    case Json::value_t::array: {
      *out += '[';
      const char* separator = "";
      for (const Json& item : value) {
        *out += separator;
        Append(out, item);
        separator = ", ";
      }
      *out += ']';
      return;
    }
    case Json::value_t::number_float: {
      const double number = value.get<double>();
      const auto single = static_cast<float>(number);
      if (!std::isfinite(number)) {
        Append(out, Json(TextFormat::Float(single)));
      } else if (static_cast<double>(single) == number) {
        *out += TextFormat::Float(single);
      } else {
        *out += value.dump();
      }
      return;
    }
    default:
      *out += value.dump(-1, ' ', true, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string JsonText::Line(const Json& value) {
  std::string out;
  Append(&out, value);
  return out;
}
