// qxhost validate end to end, through the executable: every deliberately
// broken test module fails exactly the check meant for it (with the status
// and the reason expected) and no other, the product and the framework-free
// twin pass every check, and the reports (JSON, JUnit, trace) read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CheckCatalog.h"
#include "JsonValue.h"
#include "ParamName.h"
#include "QxHostRun.h"
#include "XmlElement.h"

namespace {

JsonValue ParseJson(const std::string& text) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(JsonValue::Parse(text, &value, &error)) << error << "\n" << text;
  return value;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("qx-validator-test-" + name)).string();
}

// What a check should report where the expected outcome is `status`: where
// allocation counting cannot see a module (Windows), the real-time checks skip.
std::string Expected(const std::string& check, const std::string& status) {
#ifdef _WIN32
  if (check.rfind("realtime.", 0) == 0) return "skip";
#else
  (void)check;
#endif
  return status;
}

// The statuses of one module's checks, by name.
std::map<std::string, std::string> Statuses(const JsonValue& module) {
  std::map<std::string, std::string> statuses;
  for (const JsonValue& check : module["checks"].array) statuses[check["name"].string] = check["status"].string;
  return statuses;
}

struct Broken {
  const char* name;
  const char* file;
  std::map<std::string, std::string> failing;  // check -> status
  const char* reason;                          // in the first failing check's message
  bool others_may_skip;                        // the host refuses the module: instance checks skip
  const char* also = "";                       // a second part of that message
};

