// The converter's GUI side driven through its record by the reference host,
// the way the real host drives it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "GuiHost.h"
#include "GuiModule.h"
#include "HostCallbackRecorder.h"
#include "ParamName.h"

namespace {

constexpr int32_t V = GuiModule::PIN_VOLTAGE, REF = GuiModule::PIN_VREF, DB = GuiModule::PIN_DB;
const float INF = std::numeric_limits<float>::infinity();

// A host with the three pins and one converter instance attached.
struct Session {
  explicit Session(float vref, GuiHost::Echo echo = GuiHost::Echo::NONE) : host(3, echo) {
    host.SetFloat(REF, vref);
    host.Attach((new GuiModule(&GuiHost::Callback, host.HostData()))->GuiStruct());
  }
  ~Session() {
    if (host.Record() != nullptr) host.Close();
  }
  // Writes the instance made since the log was last cleared, as (pin, value).
  std::vector<std::pair<int32_t, float>> Writes() const {
    std::vector<std::pair<int32_t, float>> writes;
    for (const HostCall& c : host.Calls(GUIHOST_OP_WRITE_PIN_VALUE)) writes.emplace_back(c.index, c.opt);
    return writes;
  }
  GuiHost host;
};

using Writes = std::vector<std::pair<int32_t, float>>;

TEST(GuiModule, ConstructionReadsVrefOnceWithItsOwnRecord) {
  GuiHost host(3);
  host.SetFloat(REF, 2.0f);
  auto* module = new GuiModule(&GuiHost::Callback, host.HostData());
  host.Attach(module->GuiStruct());
  ASSERT_EQ(host.Log().size(), 1u);
  EXPECT_EQ(host.Log()[0].record, module->GuiStruct());
  EXPECT_EQ(host.Log()[0].opcode, GUIHOST_OP_READ_PIN_VALUE);
  EXPECT_EQ(host.Log()[0].index, REF);
  EXPECT_EQ(host.Close(), 1);
}

TEST(GuiModule, ReportFromInsideTheConstructorsReadIsIgnored) {
  // The instance is built over storage holding 0x00 or 0x01, as a heap may
  // leave it, and the host reports a pin from inside the read of "Vref".
  for (const int fill : {0x00, 0x01}) {
    for (const int32_t reported : {V, REF, DB, 3}) {
      HostCallbackRecorder host;
      bool reentered = false;
      host.answer = [&](int32_t opcode, int32_t index, int32_t, void* ptr) -> QXWord {
        if (opcode != GUIHOST_OP_READ_PIN_VALUE) return 0;
        auto* record = static_cast<QXGuiStruct*>(const_cast<void*>(host.calls.back().record));
        if (!reentered) {
          reentered = true;
          record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, reported, 0, nullptr, 0.0f);
        }
        const float value = index == REF ? 1.0f : 10.0f;
        std::memcpy(ptr, &value, sizeof value);
        return 0;
      };
      alignas(GuiModule) unsigned char storage[sizeof(GuiModule)];
      std::memset(storage, fill, sizeof storage);
      auto* module = new (storage) GuiModule(&HostCallbackRecorder::Callback, 0);
      ASSERT_TRUE(reentered);
      ASSERT_EQ(host.calls.size(), 1u) << "fill " << fill << ", pin " << reported;
      EXPECT_EQ(host.calls[0].index, REF);

      // The guard is clear again: an edit of "Voltage" to 10 gives 20 dB.
      host.calls.clear();
      QXGuiStruct* record = module->GuiStruct();
      record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, V, 0, nullptr, 0.0f);
      ASSERT_EQ(host.calls.size(), 2u);
      EXPECT_EQ(host.calls[1].opcode, GUIHOST_OP_WRITE_PIN_VALUE);
      EXPECT_EQ(host.calls[1].index, DB);
      EXPECT_EQ(host.calls[1].opt, 20.0f);
      module->~GuiModule();
    }
  }
}

