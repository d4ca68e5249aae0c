// qxhost as its users run it: the commands' output on the product, and one
// clear line and the right exit code for each way a run can fail.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ParamName.h"
#include "QXHostTool.h"
#include "SetCommand.h"
#include "TextFormat.h"

namespace {

struct ToolRun {
  explicit ToolRun(const std::vector<std::string>& args) {
    // The module in this process: the tests of loading it in a process of
    // its own run the executable (QXHostToolIsolation in validator_tests).
    QXHostTool tool(out_stream, err_stream, false);
    code = tool.Run(args);
    out = out_stream.str();
    err = err_stream.str();
  }
  std::ostringstream out_stream, err_stream;
  int code;
  std::string out, err;
};

std::string TestModule(const std::string& file) { return std::string(QX_TEST_MODULE_DIR) + "/" + file; }

TEST(QXHostTool, InfoShowsPropertiesAndThePinTable) {
  ToolRun r({"info", QX_PRODUCT});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("name:        Kalo_GUI-Gainlens\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sdk version: 2230\n"), std::string::npos);
  EXPECT_NE(r.out.find("flags:       256\n"), std::string::npos);
  EXPECT_NE(r.out.find("    0  Voltage      in   float  ui-communication\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    1  Vref         in   float  ui-communication\n"), std::string::npos);
  EXPECT_NE(r.out.find("    2  dB           out  float  ui-communication\n"), std::string::npos);
}

TEST(QXHostTool, InfoAsJson) {
  ToolRun r({"info", "--json", QX_PRODUCT});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"name\": \"Kalo_GUI-Gainlens\", \"id\": \"Kalo_GUI-Gainlens\", \"about\": \"", 0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("\\n\\n"), std::string::npos) << "the about text's newlines are escaped";
  EXPECT_NE(r.out.find("{\"index\": 2, \"name\": \"dB\", \"direction\": \"out\", \"datatype\": \"float\", "
                       "\"flags\": 1024}]}\n"),
            std::string::npos)
      << r.out;
}