class BrokenModules : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenModules, FailExactlyTheirOwnCheck) {
  const Broken& b = GetParam();
  const bool hangs = !b.failing.empty() && b.failing.begin()->second == "timeout";
  QxHostRun run({"validate", "--json", "--seed", "7", "--size", "16", "--timeout", hangs ? "2" : "60",
                 QxHostRun::Module(b.file)});
  ASSERT_TRUE(run.exited) << run.err;
  const JsonValue report = ParseJson(run.out);
  ASSERT_EQ(report["modules"].array.size(), 1u);
  const auto statuses = Statuses(report["modules"][0]);
  EXPECT_EQ(statuses.size(), CheckCatalog::All().size()) << "every check is reported";
  bool fails = false;
  for (const auto& s : statuses) {
    const auto failing = b.failing.find(s.first);
    const std::string expected = Expected(s.first, failing != b.failing.end() ? failing->second : "pass");
    fails = fails || (expected != "pass" && expected != "skip");
    if (b.others_may_skip && failing == b.failing.end()) {
      EXPECT_TRUE(s.second == "pass" || s.second == "skip") << s.first << ": " << s.second;
    } else {
      EXPECT_EQ(s.second, expected) << s.first;
    }
  }
  EXPECT_EQ(run.code, fails ? 1 : 0) << run.err;
  for (const JsonValue& check : report["modules"][0]["checks"].array) {
    if (!b.failing.empty() && check["name"].string == b.failing.begin()->first && check["status"].string != "skip") {
      EXPECT_NE(check["message"].string.find(b.reason), std::string::npos) << check["message"].string;
      EXPECT_NE(check["message"].string.find(b.also), std::string::npos) << check["message"].string;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Validate, BrokenModules,
    ::testing::Values(
        Broken{"MissingExport", "no_make_module.qxm", {{"loading.exports", "fail"}}, "no makeModule", true},
        Broken{"RefusesIndex0", "refuses_index0.qxm", {{"loading.properties", "fail"}}, "expected true, got false",
               true},
        Broken{"OldVersion", "old_version.qxm", {{"loading.properties", "fail"}, {"loading.other-indices", "fail"}},
               "got 2229", true},
        Broken{"VersionOnlyForIndex0", "faulty_version_only_index0.qxm", {{"loading.other-indices", "fail"}},
               "nothing written", false},
        Broken{"UnstableProperties", "faulty_unstable_properties.qxm", {{"loading.properties", "fail"}},
               "about: expected", false},
        Broken{"LongAbout", "faulty_long_about.qxm", {{"loading.texts", "fail"}}, "no terminator within 4096",
               false},
        Broken{"WrongMagic", "faulty_wrong_magic.qxm", {{"factory.records", "fail"}},
               "magic: expected 0x5158504C, got 0x5158505A", false},
        Broken{"AcceptsType3", "faulty_accepts_type3.qxm", {{"factory.refusals", "fail"}}, "makeModule(0, 3)", false},
        Broken{"NoCallbackCrash", "faulty_no_callback_crash.qxm", {{"factory.no-callback", "crash"}}, "process",
               false},
        Broken{"CrashOnUnknownOpcode", "faulty_crash_on_unknown.qxm", {{"dsp.unknown-opcodes", "crash"}},
               "process", false},
        Broken{"ThrowsOnUnknownOpcode", "faulty_throws_on_unknown.qxm", {{"dsp.unknown-opcodes", "crash"}},
               "exception: opcode 4 is not for me", false},
        Broken{"PatchStoreOnInput", "faulty_patch_store.qxm", {{"dsp.pin-list", "fail"}}, "IO_PATCH_STORE only", false},
        Broken{"CloseAnswers0", "faulty_close_answers_0.qxm", {{"dsp.lifecycle", "fail"}},
               "DSP_OP_CLOSE: expected 1, got 0", false},
        Broken{"Hangs", "faulty_hangs.qxm", {{"gui.unknown-opcodes", "timeout"}}, "no result within 2 s", false},
        Broken{"RecursesOnEcho", "faulty_no_guard.qxm", {{"gui.edit-storm", "fail"}}, "recursion without bound",
               false},
        Broken{"SharedState", "faulty_shared_state.qxm", {{"gui.interleaved", "fail"}}, "other instance open", false},
        Broken{"LeftoverState", "faulty_leftover_state.qxm", {{"gui.deterministic", "fail"}},
               "second fresh instance", false},
        Broken{"UnknownHostOpcode", "faulty_unknown_host_opcode.qxm", {{"callback.dsp", "fail"}},
               "expected a known host opcode, got 99", false},
        Broken{"WrongRecord", "faulty_wrong_record.qxm", {{"callback.gui", "fail"}}, "with the record of instance 0",
               false, "got that of an instance already closed"},
        Broken{"ChangesItsVersion", "faulty_changes_version.qxm", {{"gui.edit-storm", "fail"}},
               "the record reads magic 0x5158504D version 2: expected them unchanged", false},
        Broken{"AllocatesOnPinChange", "faulty_allocates.qxm", {{"realtime.gui-pin-change", "fail"}},
               "expected no heap allocation, got 1 allocation", false},
        Broken{"AllocatesInProcess", "faulty_allocates_in_process.qxm", {{"realtime.dsp-process", "fail"}},
               "expected no heap allocation, got 1 allocation", false},
        Broken{"FloatMath", "faulty_float_math.qxm", {{"converter.oracle", "fail"}}, "expected", false},
        Broken{"TwinWithoutFault", "faulty_none.qxm", {}, "", false}),
    ParamName());

TEST(Validate, TheProductPassesEveryCheck) {
  QxHostRun run({"validate", "--json", "--size", "32", QX_PRODUCT});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.code, 0) << run.out;
  const JsonValue report = ParseJson(run.out);
  const JsonValue& module = report["modules"][0];
  EXPECT_EQ(module["path"].string, QX_PRODUCT);
  EXPECT_TRUE(module["loadable"].boolean);
  for (const JsonValue& check : module["checks"].array) {
    EXPECT_EQ(check["status"].string, Expected(check["name"].string, "pass"))
        << check["name"].string << ": " << check["message"].string;
    EXPECT_GE(check["seconds"].number, 0.0);
  }
  EXPECT_NE(module["checks"].array.back()["message"].string.find("writes checked"), std::string::npos)
      << "the oracle ran rather than skipped";
}

TEST(Validate, JsonSummaryAgreesWithTheChecksAndTheExitCode) {
  QxHostRun run({"validate", "--json", "--seed", "11", "--size", "8", "--include", "^(loading|factory)\\.",
                 QxHostRun::Module("faulty_wrong_magic.qxm"), QxHostRun::Module("faulty_none.qxm")});
  ASSERT_TRUE(run.exited);
  const JsonValue report = ParseJson(run.out);
  EXPECT_EQ(report["seed"].number, 11.0);
  EXPECT_EQ(report["size"].number, 8.0);
  EXPECT_EQ(report["exit_code"].number, static_cast<double>(run.code));
  EXPECT_EQ(run.code, 1);
  std::map<std::string, int> counted;
  size_t checks = 0;
  for (const JsonValue& module : report["modules"].array) {
    EXPECT_EQ(module["checks"].array.size(), 8u) << "five loading and three factory checks";
    for (const JsonValue& check : module["checks"].array) {
      ++counted[check["status"].string];
      ++checks;
      EXPECT_EQ(check["seed"].type, check["name"].string == "loading.other-indices" ? JsonValue::Type::NUMBER
                                                                                     : JsonValue::Type::NUL)
          << check["name"].string;
    }
  }
  const JsonValue& summary = report["summary"];
  EXPECT_EQ(summary["checks"].number, static_cast<double>(checks));
  for (const char* status : {"pass", "warn", "skip", "fail", "crash", "timeout"})
    EXPECT_EQ(summary[status].number, counted[status]) << status;
  EXPECT_EQ(counted["fail"], 1);
  // With --json the one summary line goes to the error stream.
  EXPECT_EQ(run.err.rfind("summary: 16 checks on 2 modules: 15 passed", 0), 0u) << run.err;
}

TEST(Validate, JunitReportReadsBack) {
  const std::string path = TempPath("junit.xml");
  QxHostRun run({"validate", "--junit", path, "--size", "8", "--timeout", "2", QxHostRun::Module("faulty_hangs.qxm"),
                 QxHostRun::Module("faulty_close_answers_0.qxm"), QxHostRun::Module("no_make_module.qxm")});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.code, 1);
  XmlElement root;
  std::string error;
  ASSERT_TRUE(XmlElement::Parse(ReadFile(path), &root, &error)) << error;
  std::remove(path.c_str());
  EXPECT_EQ(root.name, "testsuites");
  const auto suites = root.Children("testsuite");
  ASSERT_EQ(suites.size(), 3u);
  const size_t all = CheckCatalog::All().size();
  EXPECT_EQ(root.Attribute("tests"), std::to_string(3 * all));
  EXPECT_EQ(root.Attribute("failures"), "2") << "close answers 0; the missing export";
  EXPECT_EQ(root.Attribute("errors"), "1") << "the timeout";
  size_t realtime_skips = 0;
  for (const ValidationCheck& check : CheckCatalog::All())
    realtime_skips += Expected(check.name, "pass") == "skip" ? 2u : 0u;  // in the two modules that load
  EXPECT_EQ(root.Attribute("skipped"), std::to_string(all - 1 + realtime_skips))
      << "all but loading.exports of no_make_module";
  EXPECT_EQ(suites[0]->Attribute("name"), QxHostRun::Module("faulty_hangs.qxm"));
  EXPECT_EQ(suites[0]->Children("testcase").size(), all);
  for (const XmlElement* testcase : suites[1]->Children("testcase")) {
    const auto failures = testcase->Children("failure");
    if (testcase->Attribute("name") == "dsp.lifecycle") {
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_EQ(failures[0]->Attribute("message"), "DSP_OP_CLOSE: expected 1, got 0");
    } else {
      EXPECT_TRUE(failures.empty()) << testcase->Attribute("name");
    }
  }
  for (const XmlElement* testcase : suites[0]->Children("testcase")) {
    const auto errors = testcase->Children("error");
    EXPECT_EQ(errors.size(), testcase->Attribute("name") == "gui.unknown-opcodes" ? 1u : 0u)
        << testcase->Attribute("name");
    if (!errors.empty()) {
      EXPECT_EQ(errors[0]->Attribute("type"), "timeout");
    }
  }
}

