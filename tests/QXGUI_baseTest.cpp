// The GUI base as the host sees it: its record, its dispatcher routing and the
// requests its pin handle sends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeathRegex.h"
#include "HostCallbackRecorder.h"
#include "HostLayout.h"
#include "ParamName.h"
#include "QXContract.h"
#include "QXGUI_base.h"
#include "QXGuiPin.h"

namespace {

// Records each hook as a line "Name arg arg ...".
class RecordingGui : public QXGUI_base {
 public:
  RecordingGui(::qxaudioMaster callback, std::vector<std::string>* trace, bool query = false)
      : QXGUI_base(callback, 0x1234), m_trace(trace), m_query(query) {}
  ~RecordingGui() override { m_trace->push_back("~RecordingGui"); }

  void Open(bool flag) override { Add("Open " + std::to_string(flag)); }
  void Close() override { Add("Close"); }
  void OnIndexedData(int32_t index, void* ptr) override { Add("OnIndexedData " + N(index) + " " + P(ptr)); }
  void OnPoint1(void* ptr, float opt, QXPoint p) override { Add("OnPoint1 " + Point(ptr, opt, p)); }
  void OnPoint2(void* ptr, float opt, QXPoint p) override { Add("OnPoint2 " + Point(ptr, opt, p)); }
  void OnPoint3(void* ptr, float opt, QXPoint p) override { Add("OnPoint3 " + Point(ptr, opt, p)); }
  void OnData1(void* ptr) override { Add("OnData1 " + P(ptr)); }
  void OnData2(void* ptr) override { Add("OnData2 " + P(ptr)); }
  bool Query() override {
    Add("Query");
    return m_query;
  }
  void OnIndex1(int32_t index) override { Add("OnIndex1 " + N(index)); }
  void OnIndex2(int32_t index) override { Add("OnIndex2 " + N(index)); }
  void OnMessage(int32_t value, int32_t index, void* ptr) override {
    Add("OnMessage " + N(value) + " " + N(index) + " " + P(ptr));
  }
  void OnPinValueChanged(QXGuiPin* pin) override {
    Add("OnPinValueChanged " + N(pin->GetIndex()));
    pin->SetValueInt(99);  // must reach this instance's host
  }

 private:
  static std::string N(int32_t n) { return std::to_string(n); }
  static std::string P(void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }
  static std::string Point(void* ptr, float opt, QXPoint p) {
    uint32_t bits;
    std::memcpy(&bits, &opt, sizeof bits);
    return P(ptr) + " " + std::to_string(bits) + " " + N(p.x) + " " + N(p.y);
  }
  void Add(const std::string& line) { m_trace->push_back(line); }

  std::vector<std::string>* m_trace;
  bool m_query;
};

// The same hooks reached through the entry of a final class.
class FinalRecordingGui final : public RecordingGui {
 public:
  FinalRecordingGui(::qxaudioMaster callback, std::vector<std::string>* trace, bool query = false)
      : RecordingGui(callback, trace, query), m_trace(trace) {
    UseEntryOf(this);
  }
  ~FinalRecordingGui() override { m_trace->push_back("~FinalRecordingGui"); }
  void OnIndex2(int32_t) override { throw std::runtime_error("hook failed"); }

 private:
  std::vector<std::string>* m_trace;
};

// A final class with a dispatcher of its own, which its entry must reach.
class FinalDispatchingGui final : public QXGUI_base {
 public:
  explicit FinalDispatchingGui(std::vector<std::string>* trace) : QXGUI_base(nullptr, 0), m_trace(trace) {
    UseEntryOf(this);
  }
  QXWord Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) override {
    m_trace->push_back("Dispatch " + std::to_string(opcode));
    return QXGUI_base::Dispatch(opcode, index, value, ptr, opt);
  }
  bool Query() override { return true; }

 private:
  std::vector<std::string>* m_trace;
};

QXWord Send(QXGuiStruct* record, int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
            float opt = 0.0f) {
  return record->dispatch_entry(record, opcode, index, value, ptr, opt);
}

void* const PTR = reinterpret_cast<void*>(0x4000);

