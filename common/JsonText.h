// JSON as qxhost writes it (its --json output, the validator's report and
// trace): nlohmann's document model, printed on one line with ", " and ": "
// between items, the layout that users' scripts already read. Floats print as
// the shortest text that reads back as the same float; infinities and NaN,
// which JSON lacks, as the strings "inf", "-inf" and "nan". Texts may hold any
// bytes (a module's output): what is not UTF-8 becomes U+FFFD, and everything
// beyond ASCII is escaped.
#ifndef COMMON_JSONTEXT_H
#define COMMON_JSONTEXT_H

#include <nlohmann/json.hpp>
#include <string>

// Keys keep the order in which they were set.
using Json = nlohmann::ordered_json;

class JsonText {
 public:
  static std::string Line(const Json& value);
};

#endif  // COMMON_JSONTEXT_H