TEST(Validate, TraceHoldsEveryCallInBothDirections) {
  const std::string path = TempPath("trace.jsonl");
  QxHostRun run({"validate", "--trace", path, "--size", "8", "--include", "factory.records|dsp.lifecycle|callback.gui",
                 QX_PRODUCT});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  std::istringstream lines(ReadFile(path));
  std::remove(path.c_str());
  // Each check's calls, in the order they began.
  std::map<std::string, std::map<double, JsonValue>> by_check;
  std::set<std::string> checks_started, calls;
  for (std::string line; std::getline(lines, line);) {
    const JsonValue entry = ParseJson(line);
    if (entry["event"].string == "start") {
      checks_started.insert(entry["check"].string);
      continue;
    }
    for (const char* field : {"check", "seq", "time", "direction", "call", "depth", "record", "result"})
      EXPECT_TRUE(entry.Has(field)) << field << " in " << line;
    // Checks run side by side: their lines interleave, each names its check.
    EXPECT_TRUE(by_check[entry["check"].string].emplace(entry["seq"].number, entry).second)
        << "one sequence number per call";
  }
  int callbacks = 0, to_module = 0;
  for (const auto& c : by_check) {
    std::set<unsigned long long> records;  // what makeModule returned so far
    for (const auto& e : c.second) {
      const JsonValue& entry = e.second;
      calls.insert(entry["call"].string);
      const unsigned long long record = std::strtoull(entry["record"].string.c_str(), nullptr, 16);
      if (entry["call"].string == "makeModule") records.insert(record);
      if (entry["direction"].string == "module>host") {
        ++callbacks;
        // A callback names its caller's record, which makeModule handed out
        // (to the host, or already to the constructor).
        EXPECT_EQ(records.count(record), 1u) << entry["seq"].number << " in " << c.first;
        EXPECT_NE(entry["name"].string, "unknown");
      } else {
        EXPECT_EQ(entry["direction"].string, "host>module");
        ++to_module;
      }
    }
  }
  EXPECT_EQ(checks_started, (std::set<std::string>{"loading.exports", "factory.records", "dsp.lifecycle",
                                                   "callback.gui"}));
  EXPECT_GT(callbacks, 0);
  EXPECT_GT(to_module, callbacks / 4);
  for (const char* call : {"getModuleProperties", "makeModule", "dsp_dispatch", "gui_dispatch", "dsp_callback",
                           "gui_callback"})
    EXPECT_EQ(calls.count(call), 1u) << call;
#if !(defined(_WIN32) && !defined(_WIN64))
  EXPECT_EQ(calls.count("process"), 1u);
#endif
}