TEST(QXGUI_base, FreshRecordIsMagicVersionEntryHostDataObjectThenZeros) {
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui = new RecordingGui(&HostCallbackRecorder::Callback, &trace);
  QXGuiStruct* record = gui->GuiStruct();
  // The ten words as the host reads them, where it looks for them on this target.
  using host_layout::FieldAt;
  using host_layout::GUI_FIELDS;
  EXPECT_EQ(FieldAt(record, GUI_FIELDS, 0), 0x5158504Du);
  EXPECT_EQ(FieldAt(record, GUI_FIELDS, 1), 1u);
  EXPECT_EQ(FieldAt(record, GUI_FIELDS, 2), reinterpret_cast<uintptr_t>(record->dispatch_entry));
  EXPECT_EQ(FieldAt(record, GUI_FIELDS, 3), 0x1234u);
  EXPECT_EQ(FieldAt(record, GUI_FIELDS, 4), host_layout::WordOf(static_cast<QXGUI_base*>(gui)));
  for (size_t i = 5; i < 10; ++i) EXPECT_EQ(FieldAt(record, GUI_FIELDS, i), 0u) << "word " << i;
  const unsigned char magic_bytes[4] = {0x4D, 0x50, 0x58, 0x51};
  EXPECT_EQ(std::memcmp(record, magic_bytes, 4), 0);
  EXPECT_EQ(record->version, 1);
  EXPECT_NE(record->dispatch_entry, nullptr);
  EXPECT_EQ(record->host_data, 0x1234);
  EXPECT_EQ(record->object, static_cast<QXGUI_base*>(gui));
  for (int32_t word : record->reserved) EXPECT_EQ(word, 0);
  EXPECT_TRUE(host.calls.empty()) << "the constructor calls no host";
  Send(record, GUI_OP_CLOSE);
}

struct RouteCase {
  const char* name;
  int32_t opcode, index, value;
  float opt;
  QXWord result;
  std::vector<std::string> trace;  // hooks called, in order
};

class DispatchRouting : public ::testing::TestWithParam<RouteCase> {};

TEST_P(DispatchRouting, EachOpcodeReachesItsHookWithItsArguments) {
  const RouteCase& c = GetParam();
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui =
      new RecordingGui(&HostCallbackRecorder::Callback, &trace, /*query=*/c.opcode == 10 && c.index == 1);
  EXPECT_EQ(Send(gui->GuiStruct(), c.opcode, c.index, c.value, PTR, c.opt), c.result);
  EXPECT_EQ(trace, c.trace);
  trace.clear();
  Send(gui->GuiStruct(), GUI_OP_CLOSE);
}

TEST_P(DispatchRouting, TheEntryOfAFinalClassRoutesAlike) {
  const RouteCase& c = GetParam();
  // This class's OnIndex2 throws: the entry answers 0 and nothing is traced.
  const bool throws = c.opcode == GUI_OP_INDEX_2;
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui = new FinalRecordingGui(&HostCallbackRecorder::Callback, &trace, c.opcode == 10 && c.index == 1);
  EXPECT_EQ(Send(gui->GuiStruct(), c.opcode, c.index, c.value, PTR, c.opt), throws ? 0 : c.result);
  EXPECT_EQ(trace, throws ? std::vector<std::string>{} : c.trace);
  Send(gui->GuiStruct(), GUI_OP_CLOSE);
}

// opt 1.5f has the bits 1069547520.
INSTANTIATE_TEST_SUITE_P(
    Opcodes, DispatchRouting,
    ::testing::Values(RouteCase{"OpenFlagFromIndexOne", 0, 1, 0, 0.0f, 0, {"Open 1"}},
                      RouteCase{"OpenIndexZero", 0, 0, 1, 0.0f, 0, {"Open 0"}},
                      RouteCase{"OpenIndexTwo", 0, 2, 0, 0.0f, 0, {"Open 0"}},
                      RouteCase{"OpenIndexMinusOne", 0, -1, 0, 0.0f, 0, {"Open 0"}},
                      RouteCase{"IndexedData", 2, 5, 6, 0.0f, 0, {"OnIndexedData 5 16384"}},
                      RouteCase{"Point1", 3, 10, 20, 1.5f, 0, {"OnPoint1 16384 1069547520 10 20"}},
                      RouteCase{"Point2", 4, 10, 20, 1.5f, 0, {"OnPoint2 16384 1069547520 10 20"}},
                      RouteCase{"Point3", 5, -3, 7, 1.5f, 0, {"OnPoint3 16384 1069547520 -3 7"}},
                      RouteCase{"MessageValueFirst", 6, 3, 7, 0.0f, 0, {"OnMessage 7 3 16384"}},
                      RouteCase{"PinValueChanged", 7, 2, 0, 0.0f, 0, {"OnPinValueChanged 2"}},
                      RouteCase{"Data1", 8, 0, 0, 0.0f, 0, {"OnData1 16384"}},
                      RouteCase{"Data2", 9, 0, 0, 0.0f, 0, {"OnData2 16384"}},
                      RouteCase{"QueryFalse", 10, 0, 0, 0.0f, 0, {"Query"}},
                      RouteCase{"QueryTrue", 10, 1, 0, 0.0f, 1, {"Query"}},
                      RouteCase{"Index1", 11, 4, 0, 0.0f, 0, {"OnIndex1 4"}},
                      RouteCase{"Index2", 12, 8, 0, 0.0f, 0, {"OnIndex2 8"}},
                      RouteCase{"Unknown13", 13, 1, 1, 0.0f, 0, {}},
                      RouteCase{"UnknownMinusOne", -1, 1, 1, 0.0f, 0, {}},
                      RouteCase{"UnknownMinimum", INT32_MIN, 1, 1, 0.0f, 0, {}},
                      RouteCase{"UnknownLarge", 1000, 1, 1, 0.0f, 0, {}}),
    ParamName());