TEST(QXHostTool, SetAppliesEachEditAndPrintsEveryPin) {
  ToolRun r({"set", QX_PRODUCT, "Vref=1", "2=-6"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "set Vref = 1\n"
            "    0  Voltage      0\n"
            "    1  Vref         1\n"
            "    2  dB           -inf\n"
            "set dB = -6\n"
            "    0  Voltage      0.5011872\n"
            "    1  Vref         1\n"
            "    2  dB           -6\n");
}

TEST(QXHostTool, SetAsJsonWithSpecialValuesAsStrings) {
  ToolRun r({"set", "--json", QX_PRODUCT, "Vref=nan", "Vref=1", "Voltage=inf"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"module\": \"Kalo_GUI-Gainlens\", \"edits\": [{\"pin\": \"Vref\", \"index\": 1, "
                        "\"value\": \"nan\", \"pins\": [{\"index\": 0, \"name\": \"Voltage\", \"value\": 0}, "
                        "{\"index\": 1, \"name\": \"Vref\", \"value\": \"nan\"}, "
                        "{\"index\": 2, \"name\": \"dB\", \"value\": \"nan\"}]}",
                        0),
            0u)
      << r.out;
  EXPECT_NE(
      r.out.find(
          "{\"pin\": \"Voltage\", \"index\": 0, \"value\": \"inf\", \"pins\": [{\"index\": 0, "
          "\"name\": \"Voltage\", \"value\": \"inf\"}, {\"index\": 1, \"name\": \"Vref\", \"value\": 1}, "
          "{\"index\": 2, \"name\": \"dB\", \"value\": \"inf\"}]}]}\n"),
      std::string::npos)
      << r.out;
}

TEST(QXHostTool, EchoPolicyChangesWhatTheModuleHears) {
  // A deferred echo of the written Voltage is an edit of Voltage: the next
  // Vref then rewrites dB instead of Voltage.
  ToolRun none({"set", QX_PRODUCT, "Vref=1", "dB=-6", "Vref=2"});
  ToolRun deferred({"set", "--echo=deferred", QX_PRODUCT, "Vref=1", "dB=-6", "Vref=2"});
  ToolRun immediate({"set", "--echo", "immediate", QX_PRODUCT, "Vref=1", "dB=-6", "Vref=2"});
  ASSERT_EQ(none.code, 0);
  ASSERT_EQ(deferred.code, 0);
  const std::string last_none = none.out.substr(none.out.rfind("set Vref"));
  const std::string last_deferred = deferred.out.substr(deferred.out.rfind("set Vref"));
  EXPECT_NE(last_none.find("    0  Voltage      1.0023744\n"), std::string::npos) << last_none;
  EXPECT_NE(last_none.find("    2  dB           -6\n"), std::string::npos) << last_none;
  EXPECT_NE(last_deferred.find("    0  Voltage      0.5011872\n"), std::string::npos) << last_deferred;
  EXPECT_NE(last_deferred.find("    2  dB           -12.0206"), std::string::npos) << last_deferred;
  EXPECT_EQ(immediate.out, none.out) << "an echo inside the write is ignored";
}

struct Failure {
  const char* name;
  std::vector<std::string> args;
  int code;
  const char* message;  // must appear on the error stream
};

class QXHostToolFailures : public ::testing::TestWithParam<Failure> {};

TEST_P(QXHostToolFailures, OneClearLineAndExitCode) {
  const Failure& f = GetParam();
  std::vector<std::string> args;
  for (const std::string& a : f.args)
    args.push_back(a == "PRODUCT" ? QX_PRODUCT : a.rfind("mod:", 0) == 0 ? TestModule(a.substr(4)) : a);
  ToolRun r(args);
  EXPECT_EQ(r.code, f.code);
  EXPECT_NE(r.err.find(f.message), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("qxhost: "), 0u) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, QXHostToolFailures,
    ::testing::Values(
        Failure{"MissingFile", {"info", "mod:nowhere.qxm"}, 1, "no such file"},
        Failure{"NotALibrary", {"info", "mod:not_a_library.qxm"}, 1, "not a loadable library"},
        Failure{"MissingExport", {"info", "mod:no_make_module.qxm"}, 1, "makeModule"},
        Failure{"RefusesIndex0", {"set", "mod:refuses_index0.qxm", "a=1"}, 1, "index 0"},
        Failure{"OldVersion", {"info", "mod:old_version.qxm"}, 1, "2229"},
        Failure{"NoMakeModuleInstance", {"info", "mod:good_module.qxm"}, 1, "gave no DSP instance"},
        Failure{"NoCommand", {}, 2, "usage: qxhost"},
        Failure{"UnknownCommand", {"frobnicate"}, 2, "unknown command"},
        Failure{"InfoWithoutModule", {"info"}, 2, "usage: qxhost info"},
        Failure{"SetWithoutEdits", {"set", "PRODUCT"}, 2, "no PIN=VALUE"},
        Failure{"BadValue", {"set", "PRODUCT", "dB=loud"}, 2, "bad edit 'dB=loud'"},
        Failure{"TrailingJunk", {"set", "PRODUCT", "dB=-6x"}, 2, "bad edit"},
        Failure{"UnknownPin", {"set", "PRODUCT", "Gain=1"}, 2, "no pin 'Gain'"},
        Failure{"PinIndexOutOfRange", {"set", "PRODUCT", "3=1"}, 2, "no pin '3'"},
        Failure{"UnknownEcho", {"set", "--echo", "loud", "PRODUCT", "dB=1"}, 2, "unknown echo mode"},
        Failure{"UnknownOption", {"info", "--verbose", "PRODUCT"}, 2, "unknown option"},
        Failure{"HexadecimalValue", {"set", "PRODUCT", "Voltage=0x10"}, 2, "with a decimal VALUE"},
        Failure{"ValueBeyondAFloat",
                {"set", "PRODUCT", "Voltage=1e400"},
                2,
                "1e400 is beyond the range of a float"},
        Failure{
            "ValueAFloatMakes0", {"set", "PRODUCT", "Voltage=1e-50"}, 2, "1e-50 is too small for a float"},
        Failure{"ArgumentsSwapped", {"set", "Voltage=1", "PRODUCT"}, 2, "MODULE comes first, then PIN=VALUE"},
        Failure{"TimeoutNotANumber", {"info", "--timeout", "soon", "PRODUCT"}, 2, "bad timeout 'soon'"}),
    ParamName());

TEST(QXHostTool, SetShowsEachEditAsRequested) {
  // A deferred echo of the written dB changes Voltage after the edit; the
  // line that names the edit still says what was asked.
  ToolRun r({"set", "--echo", "deferred", QX_PRODUCT, "Vref=2", "Voltage=3"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("set Voltage = 3\n"), std::string::npos) << r.out;
  ToolRun tiny({"set", QX_PRODUCT, "Voltage=1e-40", "Vref=-0"});
  EXPECT_EQ(tiny.code, 0) << "a subnormal float and a negative zero are floats" << tiny.err;
}

TEST(QXHostTool, HelpForTheToolAndEachCommand) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"info", "--help"}, {"set", "-h"}, {"help", "set"}}) {
    ToolRun r(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("usage: qxhost", 0), 0u) << r.out;
    EXPECT_TRUE(r.err.empty());
  }
  EXPECT_NE(ToolRun({"set", "--help"}).out.find("--echo MODE"), std::string::npos);
}