TEST(GuiModule, ReportFromInsideAnEditsReadIsIgnored) {
  // The host reports "dB" from inside the read that an edit of "Voltage"
  // makes: the guard is already up, so the edit stays one read and one write.
  HostCallbackRecorder host;
  bool report = false;
  host.answer = [&](int32_t opcode, int32_t index, int32_t, void* ptr) -> QXWord {
    if (opcode != GUIHOST_OP_READ_PIN_VALUE) return 0;
    auto* record = static_cast<QXGuiStruct*>(const_cast<void*>(host.calls.back().record));
    if (report) {
      report = false;
      record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, DB, 0, nullptr, 0.0f);
    }
    const float value = index == REF ? 1.0f : 10.0f;
    std::memcpy(ptr, &value, sizeof value);
    return 0;
  };
  auto* module = new GuiModule(&HostCallbackRecorder::Callback, 0);
  QXGuiStruct* record = module->GuiStruct();
  host.calls.clear();
  report = true;
  record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, V, 0, nullptr, 0.0f);
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[0].opcode, GUIHOST_OP_READ_PIN_VALUE);
  EXPECT_EQ(host.calls[0].index, V);
  EXPECT_EQ(host.calls[1].opcode, GUIHOST_OP_WRITE_PIN_VALUE);
  EXPECT_EQ(host.calls[1].index, DB);
  EXPECT_EQ(host.calls[1].opt, 20.0f);
  EXPECT_EQ(record->dispatch_entry(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(GuiModule, EditReadsThePinThenWritesTheOtherOnly) {
  Session s(1.0f);
  s.host.ClearLog();
  s.host.EditFloat(V, 10.0f);
  ASSERT_EQ(s.host.Log().size(), 2u);
  EXPECT_EQ(s.host.Log()[0].opcode, GUIHOST_OP_READ_PIN_VALUE);
  EXPECT_EQ(s.host.Log()[0].index, V);
  EXPECT_EQ(s.host.Log()[1].opcode, GUIHOST_OP_WRITE_PIN_VALUE);
  EXPECT_EQ(s.host.Log()[1].index, DB);
  EXPECT_EQ(s.host.Log()[1].value, 0);
  EXPECT_EQ(s.host.Log()[1].ptr, nullptr);
  EXPECT_EQ(s.host.Float(DB), 20.0f);
}

struct Conversion {
  const char* name;
  float vref;
  int32_t pin;  // the edited pin
  float edit;
  int32_t written_pin;
  float expected;  // NaN: expect NaN
};

class GuiModuleConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(GuiModuleConversion, WritesTheComputedPin) {
  const Conversion& c = GetParam();
  Session s(c.vref);
  s.host.ClearLog();
  s.host.EditFloat(c.pin, c.edit);
  const Writes writes = s.Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].first, c.written_pin);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(writes[0].second)) << writes[0].second;
  } else {
    EXPECT_EQ(writes[0].second, c.expected);
  }
}