TEST(QXGUI_base, CloseRunsCloseThenDestructorsAndAnswersOne) {
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui = new RecordingGui(&HostCallbackRecorder::Callback, &trace);
  EXPECT_EQ(Send(gui->GuiStruct(), GUI_OP_CLOSE), 1);
  EXPECT_EQ(trace, (std::vector<std::string>{"Close", "~RecordingGui"}));
}

TEST(QXGUI_base, EntryOfAFinalClassClosesCatchesAndUsesItsOwnDispatch) {
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui = new FinalRecordingGui(&HostCallbackRecorder::Callback, &trace);
  EXPECT_EQ(Send(gui->GuiStruct(), GUI_OP_INDEX_2, 1), 0) << "the hook threw";
  EXPECT_EQ(Send(gui->GuiStruct(), GUI_OP_CLOSE), 1);
  EXPECT_EQ(trace, (std::vector<std::string>{"Close", "~FinalRecordingGui", "~RecordingGui"}));

  trace.clear();
  auto* dispatching = new FinalDispatchingGui(&trace);
  EXPECT_EQ(Send(dispatching->GuiStruct(), GUI_OP_QUERY), 1);
  EXPECT_EQ(Send(dispatching->GuiStruct(), GUI_OP_CLOSE), 1);
  EXPECT_EQ(trace, (std::vector<std::string>{"Dispatch 10", "Dispatch 1"}));
}

TEST(QXGUI_base, PinChangeHandleCarriesIndexAndReachesThisInstance) {
  std::vector<std::string> trace;
  HostCallbackRecorder host;
  auto* gui = new RecordingGui(&HostCallbackRecorder::Callback, &trace);
  Send(gui->GuiStruct(), GUI_OP_PIN_VALUE_CHANGED, 2);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].record, gui->GuiStruct());
  EXPECT_EQ(host.calls[0].opcode, GUIHOST_OP_WRITE_PIN_VALUE);
  EXPECT_EQ(host.calls[0].index, 2);
  EXPECT_EQ(host.calls[0].value, 99);
  Send(gui->GuiStruct(), GUI_OP_CLOSE);
}

class ThrowingGui : public QXGUI_base {
 public:
  using QXGUI_base::QXGUI_base;
  void OnIndex1(int32_t) override { throw std::runtime_error("hook failed"); }
};

TEST(QXGUI_base, ExceptionFromHookNeverReachesTheHost) {
  HostCallbackRecorder host;
  auto* gui = new ThrowingGui(&HostCallbackRecorder::Callback, 0);
  EXPECT_EQ(Send(gui->GuiStruct(), GUI_OP_INDEX_1, 1), 0);
  EXPECT_EQ(Send(gui->GuiStruct(), GUI_OP_CLOSE), 1);
}

