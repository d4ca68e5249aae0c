// JSON as qxhost writes it (its --json output, the validator's report and
// trace): nlohmann's document model, printed on one line with ", " and ": "
// between items, the layout that users' scripts already read. Floats print as
// the shortest text that reads back as the same float; infinities and NaN,
// which JSON lacks, as the strings "inf", "-inf" and "nan". Texts may hold any
// bytes (a module's output): what is not UTF-8 becomes U+FFFD, and everything
// beyond ASCII is escaped. Only the declarations are included here: a file
// that builds or reads a document includes <nlohmann/json.hpp> itself, so the
// many that only pass one along do not compile the library.
#ifndef COMMON_JSONTEXT_H
#define COMMON_JSONTEXT_H

#include <nlohmann/json_fwd.hpp>
#include <string>

// Keys keep the order in which they were set.
using Json = nlohmann::ordered_json;

class JsonText {
 public:
  static std::string Line(const Json& value);
};

#endif  // COMMON_JSONTEXT_H