TEST(QXHostTool, FloatsPrintShortestAndReadBack) {
  for (float f : {0.50118721f, -6.0205999f, 1.0f, 1e-38f, 3.4028235e38f, -0.0f, 0.1f}) {
    const std::string text = TextFormat::Float(f);
    double back = 0;
    ASSERT_TRUE(SetCommand::ParseValue(text, &back)) << text;
    EXPECT_EQ(static_cast<float>(back), f) << text;
  }
  EXPECT_EQ(TextFormat::Float(0.50118721f), "0.5011872");
  EXPECT_EQ(TextFormat::Float(-6.1f), "-6.1");
  EXPECT_EQ(TextFormat::Float(-0.0f), "-0");
}

TEST(QXHostTool, NumbersPrintAsPeopleWriteThem) {
  EXPECT_EQ(TextFormat::Float(10.0f), "10");
  EXPECT_EQ(TextFormat::Float(50.0f), "50");
  EXPECT_EQ(TextFormat::Float(1e-5f), "0.00001");
  EXPECT_EQ(TextFormat::Float(1.5e-5f), "0.000015");
  EXPECT_EQ(TextFormat::Float(-2000.0f), "-2000");
  EXPECT_EQ(TextFormat::Float(123456789.0f), "123456792") << "the float's own value, in digits";
  // Far beyond people's numbers the exponent is the clearer form.
  EXPECT_EQ(TextFormat::Float(1e25f), "1e+25");
  EXPECT_EQ(TextFormat::Float(1e-30f), "1e-30");
  ToolRun r({"set", QX_PRODUCT, "dB=50"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("set dB = 50\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("    2  dB           50\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("e+"), std::string::npos) << r.out;
}

TEST(QXHostTool, PrintableEscapesControlsAndBytesOfNoCharacter) {
  const struct {
    std::string text, printed;
  } cases[] = {
      {"a\x1b[2Jb", "a\\x1B[2Jb"},
      {"del\x7f", "del\\x7F"},
      {"c1 \xc2\x9b"
       "2J",
       "c1 \\xC2\\x9B2J"},
      {"c1 \xc2\x80 \xc2\x9f", "c1 \\xC2\\x80 \\xC2\\x9F"},
      {"lone \x9b"
       "31m",
       "lone \\x9B31m"},
      {"cut \xe2\x82", "cut \\xE2\\x82"},
      {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},
      {"surrogate \xed\xa0\x80", "surrogate \\xED\\xA0\\x80"},
      // Characters beyond ASCII pass as they are, U+00A0 the first after C1.
      {"\xc2\xa0"
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5",
       "\xc2\xa0"
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFormat::Printable(c.text), c.printed) << c.printed;
  EXPECT_EQ(TextFormat::Printable("a\nb\tc\r", true), "a\nb\tc\\x0D");
}

TEST(QXHostTool, ALoadErrorShowsThePathEscaped) {
  ToolRun r({"info",
             "/nonexistent/\x1b]0;title\x07\x9b"
             "2J\x7f.qxm"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("\\x1B]0;title\\x07\\x9B2J\\x7F.qxm"), std::string::npos) << r.err;
  for (const char raw : {'\x1b', '\x07', '\x7f', static_cast<char>(0x9b)})
    EXPECT_EQ(r.err.find(raw), std::string::npos) << r.err;
}

TEST(QXHostTool, HelpDescribesValidateAndListChecks) {
  std::string out = ToolRun({"validate", "--help"}).out;
  EXPECT_EQ(ToolRun({"validate", "--help"}).code, 0);
  for (const char* option : {"--include", "--exclude", "--seed", "--size", "--timeout", "--only-failed",
                             "--json", "--junit", "--trace", "--in-process"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(ToolRun({"--help"}).code, 0);
  out = ToolRun({"--help"}).out;
  EXPECT_NE(out.find("validate MODULE..."), std::string::npos);
  EXPECT_NE(out.find("list-checks"), std::string::npos);
}

}  // namespace