const float QNAN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Numbers, GuiModuleConversion,
    ::testing::Values(
        Conversion{"TenTimesVrefIs20dB", 1.0f, V, 10.0f, DB, 20.0f},
        Conversion{"ATenthIsMinus20dB", 1.0f, V, 0.1f, DB, -20.0f},
        Conversion{"VrefItselfIs0dB", 2.5f, V, 2.5f, DB, 0.0f},
        Conversion{"HalfIsNearestFloatTo20Log10Half", 1.0f, V, 0.5f, DB, -6.0205999f},
        Conversion{"ZeroDbGivesVref", 2.5f, DB, 0.0f, V, 2.5f},
        Conversion{"FortyDbIsAHundredTimesVref", 0.25f, DB, 40.0f, V, 25.0f},
        Conversion{"MinusSixDb", 1.0f, DB, -6.0f, V, 0.50118721f},
        Conversion{"ZeroVoltIsMinusInfinity", 1.0f, V, 0.0f, DB, -INF},
        Conversion{"NegativeVoltIsNaN", 1.0f, V, -1.0f, DB, QNAN},
        Conversion{"VrefZeroPositiveVoltIsInfinity", 0.0f, V, 3.0f, DB, INF},
        Conversion{"VrefZeroNegativeVoltIsNaN", 0.0f, V, -3.0f, DB, QNAN},
        Conversion{"VrefZeroZeroVoltIsNaN", 0.0f, V, 0.0f, DB, QNAN},
        Conversion{"OppositeSignsAreNaN", -1.0f, V, 2.0f, DB, QNAN},
        Conversion{"HugeDbOverflowsToInfinity", 1.0f, DB, 1000.0f, V, INF},
        Conversion{"HugeDbNegativeVrefIsMinusInfinity", -1.0f, DB, 1000.0f, V, -INF},
        Conversion{"VeryNegativeDbIsZero", 1.0f, DB, -1000.0f, V, 0.0f},
        Conversion{"VrefZeroInDbDirectionIsZero", 0.0f, DB, 10.0f, V, 0.0f},
        Conversion{"VrefZeroWithInfinitePowerIsNaN", 0.0f, DB, 1.0e30f, V, QNAN},
        Conversion{"NaNPropagates", 1.0f, V, QNAN, DB, QNAN},
        // Bit-exact where the specified sequence (double quotient, double
        // log10 or pow, double product, one rounding when stored) and a
        // plausible other one differ; each expectation is the float nearest
        // the exact value, computed apart. The other sequence named gives:
        // the quotient in single precision -1.95630741,
        Conversion{"QuotientInDoubleNotSingle", 31.3719997f, V, 25.0453339f, DB, -1.95630753f},
        // a difference of two logarithms 1.3176159e-06 and 6.91335401e-07,
        Conversion{"QuotientNotLogDifference", 2.55020464e32f, V, 2.55020503e32f, DB, 1.31761601e-06f},
        Conversion{"QuotientNotLogDifferenceNearVref", 47.9275856f, V, 47.9275894f, DB, 6.91335458e-07f},
        // a multiplication by the reciprocal of "Vref" -9.64327423e-16,
        Conversion{"QuotientNotReciprocalProduct", 10.1792879f, V, 10.1792879f, DB, 0.0f},
        // the logarithm rounded to single precision before the product 56.6896896,
        Conversion{"ProductOfTheDoubleLogarithm", 96.2581177f, V, 65753.9766f, DB, 56.6896935f},
        // the power rounded to single precision before the product 117.628746,
        Conversion{"ProductOfTheDoublePower", 97.2072983f, DB, 1.65629244f, V, 117.628754f},
        // the exponent rounded to single precision 0.0519411527.
        Conversion{"ExponentInDouble", 24.2981339f, DB, -53.401226f, V, 0.0519411564f}),
    ParamName());

TEST(GuiModule, HalfVoltIsTheFloatNearestTheExactLevel) {
  // 20·log10(0.5) = -6.020599913279624; the nearest float and no other.
  const double exact = 20.0 * std::log10(0.5);
  const float written = GuiModule::VoltageToDb(0.5f, 1.0f);
  const float below = std::nextafter(written, -INF), above = std::nextafter(written, INF);
  EXPECT_LE(std::fabs(written - exact), std::fabs(below - exact));
  EXPECT_LE(std::fabs(written - exact), std::fabs(above - exact));
}

TEST(GuiModule, VrefChangeRepeatsTheLastDirection) {
  Session s(1.0f);
  s.host.EditFloat(DB, -6.0f);
  s.host.ClearLog();
  s.host.EditFloat(REF, 2.0f);
  EXPECT_EQ(s.Writes(), (Writes{{V, 1.00237441f}})) << "2 · 10^(-6/20)";
  EXPECT_EQ(s.host.Float(DB), -6.0f) << "the side edited last keeps its value";

  s.host.EditFloat(V, 4.0f);
  s.host.ClearLog();
  s.host.EditFloat(REF, 0.4f);
  EXPECT_EQ(s.Writes(), (Writes{{DB, 20.0f}}));
  EXPECT_EQ(s.host.Float(V), 4.0f);
}

TEST(GuiModule, VrefChangeBeforeAnyEditStartsFromTheZeroDbPoint) {
  Session s(2.0f);
  s.host.ClearLog();
  s.host.EditFloat(REF, 2.0f);
  EXPECT_EQ(s.Writes(), (Writes{{DB, 0.0f}}));
  s.host.ClearLog();
  s.host.EditFloat(REF, 20.0f);
  EXPECT_EQ(s.Writes(), (Writes{{DB, -20.0f}})) << "from the voltage 2.0 read at construction";
}