TEST(QXGUI_base, HostRequestsSendTheirOpcodeAndHandBackTheAnswer) {
  HostCallbackRecorder host;
  host.answer = [](int32_t opcode, int32_t, int32_t, void*) -> QXWord { return opcode == 20 ? 5 : 7; };
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);
  EXPECT_EQ(gui.HostIndexedRequest(3, 4, PTR), 7);
  EXPECT_EQ(gui.HostPtrRequest1(PTR), 7);
  EXPECT_EQ(gui.HostPtrRequest2(PTR), 7);
  EXPECT_TRUE(gui.HostPtrTest(PTR));
  ASSERT_EQ(host.calls.size(), 4u);
  const int32_t opcodes[] = {8, 18, 19, 20};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(host.calls[i].opcode, opcodes[i]);
    EXPECT_EQ(host.calls[i].index, i == 0 ? 3 : 0);
    EXPECT_EQ(host.calls[i].value, i == 0 ? 4 : 0);
    EXPECT_EQ(host.calls[i].ptr, PTR);
    EXPECT_EQ(host.calls[i].opt, 0.0f);
  }
}

TEST(QXGuiPin, GetPinSharesOneHandleRebound) {
  HostCallbackRecorder host;
  QXGUI_base a(&HostCallbackRecorder::Callback, 0);
  QXGUI_base b(&HostCallbackRecorder::Callback, 0);
  QXGuiPin* first = a.GetPin(0);
  QXGuiPin* second = b.GetPin(2);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->GetIndex(), 2);
  first->SetValueInt(1);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].record, b.GuiStruct()) << "the handle follows its last binding";
}

TEST(QXGuiPin, ValueAccessorsSendExactlyTheirRequests) {
  HostCallbackRecorder host;
  host.answer = [](int32_t opcode, int32_t, int32_t, void* ptr) -> QXWord {
    if (opcode == GUIHOST_OP_READ_PIN_VALUE) {
      const float f = 2.5f;
      std::memcpy(ptr, &f, 4);
    }
    return 0;
  };
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);
  QXGuiPin* pin = gui.GetPin(1);
  pin->SetValueFloat(-6.0f);
  pin->SetValueInt(5);
  EXPECT_EQ(pin->GetValueFloat(), 2.5f);
  EXPECT_EQ(pin->GetValueInt(), 0x40200000);  // the same 4 bytes as an integer
  ASSERT_EQ(host.calls.size(), 4u);
  EXPECT_EQ(host.calls[0].opcode, GUIHOST_OP_WRITE_PIN_VALUE);
  EXPECT_EQ(host.calls[0].index, 1);
  EXPECT_EQ(host.calls[0].value, 0);
  EXPECT_EQ(host.calls[0].ptr, nullptr);
  EXPECT_EQ(host.calls[0].opt, -6.0f);
  EXPECT_EQ(host.calls[1].value, 5);
  EXPECT_EQ(host.calls[1].ptr, nullptr);
  EXPECT_EQ(host.calls[1].opt, 0.0f);
  for (size_t i = 2; i < 4; ++i) {
    EXPECT_EQ(host.calls[i].opcode, GUIHOST_OP_READ_PIN_VALUE);
    EXPECT_EQ(host.calls[i].value, 0);
    EXPECT_NE(host.calls[i].ptr, nullptr);
    EXPECT_EQ(host.calls[i].opt, 0.0f);
  }
}

TEST(QXGuiPin, ValueReadIsZeroWhenTheHostWritesNothing) {
  HostCallbackRecorder host;
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);
  EXPECT_EQ(gui.GetPin(0)->GetValueFloat(), 0.0f);
  EXPECT_EQ(gui.GetPin(0)->GetValueInt(), 0);
}

TEST(QXGuiPin, WideTextAsksForTheSizeThenFillsABufferOfThatSize) {
  HostCallbackRecorder host;
  int32_t seen_size = -1;
  host.answer = [&](int32_t opcode, int32_t, int32_t value, void* ptr) -> QXWord {
    EXPECT_EQ(opcode, GUIHOST_OP_READ_PIN_TEXT_W);
    if (value == 0) return 4;
    seen_size = value;
    std::memcpy(ptr, u"dB\0", 3 * sizeof(char16_t));
    return 0;
  };
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);
  EXPECT_EQ(gui.GetPin(2)->GetValueTextW(), u"dB");
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[0].ptr, nullptr);
  EXPECT_EQ(host.calls[1].value, 4);
  EXPECT_EQ(seen_size, 4);
  EXPECT_NE(host.calls[1].ptr, nullptr);
}

