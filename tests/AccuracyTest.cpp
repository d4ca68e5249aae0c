// The conversions against a reference computed in extended precision, over
// inputs spread across the whole float range.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>

#include "GuiModule.h"

namespace {

static_assert(LDBL_MANT_DIG >= 64, "the reference needs extended precision");

// Floats in order as integers: adjacent floats differ by one.
int64_t Ordinal(float f) {
  int32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits < 0 ? -static_cast<int64_t>(bits & 0x7FFFFFFF) : bits;
}

// How many floats lie between `value` and the correctly rounded `exact`: its
// error in units of the last place.
int64_t UlpError(float value, long double exact) {
  const float nearest = static_cast<float>(exact);
  if (std::isnan(value) || std::isnan(nearest)) return INT64_MAX;
  return std::llabs(Ordinal(value) - Ordinal(nearest));
}

// A positive finite float with its bits drawn uniformly: every exponent equally likely.
float AnyPositiveFloat(std::mt19937& random) {
  for (;;) {
    const uint32_t bits = random() & 0x7FFFFFFFu;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(f) && f != 0.0f) return f;
  }
}

long double ExactDb(float voltage, float vref) {
  return 20.0L * std::log10(static_cast<long double>(voltage) / static_cast<long double>(vref));
}

long double ExactVoltage(float db, float vref) {
  return std::pow(10.0L, static_cast<long double>(db) / 20.0L) * static_cast<long double>(vref);
}

TEST(Accuracy, VoltageToDbWithinOneUlpAcrossTheFloatRange) {
  std::mt19937 random(20261208);
  int64_t worst = 0;
  for (int i = 0; i < 200000; ++i) {
    const float voltage = AnyPositiveFloat(random), vref = AnyPositiveFloat(random);
    const int64_t error = UlpError(GuiModule::VoltageToDb(voltage, vref), ExactDb(voltage, vref));
    ASSERT_LE(error, 1) << voltage << " V, Vref " << vref;
    worst = std::max(worst, error);
  }
  std::cout << "voltage to dB: largest error " << worst << " ulp\n";
}

TEST(Accuracy, DbToVoltageWithinOneUlpAcrossTheFloatRange) {
  std::mt19937 random(1208);
  std::uniform_real_distribution<float> level(-900.0f, 900.0f);  // beyond it every result is 0 or inf
  int64_t worst = 0;
  for (int i = 0; i < 200000; ++i) {
    const float db = i % 2 ? level(random) : (random() & 1 ? 1 : -1) * AnyPositiveFloat(random);
    const float vref = AnyPositiveFloat(random);
    const long double exact = ExactVoltage(db, vref);
    const float value = GuiModule::DbToVoltage(db, vref);
    const int64_t error = UlpError(value, exact);
    ASSERT_LE(error, 1) << db << " dB, Vref " << vref;
    worst = std::max(worst, error);
  }
  std::cout << "dB to voltage: largest error " << worst << " ulp\n";
}

TEST(Accuracy, QuotedValuesAreCorrectlyRounded) {
  const struct { float voltage, vref; } to_db[] = {{0.5f, 1.0f}, {10.0f, 1.0f}, {0.1f, 1.0f}, {2.5f, 2.5f}};
  for (const auto& c : to_db) {
    EXPECT_EQ(UlpError(GuiModule::VoltageToDb(c.voltage, c.vref), ExactDb(c.voltage, c.vref)), 0)
        << c.voltage;
  }
  const struct {
    float db, vref;
  } to_voltage[] = {{-6.0f, 1.0f}, {0.0f, 2.5f}, {40.0f, 1.0f}, {20.0f, 1.0f}, {-20.0f, 1.0f}};
  for (const auto& c : to_voltage) {
    EXPECT_EQ(UlpError(GuiModule::DbToVoltage(c.db, c.vref), ExactVoltage(c.db, c.vref)), 0) << c.db;
  }
  EXPECT_EQ(GuiModule::VoltageToDb(0.5f, 1.0f), -6.0205999f);
  EXPECT_EQ(GuiModule::DbToVoltage(-6.0f, 1.0f), 0.50118721f);
}

}  // namespace