TEST(GuiModule, OtherIndicesRepeatTheLastConversionWithoutReading) {
  for (int32_t index : {3, -1, 100}) {
    Session s(1.0f);
    s.host.EditFloat(DB, 20.0f);
    s.host.ClearLog();
    s.host.Report(index);
    EXPECT_TRUE(s.host.Calls(GUIHOST_OP_READ_PIN_VALUE).empty()) << index;
    EXPECT_EQ(s.Writes(), (Writes{{V, 10.0f}})) << index;
  }
}

TEST(GuiModule, SameValueTwiceConvertsTwice) {
  Session s(1.0f);
  s.host.ClearLog();
  s.host.EditFloat(V, 10.0f);
  s.host.EditFloat(V, 10.0f);
  EXPECT_EQ(s.Writes(), (Writes{{DB, 20.0f}, {DB, 20.0f}}));
}

TEST(GuiModule, ImmediateEchoIsIgnoredAndKeepsTheDirection) {
  Session s(1.0f, GuiHost::Echo::IMMEDIATE);
  s.host.ClearLog();
  s.host.EditFloat(V, 10.0f);
  // The echo of pin 2 arrived inside the write and did nothing: no read of pin 2.
  EXPECT_EQ(s.host.Calls(GUIHOST_OP_READ_PIN_VALUE).size(), 1u);
  EXPECT_EQ(s.Writes(), (Writes{{DB, 20.0f}}));
  // Still voltage to decibels: a new Vref rewrites dB, not Voltage.
  s.host.ClearLog();
  s.host.EditFloat(REF, 10.0f);
  EXPECT_EQ(s.Writes(), (Writes{{DB, 0.0f}}));

  s.host.EditFloat(DB, -6.0f);
  s.host.ClearLog();
  s.host.EditFloat(REF, 1.0f);
  EXPECT_EQ(s.Writes().size(), 1u);
  EXPECT_EQ(s.Writes()[0].first, V) << "the echo of pin 0 left the decibel direction";
}

TEST(GuiModule, DeferredEchoIsHandledLikeANewEdit) {
  Session s(1.0f, GuiHost::Echo::DEFERRED);
  s.host.ClearLog();
  s.host.EditFloat(DB, -6.0f);
  // Edit: read dB, write Voltage. Echo of Voltage: read it, write dB.
  const auto reads = s.host.Calls(GUIHOST_OP_READ_PIN_VALUE);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].index, DB);
  EXPECT_EQ(reads[1].index, V);
  const Writes writes = s.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], (std::pair<int32_t, float>{V, 0.50118721f}));
  EXPECT_EQ(writes[1].first, DB);
  EXPECT_EQ(writes[1].second, -6.00000048f) << "20 · log10(0.50118721)";
  // The echo switched to voltage to decibels.
  s.host.ClearLog();
  s.host.EditFloat(REF, 2.0f);
  EXPECT_EQ(s.Writes()[0].first, DB);
}

TEST(GuiModule, HostCallbackThatThrowsLeavesTheGuardClear) {
  HostCallbackRecorder host;
  bool fail = false;
  host.answer = [&](int32_t opcode, int32_t index, int32_t, void* ptr) -> QXWord {
    if (opcode != GUIHOST_OP_READ_PIN_VALUE) return 0;
    if (fail) throw std::runtime_error("the host failed");
    const float value = index == REF ? 1.0f : 10.0f;
    std::memcpy(ptr, &value, sizeof value);
    return 0;
  };
  QXGuiStruct* record = (new GuiModule(&HostCallbackRecorder::Callback, 0))->GuiStruct();
  fail = true;
  EXPECT_EQ(record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, V, 0, nullptr, 0.0f), 0);
  fail = false;
  host.calls.clear();
  record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, V, 0, nullptr, 0.0f);
  ASSERT_EQ(host.calls.size(), 2u) << "the next report is handled";
  EXPECT_EQ(host.calls[1].index, DB);
  EXPECT_EQ(host.calls[1].opt, 20.0f);
  EXPECT_EQ(record->dispatch_entry(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(GuiModule, InstancesKeepTheirOwnState) {
  Session a(1.0f), b(10.0f);
  a.host.EditFloat(DB, 20.0f);
  b.host.EditFloat(V, 1.0f);
  a.host.EditFloat(REF, 2.0f);
  EXPECT_EQ(a.host.Float(V), 20.0f);
  EXPECT_EQ(b.host.Float(DB), -20.0f);
}

}  // namespace
