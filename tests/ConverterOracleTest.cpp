// The validator's independent conversion, on the documented examples.
#include <gtest/gtest.h>

#include <limits>

#include "ConverterOracle.h"

namespace {

TEST(ConverterOracle, ComputesTheConversionsOfTheDocumentedExamples) {
  const struct {
    float voltage, vref, db;
  } pairs[] = {{10.0f, 1.0f, 20.0f}, {0.5f, 1.0f, -6.0205998f}, {1.0f, 1.0f, 0.0f}, {250.0f, 2.5f, 40.0f}};
  for (const auto& p : pairs) EXPECT_EQ(ConverterOracle::Db(p.voltage, p.vref), p.db) << p.voltage;
  EXPECT_EQ(ConverterOracle::Voltage(-6.0f, 1.0f), 0.50118721f);
  EXPECT_EQ(ConverterOracle::Voltage(0.0f, 2.5f), 2.5f);
  EXPECT_EQ(ConverterOracle::Voltage(40.0f, 1.0f), 100.0f);
  EXPECT_EQ(ConverterOracle::Db(0.0f, 1.0f), -std::numeric_limits<float>::infinity());
}

}  // namespace