// The failure text of the oracle on the float-math module, for a seed.
std::string OracleFailure(const std::vector<std::string>& seed_args, std::string* seed_line) {
  std::vector<std::string> args = {"validate", "--include", "converter.oracle", "--size", "64"};
  args.insert(args.end(), seed_args.begin(), seed_args.end());
  args.push_back(QxHostRun::Module("faulty_float_math.qxm"));
  QxHostRun run(args);
  EXPECT_EQ(run.code, 1) << run.out;
  const size_t at = run.out.find("converter.oracle");
  if (seed_line != nullptr) *seed_line = run.out.substr(0, run.out.find('\n'));
  return at == std::string::npos ? "" : run.out.substr(at, run.out.find('\n', at) - at);
}

TEST(Validate, TheSameSeedRepeatsARandomisedCheck) {
  std::string header;
  const std::string first = OracleFailure({}, &header);
  const size_t at = header.find("(seed ");
  ASSERT_NE(at, std::string::npos) << header;
  const std::string seed = header.substr(at + 6, header.find(',', at) - at - 6);
  EXPECT_NE(first.find("[seed " + seed + "]"), std::string::npos) << first;
  EXPECT_EQ(OracleFailure({"--seed", seed}, nullptr), first);
  EXPECT_EQ(OracleFailure({"--seed=" + seed}, nullptr), first);
  const std::string other = seed == "1" ? "2" : "1";
  EXPECT_NE(OracleFailure({"--seed", other}, nullptr), first) << "another seed draws other edits";
}

TEST(Validate, TextOutputWithOnlyFailedEndsWithOneSummaryLine) {
  QxHostRun run({"validate", "--only-failed", "--size", "8", QxHostRun::Module("faulty_crash_on_unknown.qxm")});
  EXPECT_EQ(run.code, 1);
  std::istringstream lines(run.out);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_GE(all.size(), 3u) << run.out;
  EXPECT_EQ(all[0].rfind("validate ", 0), 0u);
  EXPECT_EQ(all[1].rfind("  crash    dsp.unknown-opcodes", 0), 0u) << all[1];
  EXPECT_EQ(all.back().rfind("summary: 20 checks on 1 module: ", 0), 0u) << all.back();
  EXPECT_NE(all.back().find(" 0 failed, 1 crashed, 0 timed out"), std::string::npos) << all.back();
  int summaries = 0;
  for (const std::string& line : all) {
    summaries += line.rfind("summary:", 0) == 0;
    EXPECT_EQ(line.find("  pass "), std::string::npos) << "--only-failed hides passes: " << line;
  }
  EXPECT_EQ(summaries, 1);
}

