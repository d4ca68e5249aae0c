// The validator's parts on their own: the child runner's classification of
// how a process ended, the result line a child prints, the selection of
// checks, the report's escaping, the oracle's arithmetic, and a run in this
// process (where this test binary's allocation hooks count).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "CheckCatalog.h"
#include "ChildRunner.h"
#include "ConverterOracle.h"
#include "JsonValue.h"
#include "ParamName.h"
#include "QXHostTool.h"
#include "ValidationReport.h"
#include "Validator.h"

namespace {

std::string Module(const std::string& file) { return std::string(QX_TEST_MODULE_DIR) + "/" + file; }

#ifndef _WIN32
struct ChildCase {
  const char* name;
  std::string script;
  double timeout;
  ChildRunner::End end;
  long code;
  const char* out;
  const char* err;
};

class ChildRunnerEnds : public ::testing::TestWithParam<ChildCase> {};

TEST_P(ChildRunnerEnds, ClassifiesHowTheChildEnded) {
  const ChildCase& c = GetParam();
  const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", c.script}, c.timeout);
  EXPECT_EQ(o.end, c.end) << o.error;
  EXPECT_EQ(o.code, c.code);
  EXPECT_EQ(o.out, c.out);
  EXPECT_EQ(o.err, c.err);
  EXPECT_LT(o.seconds, c.timeout + 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Posix, ChildRunnerEnds,
    ::testing::Values(
        ChildCase{"ExitStatusAndBothStreams", "echo out; echo err >&2; exit 3", 30, ChildRunner::End::EXITED, 3,
                  "out\n", "err\n"},
        ChildCase{"Signal", "echo before >&2; kill -SEGV $$", 30, ChildRunner::End::SIGNALLED, SIGSEGV, "",
                  "before\n"},
        ChildCase{"Abort", "kill -ABRT $$", 30, ChildRunner::End::SIGNALLED, SIGABRT, "", ""},
        ChildCase{"Timeout", "echo started; sleep 30", 0.5, ChildRunner::End::TIMED_OUT, 0, "started\n", ""}),
    ParamName());

TEST(ChildRunner, ATimeoutAlsoEndsWhatTheChildStarted) {
  const std::string marker = ::testing::TempDir() + "qx-child-runner-marker";
  std::remove(marker.c_str());
  const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", "(sleep 1; touch " + marker + ") & sleep 30"}, 0.3);
  EXPECT_EQ(o.end, ChildRunner::End::TIMED_OUT);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::ifstream file(marker);
  EXPECT_FALSE(file.good()) << "the background process outlived the time-out";
  std::remove(marker.c_str());
}

TEST(ChildRunner, NamesSignalsAndReportsAProgramThatDoesNotStart) {
  EXPECT_EQ(ChildRunner::SignalName(SIGSEGV), "SIGSEGV");
  EXPECT_EQ(ChildRunner::SignalName(SIGABRT), "SIGABRT");
  EXPECT_EQ(ChildRunner::SignalName(63), "signal 63");
  const ChildRunner::Outcome o = ChildRunner::Run({"/nonexistent/program"}, 5);
  // posix_spawn may start the child and let its exec fail with status 127.
  EXPECT_TRUE(o.end == ChildRunner::End::NOT_STARTED || (o.end == ChildRunner::End::EXITED && o.code == 127))
      << static_cast<int>(o.end) << " " << o.code;
}

TEST(ChildRunner, KeepsTheTailOfALongOutput) {
  const ChildRunner::Outcome o =
      ChildRunner::Run({"/bin/sh", "-c", "i=0; while [ $i -lt 20000 ]; do echo line $i >&2; i=$((i+1)); done"}, 60);
  ASSERT_EQ(o.end, ChildRunner::End::EXITED);
  EXPECT_EQ(o.err.size(), static_cast<size_t>(ChildRunner::MAX_OUTPUT));
  EXPECT_EQ(o.err.substr(o.err.size() - 11), "line 19999\n");
}

TEST(ChildRunner, RunsTheCommandAsItStandsAndReadsTheLauncherApart) {
  const char* saved = std::getenv("QXHOST_CHILD_LAUNCHER");
  const std::string before = saved != nullptr ? saved : "";
  setenv("QXHOST_CHILD_LAUNCHER", " /bin/echo  through ", 1);
  const std::vector<std::string> launcher = ChildRunner::Launcher();
  // A host program started while a launcher is set runs as it is.
  const ChildRunner::Outcome o = ChildRunner::Run({"/bin/echo", "an argument"}, 10);
  unsetenv("QXHOST_CHILD_LAUNCHER");
  const std::vector<std::string> none = ChildRunner::Launcher();
  if (saved != nullptr) setenv("QXHOST_CHILD_LAUNCHER", before.c_str(), 1);
  EXPECT_EQ(launcher, (std::vector<std::string>{"/bin/echo", "through"}));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(o.out, "an argument\n");
}
#else
TEST(ChildRunner, AMissingProgramFailsAtOnceAndAPresentOneRuns) {
  // A missing file is no passing trouble: one attempt, no pauses for retries.
  const auto start = std::chrono::steady_clock::now();
  const ChildRunner::Outcome missing = ChildRunner::Run({"C:\\nonexistent\\program.exe"}, 5);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(missing.end, ChildRunner::End::NOT_STARTED);
  EXPECT_NE(missing.error.find("cannot start C:\\nonexistent\\program.exe (error 2)"), std::string::npos)
      << missing.error;
  EXPECT_LT(seconds, 0.25);
  const ChildRunner::Outcome present = ChildRunner::Run({ChildRunner::SelfPath(), "--gtest_list_tests"}, 60);
  EXPECT_EQ(present.end, ChildRunner::End::EXITED) << present.error;
  EXPECT_EQ(present.code, 0);
  EXPECT_NE(present.out.find("AMissingProgramFailsAtOnceAndAPresentOneRuns"), std::string::npos);
}
#endif

TEST(Validator, ResultLineRoundTripsThroughTheChildsOutput) {
  for (const std::string& message : {std::string("plain"), std::string("two\nlines and a \\ backslash"),
                                     std::string(""), std::string("@qxresult pass 0 0 inside")}) {
    CheckResult sent = CheckResult::Fail(message);
    sent.status = CheckStatus::TIMEOUT;
    sent.stop = true;
    const std::string out = "module says hi\n" + Validator::ResultLine(sent);
    CheckResult got;
    std::string rest;
    ASSERT_TRUE(Validator::ParseResult(out, &got, &rest)) << out;
    EXPECT_EQ(got.status, CheckStatus::TIMEOUT);
    EXPECT_TRUE(got.stop);
    EXPECT_FALSE(got.unloadable);
    EXPECT_EQ(got.message, message);
    EXPECT_EQ(rest, "module says hi\n");
  }
  CheckResult got;
  std::string rest;
  EXPECT_FALSE(Validator::ParseResult("no result here\n", &got, &rest));
  EXPECT_EQ(rest, "no result here\n");
  EXPECT_FALSE(Validator::ParseResult("text @qxresult pass 0 0 not at a line start\n", &got, &rest));
  EXPECT_FALSE(Validator::ParseResult("@qxresult maybe 0 0 unknown status\n", &got, &rest));
}

struct Selection {
  const char* name;
  std::string include, exclude;
  std::vector<std::string> expected;  // empty: check the count only
  size_t count;
};

class ValidatorSelect : public ::testing::TestWithParam<Selection> {};

TEST_P(ValidatorSelect, PicksChecksByName) {
  const Selection& s = GetParam();
  Validator::Options options;
  options.include = s.include;
  options.exclude = s.exclude;
  std::vector<const ValidationCheck*> checks;
  std::string error;
  ASSERT_TRUE(Validator::Select(options, &checks, &error)) << error;
  EXPECT_EQ(checks.size(), s.count);
  if (!s.expected.empty()) {
    std::vector<std::string> names;
    for (const ValidationCheck* c : checks) names.push_back(c->name);
    EXPECT_EQ(names, s.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ValidatorSelect,
    ::testing::Values(
        Selection{"Everything", "", "", {}, CheckCatalog::All().size()},
        Selection{"OneGroup", "^gui\\.", "", {"gui.unknown-opcodes", "gui.edit-storm", "gui.interleaved", "gui.deterministic"}, 4},
        Selection{"SearchNotMatch", "oracle", "", {"converter.oracle"}, 1},
        Selection{"IncludeThenExclude", "^(dsp|realtime)", "process", {"dsp.unknown-opcodes", "dsp.pin-list", "dsp.lifecycle", "realtime.gui-pin-change"}, 4},
        Selection{"ExcludeOnly", "", "^loading", {}, CheckCatalog::All().size() - 5},
        Selection{"Nothing", "no such check", "", {}, 0}),
    ParamName());

TEST(Validator, RefusesAPatternThatIsNoRegularExpression) {
  Validator::Options options;
  options.exclude = "(unclosed";
  std::vector<const ValidationCheck*> checks;
  std::string error;
  EXPECT_FALSE(Validator::Select(options, &checks, &error));
  EXPECT_EQ(error, "not a regular expression: '(unclosed'");
}

TEST(ValidationReport, JsonStringsStayValidForAnyBytes) {
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  const std::string json = ValidationReport::JsonString(bytes);
  JsonValue value;
  std::string error;
  ASSERT_TRUE(JsonValue::Parse(json, &value, &error)) << error;
  EXPECT_EQ(value.string.substr(0x1F, 0x60), bytes.substr(0x1F, 0x60)) << "printable ASCII unchanged";
  EXPECT_EQ(ValidationReport::XmlText("a<b>&\"c\"'\x01\xff"), "a&lt;b&gt;&amp;&quot;c&quot;&apos;??");
}

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

// The tool in this process: --in-process runs the checks here, where this
// binary's allocation hooks see the module's allocations.
int RunInProcess(const std::vector<std::string>& args, std::string* out) {
  std::ostringstream out_stream, err_stream;
  QXHostTool tool(out_stream, err_stream);
  const int code = tool.Run(args);
  *out = out_stream.str() + err_stream.str();
  return code;
}

TEST(Validator, InProcessRunsTheChecksHere) {
  std::string out;
  EXPECT_EQ(RunInProcess({"validate", "--in-process", "--size", "8", QX_PRODUCT}, &out), 0) << out;
#ifdef _WIN32
  // A Windows module's allocations cannot be counted: the real-time checks skip.
  EXPECT_NE(out.find("summary: 20 checks on 1 module: 18 passed, 0 warned, 2 skipped"), std::string::npos) << out;
  EXPECT_EQ(RunInProcess({"validate", "--in-process", "--include", "realtime", Module("faulty_allocates.qxm")}, &out),
            0);
  EXPECT_NE(out.find("skip     realtime.gui-pin-change"), std::string::npos) << out;
#else
  EXPECT_NE(out.find("summary: 20 checks on 1 module: 20 passed"), std::string::npos) << out;
  EXPECT_EQ(RunInProcess({"validate", "--in-process", "--include", "realtime", Module("faulty_allocates.qxm")}, &out),
            1);
  EXPECT_NE(out.find("fail     realtime.gui-pin-change    GUI_OP_PIN_VALUE_CHANGED"), std::string::npos) << out;
  EXPECT_NE(out.find("pass     realtime.dsp-process"), std::string::npos) << out;
#endif
}

TEST(Validator, HelpDescribesValidateAndListChecks) {
  std::string out;
  EXPECT_EQ(RunInProcess({"validate", "--help"}, &out), 0);
  for (const char* option : {"--include", "--exclude", "--seed", "--size", "--timeout", "--only-failed", "--json",
                             "--junit", "--trace", "--in-process"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(RunInProcess({"--help"}, &out), 0);
  EXPECT_NE(out.find("validate MODULE..."), std::string::npos);
  EXPECT_NE(out.find("list-checks"), std::string::npos);
}

}  // namespace
