// JSON as qxhost writes it: valid whatever bytes a module's output holds, one
// line with the layout scripts read, floats as the shortest text that reads
// back.
#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "JsonText.h"

namespace {

TEST(JsonText, StringsStayValidForAnyBytes) {
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  const std::string json = JsonText::Line(Json(bytes));
  Json value;
  ASSERT_NO_THROW(value = Json::parse(json)) << json;
  EXPECT_EQ(value.get<std::string>().substr(0x1F, 0x60), bytes.substr(0x1F, 0x60))
      << "printable ASCII unchanged";
}

}  // namespace