struct ExitCase {
  const char* name;
  std::vector<std::string> args;
  long code;
  const char* message;  // on the error stream
};

class ValidateExitCodes : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ValidateExitCodes, ExitStatusAndMessage) {
  const ExitCase& c = GetParam();
  std::vector<std::string> args = {"validate", "--size", "4"};
  for (const std::string& a : c.args) args.push_back(a.rfind("mod:", 0) == 0 ? QxHostRun::Module(a.substr(4)) : a == "PRODUCT" ? QX_PRODUCT : a);
  QxHostRun run(args);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.code, c.code) << run.out << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ValidateExitCodes,
    ::testing::Values(ExitCase{"AllPassed", {"PRODUCT"}, 0, ""},
                      ExitCase{"OneFailed", {"PRODUCT", "mod:faulty_wrong_magic.qxm"}, 1, ""},
                      ExitCase{"NotALibrary", {"mod:not_a_library.qxm"}, 2, "no loadable module"},
                      ExitCase{"NoSuchFile", {"mod:nowhere.qxm"}, 2, "no loadable module"},
                      ExitCase{"OneUnloadableAmongOthers", {"PRODUCT", "mod:not_a_library.qxm"}, 1, ""},
                      ExitCase{"NoModule", {}, 2, "usage: qxhost validate"},
                      ExitCase{"UnknownOption", {"--fast", "PRODUCT"}, 2, "unknown option '--fast'"},
                      ExitCase{"BadRegex", {"--include", "([", "PRODUCT"}, 2, "not a regular expression"},
                      ExitCase{"BadSeed", {"--seed", "-3", "PRODUCT"}, 2, "bad seed"},
                      ExitCase{"BadTimeout", {"--timeout", "0", "PRODUCT"}, 2, "bad timeout"},
                      ExitCase{"BadSize", {"--size", "many", "PRODUCT"}, 2, "bad size"},
                      ExitCase{"MissingValue", {"PRODUCT", "--junit"}, 2, "--junit needs a value"}),
    ParamName());

#ifndef _WIN32
// Every check's process starts through the launcher: in a cross build that is
// the emulator, taken even where the kernel could run the program itself, so
// that this passing on one machine proves the road every machine takes.
TEST(Validate, StartsEveryCheckThroughTheLauncher) {
  const std::string log = TempPath("launches");
  std::remove(log.c_str());
  const std::string emulator = QX_EMULATOR;
  const char* saved = std::getenv("QXHOST_CHILD_LAUNCHER");
  const std::string before = saved != nullptr ? saved : "";
  setenv("QXHOST_CHILD_LAUNCHER", ("/bin/sh " QX_TESTS_SOURCE_DIR "/note-launch.sh " + log + " " + emulator).c_str(),
         1);
  QxHostRun run({"validate", "--jobs", "2", "--include", "^loading\\.", "--size", "4", QX_PRODUCT});
  if (saved != nullptr) {
    setenv("QXHOST_CHILD_LAUNCHER", before.c_str(), 1);
  } else {
    unsetenv("QXHOST_CHILD_LAUNCHER");
  }
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  std::istringstream lines(ReadFile(log));
  std::vector<std::string> starts;
  for (std::string line; std::getline(lines, line);) starts.push_back(line);
  std::remove(log.c_str());
  EXPECT_EQ(starts.size(), 5u) << "one start for each loading check";
  const std::string program = (emulator.empty() ? "" : emulator + " ") + QX_QXHOST + " validate --run-check loading.";
  for (const std::string& start : starts) EXPECT_EQ(start.rfind(program, 0), 0u) << start;
}
#endif

TEST(Validate, ListChecksNamesEveryCheckOnce) {
  QxHostRun run({"list-checks"});
  ASSERT_EQ(run.code, 0);
  std::istringstream lines(run.out);
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);) names.push_back(line.substr(0, line.find(' ')));
  ASSERT_EQ(names.size(), CheckCatalog::All().size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], CheckCatalog::All()[i].name);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names.front(), "loading.exports") << "the check the others need runs first";
}

}  // namespace