TEST(QXGuiPin, WideTextSurvivesAHostThatBreaksTheSizeContract) {
  HostCallbackRecorder host;
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);

  host.answer = [](int32_t, int32_t, int32_t, void*) -> QXWord { return 0; };
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"");
  EXPECT_EQ(host.calls.size(), 1u) << "no buffer is offered for a size of 0";

  host.calls.clear();
  host.answer = [](int32_t, int32_t, int32_t, void*) -> QXWord { return -5; };
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"");
  EXPECT_EQ(host.calls.size(), 1u);

  // Fills every unit without a terminator: the text stops at the buffer's end.
  host.answer = [](int32_t, int32_t, int32_t value, void* ptr) -> QXWord {
    if (value == 0) return 3;
    for (int32_t i = 0; i < value; ++i) static_cast<char16_t*>(ptr)[i] = u'x';
    return 0;
  };
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"xxx");

  // Writes nothing at all: empty, not whatever the buffer held.
  host.answer = [](int32_t, int32_t, int32_t value, void*) -> QXWord { return value == 0 ? 8 : 0; };
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"");
}

TEST(QXGuiPin, NarrowTextIsCopiedAndNoAddressGivesEmpty) {
  HostCallbackRecorder host;
  char text[] = "Vref";
  host.answer = [&](int32_t, int32_t, int32_t, void*) -> QXWord { return reinterpret_cast<QXWord>(text); };
  QXGUI_base gui(&HostCallbackRecorder::Callback, 0);
  const std::string copy = gui.GetPin(1)->GetValueText();
  text[0] = 'X';
  EXPECT_EQ(copy, "Vref");
  host.answer = nullptr;
  EXPECT_EQ(gui.GetPin(1)->GetValueText(), "");

  gui.GetPin(1)->SetValueText("12 V");
  EXPECT_EQ(host.calls.back().opcode, GUIHOST_OP_WRITE_PIN_TEXT);
  EXPECT_EQ(host.calls.back().index, 1);
}

#if QX_CONTRACT_CHECKS
TEST(QXGUI_baseDeathTest, HostRequestWithoutCallbackStops) {
  QXGUI_base gui(nullptr, 0);
  EXPECT_DEATH(gui.GetPin(1)->GetValueFloat(),
               "Assertion failed: qxaudioMaster, file \\.\\.\\\\qx_sdk2\\\\QXGUI_base, line " QX_DIGITS_RE);
  EXPECT_DEATH(gui.HostPtrTest(nullptr), "qxaudioMaster");
  QXGuiStruct copy = *gui.GuiStruct();
  EXPECT_DEATH(copy.dispatch_entry(nullptr, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), "record != 0");
  copy.object = nullptr;
  EXPECT_DEATH(copy.dispatch_entry(&copy, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), "record->object != 0");
  // The same through the entry of a final class.
  std::vector<std::string> trace;
  FinalDispatchingGui final_gui(&trace);
  EXPECT_DEATH(final_gui.HostPtrTest(nullptr), "Assertion failed: qxaudioMaster, file");
  QXGuiStruct final_copy = *final_gui.GuiStruct();
  EXPECT_DEATH(final_copy.dispatch_entry(nullptr, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), "record != 0");
  final_copy.object = nullptr;
  EXPECT_DEATH(final_copy.dispatch_entry(&final_copy, GUI_OP_QUERY, 0, 0, nullptr, 0.0f),
               "record->object != 0");
}
#else
TEST(QXGUI_base, HostRequestWithoutCallbackIsRefused) {
  QXGUI_base gui(nullptr, 0);
  EXPECT_EQ(gui.GetPin(1)->GetValueFloat(), 0.0f);
  EXPECT_EQ(gui.CallHost(GUIHOST_OP_PTR_TEST, 0, 0, nullptr, 0.0f), 0);
  EXPECT_FALSE(gui.HostPtrTest(PTR));
  EXPECT_EQ(gui.GetPin(1)->GetValueTextW(), u"");
  QXGuiStruct copy = *gui.GuiStruct();
  EXPECT_EQ(copy.dispatch_entry(nullptr, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), 0);
  copy.object = nullptr;
  EXPECT_EQ(copy.dispatch_entry(&copy, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f), 0);
  // The same through the entry of a final class.
  std::vector<std::string> trace;
  FinalDispatchingGui final_gui(&trace);
  EXPECT_FALSE(final_gui.HostPtrTest(PTR));
  QXGuiStruct final_copy = *final_gui.GuiStruct();
  EXPECT_EQ(final_copy.dispatch_entry(nullptr, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), 0);
  final_copy.object = nullptr;
  EXPECT_EQ(final_copy.dispatch_entry(&final_copy, GUI_OP_QUERY, 0, 0, nullptr, 0.0f), 0);
  EXPECT_TRUE(trace.empty());
}
#endif

}  // namespace
