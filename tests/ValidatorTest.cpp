// qxhost validate end to end, through the executable: every deliberately
// broken test module fails exactly the check meant for it (with the status
// and the reason expected) and no other, the product and the framework-free
// twin pass every check, and the reports (JSON, JUnit, trace) read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <rapidxml/rapidxml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "CheckCatalog.h"
#include "JsonText.h"
#include "MemoryChecker.h"
#include "ParamName.h"
#include "QXHostRun.h"
#include "QXHostTool.h"
#include "TraceWriter.h"
#include "UniqueTempPath.h"
#include "Validator.h"

namespace {

Json ParseJson(const std::string& text) {
  try {
    return Json::parse(text);
  } catch (const Json::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << text;
    return Json::object();
  }
}

// A field of a JSON object; missing fields read as null.
const Json& Field(const Json& object, const char* key) {
  static const Json missing;
  if (!object.is_object()) return missing;
  const auto it = object.find(key);
  return it != object.end() ? *it : missing;
}
std::string Text(const Json& object, const char* key) {
  const Json& field = Field(object, key);
  return field.is_string() ? field.get<std::string>() : "";
}
double Number(const Json& object, const char* key) {
  const Json& field = Field(object, key);
  return field.is_number() ? field.get<double>() : std::numeric_limits<double>::quiet_NaN();
}

// The elements named `name` among an XML element's children.
std::vector<const rapidxml::xml_node<>*> Children(const rapidxml::xml_node<>* node, const char* name) {
  std::vector<const rapidxml::xml_node<>*> found;
  for (const rapidxml::xml_node<>* child = node->first_node(name); child != nullptr;
       child = child->next_sibling(name))
    found.push_back(child);
  return found;
}
std::string Attribute(const rapidxml::xml_node<>* node, const char* name) {
  const rapidxml::xml_attribute<>* attribute = node->first_attribute(name);
  return attribute != nullptr ? attribute->value() : "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ValidatorTempPath(const std::string& name) { return UniqueTempPath("qx-validator-test-", name); }

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

// The checks a run makes at the default strictness, and the loading ones.
size_t DefaultChecks() {
  size_t count = 0;
  for (const ValidationCheck& check : CheckCatalog::All()) count += check.level <= 1 ? 1u : 0u;
  return count;
}
size_t LoadingChecksCount() {
  size_t count = 0;
  for (const ValidationCheck& check : CheckCatalog::All())
    count += std::string(check.name).rfind("loading.", 0) == 0 ? 1u : 0u;
  return count;
}

// The statuses of one module's checks, by name.
std::map<std::string, std::string> Statuses(const Json& module) {
  std::map<std::string, std::string> statuses;
  for (const Json& check : Field(module, "checks")) statuses[Text(check, "name")] = Text(check, "status");
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

// The time limit of a run where a module that hangs meets checks that must
// finish: only the hang may reach it, also on a machine busy with other tests.
constexpr const char* kHangLimit = "10";

TEST_P(BrokenModules, FailExactlyTheirOwnCheck) {
  const Broken& b = GetParam();
  const bool hangs = !b.failing.empty() && b.failing.begin()->second == "timeout";
  QXHostRun run({"validate", "--json", "--seed", "7", "--size", "16", "--timeout", hangs ? kHangLimit : "60",
                 QXHostRun::Module(b.file)});
  ASSERT_TRUE(run.exited) << run.err;
  const Json report = ParseJson(run.out);
  ASSERT_EQ(Field(report, "modules").size(), 1u);
  const auto statuses = Statuses(Field(report, "modules")[0]);
  EXPECT_EQ(statuses.size(), DefaultChecks()) << "every check is reported";
  bool fails = false;
  for (const auto& s : statuses) {
    const auto failing = b.failing.find(s.first);
    const std::string expected = Expected(s.first, failing != b.failing.end() ? failing->second : "pass");
    fails = fails || (expected != "pass" && expected != "skip" && expected != "warn");
    if (b.others_may_skip && failing == b.failing.end()) {
      EXPECT_TRUE(s.second == "pass" || s.second == "skip" || s.second == "inapplicable")
          << s.first << ": " << s.second;
    } else {
      EXPECT_EQ(s.second, expected) << s.first;
    }
  }
  EXPECT_EQ(run.code, fails ? 1 : 0) << run.err;
  for (const Json& check : Field(Field(report, "modules")[0], "checks")) {
    if (!b.failing.empty() && Text(check, "name") == b.failing.begin()->first &&
        Text(check, "status") != "skip") {
      EXPECT_NE(Text(check, "message").find(b.reason), std::string::npos) << Text(check, "message");
      EXPECT_NE(Text(check, "message").find(b.also), std::string::npos) << Text(check, "message");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Validate, BrokenModules,
    ::testing::Values(
        Broken{"MissingExport", "no_make_module.qxm", {{"loading.exports", "fail"}}, "no makeModule", true},
        Broken{"RefusesIndex0",
               "refuses_index0.qxm",
               {{"loading.properties", "fail"}},
               "expected true, got false",
               true},
        Broken{"OldVersion",
               "old_version.qxm",
               {{"loading.properties", "fail"}, {"loading.other-indices", "fail"}},
               "got 2229",
               true},
        // A gain that clears its input buffer once it has read it.
        Broken{"WritesItsInput",
               "gain_writes_input.qxm",
               {{"dsp.input-buffers", "fail"}},
               "process_entry(offset 0, count 1) wrote input pin 0 at sample 0 (block size 17) at 44100 Hz: "
               "expected",
               true,
               "the input buffers as the host wrote them"},
        // A gain whose GUI side hands the DSP side its gain through a global.
        Broken{"SharesAGlobal",
               "gain_shared_global.qxm",
               {{"dsp.interleaved", "fail"}},
               "instance 1's output pin 1 from sample 0, interleaved, is what instance 2's edits give",
               true,
               "state shared between instances?"},
        Broken{"VersionOnlyForIndex0",
               "faulty_version_only_index0.qxm",
               {{"loading.other-indices", "fail"}},
               "nothing written",
               false},
        Broken{"UnstableProperties",
               "faulty_unstable_properties.qxm",
               {{"loading.properties", "fail"}},
               "about: expected",
               false},
        Broken{"LongAbout",
               "faulty_long_about.qxm",
               {{"loading.texts", "fail"}},
               "no terminator within 4096",
               false},
        Broken{"WrongMagic",
               "faulty_wrong_magic.qxm",
               {{"factory.records", "fail"}},
               "magic: expected 0x5158504C, got 0x5158505A",
               false},
        Broken{"AcceptsType3",
               "faulty_accepts_type3.qxm",
               {{"factory.refusals", "fail"}},
               "makeModule(0, 3)",
               false},
        Broken{"NoCallbackCrash",
               "faulty_no_callback_crash.qxm",
               {{"factory.no-callback", "crash"}},
               "process",
               false},
        Broken{"CrashOnUnknownOpcode",
               "faulty_crash_on_unknown.qxm",
               {{"dsp.unknown-opcodes", "crash"}},
               "process",
               false},
        Broken{"ThrowsOnUnknownOpcode",
               "faulty_throws_on_unknown.qxm",
               {{"dsp.unknown-opcodes", "crash"}},
               "exception: opcode 4 is not for me",
               false},
        Broken{"PatchStoreOnInput",
               "faulty_patch_store.qxm",
               {{"dsp.pin-list", "fail"}},
               "IO_PATCH_STORE only",
               false},
        Broken{"CloseAnswers0",
               "faulty_close_answers_0.qxm",
               {{"dsp.lifecycle", "fail"}},
               "DSP_OP_CLOSE: expected 1, got 0",
               false},
        Broken{"Hangs",
               "faulty_hangs.qxm",
               {{"gui.unknown-opcodes", "timeout"}},
               "no result within 10 s",
               false},
        Broken{"RecursesOnEcho",
               "faulty_no_guard.qxm",
               {{"gui.edit-storm", "fail"}},
               "recursion without bound",
               false},
        Broken{"SharedState",
               "faulty_shared_state.qxm",
               {{"gui.interleaved", "fail"}},
               "other instance open",
               false},
        Broken{"LeftoverState",
               "faulty_leftover_state.qxm",
               {{"gui.deterministic", "fail"}},
               "second fresh instance",
               false},
        Broken{"UnknownHostOpcode",
               "faulty_unknown_host_opcode.qxm",
               {{"callback.dsp", "fail"}},
               "expected a known host opcode, got 99",
               false},
        Broken{"WrongRecord",
               "faulty_wrong_record.qxm",
               {{"callback.gui", "fail"}},
               "with the record of instance 0",
               false,
               "got that of an instance already closed"},
        Broken{"ChangesItsVersion",
               "faulty_changes_version.qxm",
               {{"gui.edit-storm", "fail"}},
               "the record reads magic 0x5158504D version 2: expected them unchanged",
               false},
        Broken{"PostsLate",
               "faulty_late_event.qxm",
               {{"dsp.lifecycle", "warn"}},
               "process_entry(offset 0, count 64) at clock 64 posted an event (type 2) for clock 63, "
               "already past",
               false,
               "never delivered"},
        Broken{"AllocatesOnPinChange",
               "faulty_allocates.qxm",
               {{"realtime.gui-pin-change", "fail"}},
               "expected no heap allocation, got 1 allocation",
               false},
        Broken{"AllocatesInProcess",
               "faulty_allocates_in_process.qxm",
               {{"realtime.dsp-process", "fail"}},
               "expected no heap allocation, got 1 allocation",
               false},
        Broken{"FloatMath", "faulty_float_math.qxm", {{"converter.oracle", "fail"}}, "expected", false},
        Broken{"DescribesItselfOtherwiseWhenLoadedAgain",
               "faulty_reload_differs.qxm",
               {{"loading.reload", "fail"}},
               "about after reloading",
               false},
        Broken{"ControlCharactersInItsName",
               "faulty_control_chars.qxm",
               {{"loading.texts", "fail"}},
               "\\x1B[31mmodule\\x07",
               false},
        Broken{"AbortsWhenLoaded", "faulty_load_abort.qxm", {{"loading.exports", "crash"}}, "process", true},
        Broken{"TwinWithoutFault", "faulty_none.qxm", {}, "", false}),
    ParamName());

TEST(Validate, TheProductPassesEveryCheck) {
  QXHostRun run({"validate", "--json", "--size", "32", QX_PRODUCT});
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.code, 0) << run.out;
  const Json report = ParseJson(run.out);
  const Json& module = Field(report, "modules")[0];
  EXPECT_EQ(Text(module, "path"), QX_PRODUCT);
  EXPECT_TRUE(Field(module, "loadable").get<bool>());
  for (const Json& check : Field(module, "checks")) {
    EXPECT_EQ(Text(check, "status"), Expected(Text(check, "name"), "pass"))
        << Text(check, "name") << ": " << Text(check, "message");
    EXPECT_GE(Number(check, "seconds"), 0.0);
  }
  EXPECT_NE(Text(Field(module, "checks").back(), "message").find("writes checked"), std::string::npos)
      << "the oracle ran rather than skipped";
}

TEST(Validate, JsonSummaryAgreesWithTheChecksAndTheExitCode) {
  QXHostRun run({"validate", "--json", "--seed", "11", "--size", "8", "--include", "^(loading|factory)\\.",
                 QXHostRun::Module("faulty_wrong_magic.qxm"), QXHostRun::Module("faulty_none.qxm")});
  ASSERT_TRUE(run.exited);
  const Json report = ParseJson(run.out);
  EXPECT_EQ(Number(report, "seed"), 11.0);
  EXPECT_EQ(Number(report, "size"), 8.0);
  EXPECT_EQ(Number(report, "exit_code"), static_cast<double>(run.code));
  EXPECT_EQ(run.code, 1);
  std::map<std::string, int> counted;
  size_t checks = 0;
  for (const Json& module : Field(report, "modules")) {
    EXPECT_EQ(Field(module, "checks").size(), LoadingChecksCount() + 3)
        << "the loading and the three factory checks";
    for (const Json& check : Field(module, "checks")) {
      ++counted[Text(check, "status")];
      ++checks;
      EXPECT_EQ(Field(check, "seed").is_number(), Text(check, "name") == "loading.other-indices")
          << Text(check, "name");
    }
  }
  const Json& summary = Field(report, "summary");
  EXPECT_EQ(Number(summary, "checks"), static_cast<double>(checks));
  for (const char* status : {"pass", "warn", "skip", "inapplicable", "fail", "crash", "timeout"})
    EXPECT_EQ(Number(summary, status), counted[status]) << status;
  EXPECT_EQ(counted["fail"], 1);
  // With --json the one summary line goes to the error stream.
  const size_t checks_run = 2 * (LoadingChecksCount() + 3);
  EXPECT_EQ(run.err.rfind("summary: " + std::to_string(checks_run) +
                              " checks on 2 modules: " + std::to_string(checks_run - 1) + " passed",
                          0),
            0u)
      << run.err;
}

TEST(Validate, JunitReportReadsBack) {
  const std::string path = ValidatorTempPath("junit.xml");
  QXHostRun run({"validate", "--junit", path, "--size", "8", "--timeout", kHangLimit,
                 QXHostRun::Module("faulty_hangs.qxm"), QXHostRun::Module("faulty_close_answers_0.qxm"),
                 QXHostRun::Module("no_make_module.qxm")});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.code, 1);
  std::string text = ReadFile(path);
  std::remove(path.c_str());
  rapidxml::xml_document<> document;
  try {
    document.parse<rapidxml::parse_validate_closing_tags>(text.data());
  } catch (const rapidxml::parse_error& e) {
    FAIL() << e.what() << " at offset " << (e.where<char>() - text.data());
  }
  const rapidxml::xml_node<>* root = document.first_node();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(std::string(root->name()), "testsuites");
  const auto suites = Children(root, "testsuite");
  ASSERT_EQ(suites.size(), 3u);
  const size_t all = DefaultChecks();
  EXPECT_EQ(Attribute(root, "tests"), std::to_string(3 * all));
  EXPECT_EQ(Attribute(root, "failures"), "2") << "close answers 0; the missing export";
  EXPECT_EQ(Attribute(root, "errors"), "1") << "the timeout";
  size_t realtime_skips = 0;
  for (const ValidationCheck& check : CheckCatalog::All())
    realtime_skips += Expected(check.name, "pass") == "skip" ? 2u : 0u;  // in the two modules that load
  EXPECT_EQ(Attribute(root, "skipped"), std::to_string(all - 1 + realtime_skips))
      << "all but loading.exports of no_make_module";
  EXPECT_EQ(Attribute(suites[0], "name"), QXHostRun::Module("faulty_hangs.qxm"));
  EXPECT_EQ(Children(suites[0], "testcase").size(), all);
  for (const rapidxml::xml_node<>* testcase : Children(suites[1], "testcase")) {
    const auto failures = Children(testcase, "failure");
    if (Attribute(testcase, "name") == "dsp.lifecycle") {
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_EQ(Attribute(failures[0], "message"), "DSP_OP_CLOSE: expected 1, got 0");
    } else {
      EXPECT_TRUE(failures.empty()) << Attribute(testcase, "name");
    }
  }
  for (const rapidxml::xml_node<>* testcase : Children(suites[0], "testcase")) {
    const auto errors = Children(testcase, "error");
    EXPECT_EQ(errors.size(), Attribute(testcase, "name") == "gui.unknown-opcodes" ? 1u : 0u)
        << Attribute(testcase, "name");
    if (!errors.empty()) {
      EXPECT_EQ(Attribute(errors[0], "type"), "timeout");
    }
  }
}

TEST(Validate, TraceHoldsEveryCallInBothDirections) {
  const std::string path = ValidatorTempPath("trace.jsonl");
  QXHostRun run({"validate", "--trace", path, "--size", "8", "--include",
                 "factory.records|dsp.lifecycle|callback.gui", QX_PRODUCT});
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  std::istringstream lines(ReadFile(path));
  std::remove(path.c_str());
  // Each check's calls, in the order they began.
  std::map<std::string, std::map<double, Json>> by_check;
  std::set<std::string> checks_started, calls;
  std::set<std::pair<std::string, double>> begun;  // calls whose line with a result is still to come
  for (std::string line; std::getline(lines, line);) {
    const Json entry = ParseJson(line);
    if (Text(entry, "event") == "run") {
      EXPECT_EQ(Field(entry, "modules"), Json::array({QX_PRODUCT})) << line;
      continue;
    }
    if (Text(entry, "event") == "start") {
      checks_started.insert(Text(entry, "check"));
      continue;
    }
    // Each call is written before it is made, and again with its result.
    const auto call = std::make_pair(Text(entry, "check"), Number(entry, "seq"));
    if (Field(entry, "begin").is_boolean()) {
      EXPECT_FALSE(entry.contains("result")) << line;
      EXPECT_TRUE(begun.insert(call).second) << "begun twice: " << line;
      continue;
    }
    EXPECT_EQ(begun.erase(call), 1u) << "a result without its beginning before it: " << line;
    for (const char* field : {"check", "seq", "time", "direction", "call", "depth", "record", "result"})
      EXPECT_TRUE(entry.contains(field)) << field << " in " << line;
    // Checks run side by side: their lines interleave, each names its check.
    EXPECT_TRUE(by_check[Text(entry, "check")].emplace(Number(entry, "seq"), entry).second)
        << "one sequence number per call";
  }
  int callbacks = 0, to_module = 0;
  for (const auto& c : by_check) {
    std::set<unsigned long long> records;  // what makeModule returned so far
    for (const auto& e : c.second) {
      const Json& entry = e.second;
      calls.insert(Text(entry, "call"));
      const unsigned long long record = std::strtoull(Text(entry, "record").c_str(), nullptr, 16);
      if (Text(entry, "call") == "makeModule") records.insert(record);
      if (Text(entry, "direction") == "module>host") {
        ++callbacks;
        // A callback names its caller's record, which makeModule handed out
        // (to the host, or already to the constructor).
        EXPECT_EQ(records.count(record), 1u) << Number(entry, "seq") << " in " << c.first;
        EXPECT_NE(Text(entry, "name"), "unknown");
      } else {
        EXPECT_EQ(Text(entry, "direction"), "host>module");
        ++to_module;
      }
    }
  }
  EXPECT_TRUE(begun.empty()) << begun.size() << " calls without a result in a run where every call returned";
  EXPECT_EQ(checks_started,
            (std::set<std::string>{"loading.exports", "factory.records", "dsp.lifecycle", "callback.gui"}));
  EXPECT_GT(callbacks, 0);
  EXPECT_GT(to_module, callbacks / 4);
  for (const char* call :
       {"getModuleProperties", "makeModule", "dsp_dispatch", "gui_dispatch", "dsp_callback", "gui_callback"})
    EXPECT_EQ(calls.count(call), 1u) << call;
#if !(defined(_WIN32) && !defined(_WIN64))
  EXPECT_EQ(calls.count("process"), 1u);
#endif
}

// The failure text of the oracle on the float-math module, for a seed.
std::string OracleFailure(const std::vector<std::string>& seed_args, std::string* seed_line) {
  std::vector<std::string> args = {"validate", "--include", "converter.oracle", "--size", "64"};
  args.insert(args.end(), seed_args.begin(), seed_args.end());
  args.push_back(QXHostRun::Module("faulty_float_math.qxm"));
  QXHostRun run(args);
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
  QXHostRun run(
      {"validate", "--only-failed", "--size", "8", QXHostRun::Module("faulty_crash_on_unknown.qxm")});
  EXPECT_EQ(run.code, 1);
  std::istringstream lines(run.out);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_GE(all.size(), 3u) << run.out;
  EXPECT_EQ(all[0].rfind("validate ", 0), 0u);
  EXPECT_EQ(all[1].rfind("  crash    dsp.unknown-opcodes", 0), 0u) << all[1];
  EXPECT_EQ(all.back().rfind("summary: " + std::to_string(DefaultChecks()) + " checks on 1 module: ", 0), 0u)
      << all.back();
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
  for (const std::string& a : c.args)
    args.push_back(a.rfind("mod:", 0) == 0 ? QXHostRun::Module(a.substr(4))
                   : a == "PRODUCT"        ? QX_PRODUCT
                                           : a);
  QXHostRun run(args);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.code, c.code) << run.out << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ValidateExitCodes,
    ::testing::Values(
        ExitCase{"AllPassed", {"PRODUCT"}, 0, ""},
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
        ExitCase{"MissingValue", {"PRODUCT", "--junit"}, 2, "--junit needs a value"},
        ExitCase{"SeedBeyondItsRange",
                 {"--seed", "18446744073709551616", "PRODUCT"},
                 2,
                 "bad seed '18446744073709551616': a whole number from 0 to 18446744073709551615"},
        ExitCase{"SeedNotEntirelyANumber", {"--seed", " 5", "PRODUCT"}, 2, "bad seed"},
        ExitCase{"TimeoutBeyondItsRange",
                 {"--timeout", "100000", "PRODUCT"},
                 2,
                 "seconds, more than 0 and at most 86400"},
        ExitCase{"FilterSelectsNothing", {"--include", "zzz", "PRODUCT"}, 2, "select no check"},
        ExitCase{"FilterExcludesEverything", {"--exclude", ".*", "PRODUCT"}, 2, "select no check"},
        ExitCase{"JunitInAMissingFolder",
                 {"--junit", "/nonexistent/folder/x.xml", "PRODUCT"},
                 2,
                 "/nonexistent/folder/x.xml: cannot write the JUnit report (No such file or directory)"}),
    ParamName());

#ifndef _WIN32
// Every check's process starts through the launcher: in a cross build that is
// the emulator, taken even where the kernel could run the program itself, so
// that this passing on one machine proves the road every machine takes.
TEST(Validate, StartsEveryCheckThroughTheLauncher) {
  const std::string log = ValidatorTempPath("launches");
  std::remove(log.c_str());
  const std::string emulator = QX_EMULATOR;
  const char* saved = std::getenv("QXHOST_CHILD_LAUNCHER");
  const std::string before = saved != nullptr ? saved : "";
  setenv("QXHOST_CHILD_LAUNCHER",
         ("/bin/sh " QX_TESTS_SOURCE_DIR "/note-launch.sh " + log + " " + emulator).c_str(), 1);
  QXHostRun run({"validate", "--jobs", "2", "--include", "^loading\\.", "--size", "4", QX_PRODUCT});
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
  EXPECT_EQ(starts.size(), LoadingChecksCount()) << "one start for each loading check";
  // The command line holds nothing but the request's option and number.
  const std::string program = (emulator.empty() ? "" : emulator + " ") + QX_QXHOST + " --qxhost-child 3";
  for (const std::string& start : starts) EXPECT_EQ(start, program);
}
#endif

TEST(Validate, ListChecksNamesEveryCheckOnce) {
  QXHostRun run({"list-checks"});
  ASSERT_EQ(run.code, 0);
  std::istringstream lines(run.out);
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);) names.push_back(line.substr(0, line.find(' ')));
  ASSERT_EQ(names.size(), CheckCatalog::All().size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], CheckCatalog::All()[i].name);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names.front(), "loading.exports") << "the check the others need runs first";
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
    ::testing::Values(Selection{"Everything", "", "", {}, DefaultChecks()},
                      Selection{
                          "OneGroup",
                          "^gui\\.",
                          "",
                          {"gui.unknown-opcodes", "gui.edit-storm", "gui.interleaved", "gui.deterministic"},
                          4},
                      Selection{"SearchNotMatch", "oracle", "", {"converter.oracle"}, 1},
                      Selection{"IncludeThenExclude",
                                "^(dsp|realtime)",
                                "process",
                                {"dsp.unknown-opcodes", "dsp.pin-list", "dsp.lifecycle", "dsp.input-buffers",
                                 "dsp.interleaved", "realtime.gui-pin-change"},
                                6},
                      Selection{"ExcludeOnly", "", "^loading", {}, DefaultChecks() - LoadingChecksCount()},
                      Selection{"ExcludeAllButOne", "", "^(?!dsp\\.lifecycle$)", {"dsp.lifecycle"}, 1}),
    ParamName());

TEST(Validator, RefusesAFilterThatSelectsNoCheck) {
  // A typo in a CI script's filter must not pass a module unchecked.
  for (const auto& filter : {std::make_pair(std::string("zzz"), std::string()),
                             std::make_pair(std::string(), std::string(".*"))}) {
    Validator::Options options;
    options.include = filter.first;
    options.exclude = filter.second;
    std::vector<const ValidationCheck*> checks;
    std::string error;
    EXPECT_FALSE(Validator::Select(options, &checks, &error)) << filter.first << filter.second;
    EXPECT_NE(error.find("select no check"), std::string::npos) << error;
  }
}

TEST(Validator, RefusesAPatternThatIsNoRegularExpression) {
  Validator::Options options;
  options.exclude = "(unclosed";
  std::vector<const ValidationCheck*> checks;
  std::string error;
  EXPECT_FALSE(Validator::Select(options, &checks, &error));
  EXPECT_EQ(error, "not a regular expression: '(unclosed'");
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
  EXPECT_NE(out.find("summary: " + std::to_string(DefaultChecks()) + " checks on 1 module: " +
                     std::to_string(DefaultChecks() - 2) + " passed, 0 warned, 2 skipped"),
            std::string::npos)
      << out;
  EXPECT_EQ(RunInProcess({"validate", "--in-process", "--include", "realtime",
                          QXHostRun::Module("faulty_allocates.qxm")},
                         &out),
            0);
  EXPECT_NE(out.find("skip     realtime.gui-pin-change"), std::string::npos) << out;
#else
  EXPECT_NE(out.find("summary: " + std::to_string(DefaultChecks()) +
                     " checks on 1 module: " + std::to_string(DefaultChecks()) + " passed"),
            std::string::npos)
      << out;
  EXPECT_EQ(RunInProcess({"validate", "--in-process", "--include", "realtime",
                          QXHostRun::Module("faulty_allocates.qxm")},
                         &out),
            1);
  EXPECT_NE(out.find("fail     realtime.gui-pin-change    GUI_OP_PIN_VALUE_CHANGED"), std::string::npos)
      << out;
  EXPECT_NE(out.find("pass     realtime.dsp-process"), std::string::npos) << out;
#endif
}

// The statuses of every check of a run on one module, from its JSON report.
std::map<std::string, Json> ChecksByName(const QXHostRun& run) {
  std::map<std::string, Json> checks;
  const Json report = ParseJson(run.out);
  for (const Json& check : Field(Field(report, "modules")[0], "checks")) checks[Text(check, "name")] = check;
  return checks;
}

#ifdef __linux__
// A module whose scratch buffer keeps the first block size overruns it once
// the block size grows: its check crashes, or its heap damage does later.
// The report names the run it crashed in, and the module's function that
// wrote past the buffer: from the memory checker that ran the check again,
// or from the sanitizer the module was built with.
TEST(Validate, ACrashNamesTheRunAndTheModulesFunction) {
  if (!std::string(QX_EMULATOR).empty()) GTEST_SKIP() << "no memory checker runs under an emulator";
  QXHostRun run({"validate", "--json", "--strictness", "2", "--include", "dsp.process-formats",
                 QXHostRun::Module("gain_overruns.qxm")});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  const Json check = ChecksByName(run)["dsp.process-formats"];
  const std::string message = Text(check, "message");
  EXPECT_EQ(Text(check, "status"), "crash") << message;
  EXPECT_NE(message.find("inside the run at 22050 Hz, block size 512"), std::string::npos) << message;
  EXPECT_NE((message + Text(check, "output")).find("ProcessThroughScratch"), std::string::npos)
      << message << "\n"
      << Text(check, "output");
}
#endif

TEST(Validate, AResultLineOnTheModulesOutputIsNotTakenForOne) {
  // The module prints the validator's old result line and ends the process
  // in makeModule: every check that makes an instance ended before reporting.
  QXHostRun run({"validate", "--json", "--size", "4", QXHostRun::Module("faulty_fake_result.qxm")});
  EXPECT_EQ(run.code, 1) << run.err;
  int crashed = 0;
  for (const auto& check : ChecksByName(run)) {
    if (check.first.rfind("loading.", 0) == 0) {
      EXPECT_EQ(Text(check.second, "status"), "pass") << check.first;
      continue;
    }
    ++crashed;
    // Every one of them, the real-time checks too: they make their instance
    // before they find out whether allocations can be counted here.
    EXPECT_EQ(Text(check.second, "status"), "crash") << check.first;
    {
      EXPECT_NE(
          Text(check.second, "message").find("ended before reporting (exit status 0) during makeModule(0, "),
          std::string::npos)
          << Text(check.second, "message");
      EXPECT_NE(Text(check.second, "output").find("@qxresult pass 0 0"), std::string::npos)
          << "the module's output is shown with the result";
      // A process that ended itself is not run again under the memory checker.
      EXPECT_EQ(Text(check.second, "message").find("run again under"), std::string::npos)
          << Text(check.second, "message");
    }
  }
  EXPECT_EQ(crashed, static_cast<int>(DefaultChecks() - LoadingChecksCount()));
}

TEST(Validate, AHangWhileLoadingSkipsTheChecksThatNeedTheModuleAtOnce) {
  // getModuleProperties never returns: the loading checks that ask it are
  // stopped at the limit; none of the others waits for it too, one check at
  // a time or two side by side.
  for (const int jobs : {1, 2}) {
    QXHostRun run({"validate", "--json", "--jobs", std::to_string(jobs), "--timeout", "5", "--size", "4",
                   QXHostRun::Module("faulty_hangs_loading.qxm")});
    EXPECT_EQ(run.code, 1);
    int timed_out = 0;
    for (const auto& check : ChecksByName(run)) {
      const std::string status = Text(check.second, "status");
      if (status == "timeout") {
        ++timed_out;
        EXPECT_NE(Text(check.second, "message").find("during getModuleProperties(0)"), std::string::npos)
            << Text(check.second, "message");
      } else if (check.first != "loading.exports") {
        EXPECT_EQ(status, "skip") << jobs << " " << check.first;
        EXPECT_EQ(Text(check.second, "message").rfind("not run: loading.", 0), 0u)
            << Text(check.second, "message");
      }
    }
    EXPECT_GE(timed_out, 1);
    EXPECT_LE(timed_out, jobs) << "as many checks side by side at most";
    EXPECT_LT(run.seconds, 2 * 5.0 + 30.0) << "one round of time limits, not one for each check";
  }
}

TEST(Validate, ACrashNamesTheCallInFlight) {
  QXHostRun run({"validate", "--json", "--include", "dsp.unknown-opcodes", "--size", "4",
                 QXHostRun::Module("faulty_crash_on_unknown.qxm")});
  EXPECT_EQ(run.code, 1);
  const Json check = ChecksByName(run)["dsp.unknown-opcodes"];
  EXPECT_EQ(Text(check, "status"), "crash");
  EXPECT_NE(Text(check, "message").find("during opcode 4 (index "), std::string::npos)
      << Text(check, "message");
}

TEST(Validate, ACrashShowsItsStackWhereNoMemoryCheckerRunsIt) {
#ifndef _WIN32  // Windows has no memory checker
  const char* saved = std::getenv("QXHOST_MEMORY_CHECKER");
  const std::string before = saved != nullptr ? saved : "";
  setenv("QXHOST_MEMORY_CHECKER", "none", 1);
#endif
  QXHostRun run({"validate", "--json", "--include", "dsp.unknown-opcodes", "--size", "4",
                 QXHostRun::Module("faulty_crash_on_unknown.qxm")});
#ifndef _WIN32
  if (saved != nullptr) {
    setenv("QXHOST_MEMORY_CHECKER", before.c_str(), 1);
  } else {
    unsetenv("QXHOST_MEMORY_CHECKER");
  }
#endif
  const std::string output = Text(ChecksByName(run)["dsp.unknown-opcodes"], "output");
  if (MemoryChecker::Sanitized()) {
    // The sanitizers report the crash themselves.
    EXPECT_TRUE(output.find("Sanitizer") != std::string::npos ||
                output.find("runtime error") != std::string::npos)
        << output;
    EXPECT_EQ(output.find("crashing thread's stack"), std::string::npos) << output;
  } else {
    // The check's process wrote it, innermost first: the module's frame,
    // named from the module's symbol table (the function is not exported).
    const size_t header = output.find("qxhost: the crashing thread's stack");
    ASSERT_NE(header, std::string::npos) << output;
    const size_t first = output.find('\n', header) + 1;
    const std::string frame = output.substr(first, output.find('\n', first) - first);
    EXPECT_NE(frame.find("faulty_crash_on_unknown.qxm(_Z"), std::string::npos) << output;
    EXPECT_NE(frame.find("DspDispatch"), std::string::npos) << output;
#ifdef QX_CRASH_SOURCE_LINES
    // The module carries debug information: the frame begins with its source file and line.
    const size_t source = frame.find("/tests/modules/faulty_module.cpp:");
    ASSERT_NE(source, std::string::npos) << output;
    EXPECT_LT(source, frame.find(".qxm(")) << output;
#endif
  }
}

TEST(Validate, EachFailureOfACheckHasALineOfItsOwn) {
  QXHostRun run({"validate", "--include", "callback.gui", "--size", "16",
                 QXHostRun::Module("faulty_wrong_record.qxm")});
  EXPECT_EQ(run.code, 1);
  std::istringstream lines(run.out);
  std::vector<std::string> failures;
  bool in_check = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  fail     callback.gui", 0) == 0) {
      in_check = true;
      line = line.substr(38);
    } else if (in_check && line.rfind(std::string(38, ' '), 0) == 0) {
      line = line.substr(38);
    } else {
      in_check = false;
    }
    if (in_check) failures.push_back(line);
  }
  ASSERT_GE(failures.size(), 2u) << run.out;
  for (const std::string& failure : failures) {
    EXPECT_LT(failure.size(), 200u) << failure;
    EXPECT_EQ(failure.find("; "), std::string::npos) << failure;
  }
}

TEST(Validate, ControlCharactersFromTheModuleOrThePathReachNoTerminal) {
#ifdef _WIN32
  // Windows allows no control character in a file's name.
  const std::string path = QXHostRun::Module("faulty_control_chars.qxm");
#else
  // A lone 0x9B and the C1 control U+009B each start a terminal sequence as
  // ESC [ does; DEL deletes.
  const std::string folder = ValidatorTempPath(
      "escape\x1b[2J\n\x9b"
      "2J\x7f\xc2\x9b"
      "2J");
  std::filesystem::create_directories(std::filesystem::u8path(folder));
  const std::string path = folder + "/m.qxm";
  std::filesystem::copy_file(std::filesystem::u8path(QXHostRun::Module("faulty_control_chars.qxm")),
                             std::filesystem::u8path(path),
                             std::filesystem::copy_options::overwrite_existing);
#endif
  QXHostRun run({"validate", "--include", "loading", "--size", "4", path});
#ifndef _WIN32
  std::filesystem::remove_all(std::filesystem::u8path(folder));
  EXPECT_NE(run.out.find("escape\\x1B[2J\\x0A\\x9B2J\\x7F\\xC2\\x9B2J/m.qxm"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\x7f'), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(static_cast<char>(0x9b)), std::string::npos) << run.out;
#endif
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\x07'), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\\x1B[31mmodule\\x07"), std::string::npos) << run.out;
}

TEST(Validate, TheCheckAboutMakingInstancesAloneReportsThatNoneComes) {
  // The loader's test module makes no instance and is not the converter.
  QXHostRun run({"validate", "--json", "--size", "4", QXHostRun::Module("good_module.qxm")});
  EXPECT_EQ(run.code, 1);
  int failed = 0;
  for (const auto& check : ChecksByName(run)) {
    const std::string status = Text(check.second, "status");
    failed += status == "fail" || status == "crash";
    if (check.first == "factory.records") {
      EXPECT_EQ(status, "fail");
    }
    if (check.first == "converter.oracle") {
      EXPECT_EQ(status, "inapplicable");
      EXPECT_NE(Text(check.second, "message").find("not the level converter"), std::string::npos);
    }
    EXPECT_EQ(Text(check.second, "message").find("expected a DSP instance"), std::string::npos)
        << check.first;
  }
  EXPECT_EQ(failed, 1) << "factory.records only";
}

TEST(Validate, AReportFileThatCannotBeWrittenStopsTheRunBeforeAnyCheck) {
  for (const std::string& junit : {std::string("/nonexistent/folder/x.xml"), ::testing::TempDir()}) {
    QXHostRun run({"validate", "--junit", junit, QX_PRODUCT});
    EXPECT_EQ(run.code, 2) << junit;
    EXPECT_NE(run.err.find(": cannot write the JUnit report ("), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("validate "), std::string::npos) << "nothing ran: " << run.out;
  }
}

#ifndef _WIN32
// A shell script's command line that runs qxhost with `args` and the variable
// QX_TEST_MARK=`mark` (which only qxhost and what it starts carry), then,
// `wait` seconds after qxhost's end, lists the processes still carrying it.
// The list is made inside the script: this test's own process adopts what is
// left behind (it runs children too) and ends it once the script ends.
std::string LeftBehind(const std::string& mark, const std::string& run, const std::string& wait) {
  return run + "; sleep " + wait + "; grep -l -s -a 'QX_TEST_MARK=" + mark +
         "' /proc/[0-9]*/environ | sed 's/^/left behind: /'; true";
}

std::string QXHostCommand(const std::string& mark, const std::string& args) {
  const std::string emulator = QX_EMULATOR;
  return "QX_TEST_MARK=" + mark + " " + (emulator.empty() ? "" : emulator + " ") + QX_QXHOST + " " + args;
}

TEST(Validate, AnInterruptedRunLeavesNoProcessBehind) {
  const std::string mark = "interrupted-" + std::to_string(getpid());
  const std::string module = QXHostRun::Module("faulty_hangs_loading.qxm");
  for (const char* signal : {"TERM", "INT", "HUP"}) {
    const std::string run = QXHostCommand(mark, "validate --jobs 2 --timeout 60 " + module) +
                            " >/dev/null 2>&1 & pid=$!; sleep 2; kill -" + signal +
                            " $pid; wait $pid; echo $?";
    const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", LeftBehind(mark, run, "1")}, 60);
    const int expected = std::string(signal) == "TERM"  ? 128 + 15
                         : std::string(signal) == "INT" ? 128 + 2
                                                        : 128 + 1;
    EXPECT_EQ(o.out, std::to_string(expected) + "\n") << signal << " " << o.err;
  }
}

// A module that leaves a daemon behind in a check (two forks, a session of
// its own): the daemon ends with the check, in validate and in fuzz.
TEST(Validate, NoProcessAModuleStartsOutlivesItsCheck) {
  // qxhost runs as this test does (under the same emulator, if any).
  if (!ChildRunner::AdoptsEscapedProcesses())
    GTEST_SKIP() << "this system (an emulator?) cannot adopt processes";
  const std::string marker = ValidatorTempPath("escaped-marker");
  std::filesystem::remove(marker);
  const std::string mark = "escapes-" + std::to_string(getpid());
  const std::string module = QXHostRun::Module("faulty_escapes.qxm");
  for (const std::string& args :
       {"validate --include 'loading|dsp.lifecycle' " + module, "fuzz --duration 1 --jobs 2 " + module}) {
    const std::string run =
        "export QX_ESCAPED_MARKER=" + marker + "; " + QXHostCommand(mark, args) + " >/dev/null 2>&1; echo $?";
    const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", LeftBehind(mark, run, "2.5")}, 120);
    EXPECT_EQ(o.out, "0\n") << args << " " << o.err;
    EXPECT_FALSE(std::filesystem::exists(marker)) << args << ": a process of the module outlived its check";
    std::filesystem::remove(marker);
  }
}

// A module that looks for the run's token on its command line and in its
// environment, and writes a passing result with it on every descriptor, at
// the end and 64 MiB on: its failing check still fails.
TEST(Validate, AModuleCannotForgeAResult) {
  QXHostRun run({"validate", QXHostRun::Module("faulty_forges_result.qxm")}, 120);
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_EQ(run.out.find("forged"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("fail "), std::string::npos) << run.out;
}
#endif

#ifdef __linux__
// A module that puts a file of its own in a report's place while the checks
// run (read from its parent's command line): found out, exit status 2.
TEST(Validate, AReportFileReplacedDuringTheRunIsFoundOut) {
  for (const char* option : {"--junit", "--trace"}) {
    const std::string path = ValidatorTempPath("replaced-report");
    QXHostRun run({"validate", option, path, "--include", "dsp.lifecycle",
                   QXHostRun::Module("faulty_replaces_report.qxm")},
                  120);
    EXPECT_EQ(run.code, 2) << option << ": " << run.out << run.err;
    EXPECT_NE(run.err.find("is no longer the file this run wrote"), std::string::npos) << run.err;
    std::filesystem::remove(path);
  }
}
#endif

// What qxhost info and set print comes whole from their process, however
// long, whatever the module does with its own output; the words the user
// gives reach that process as they were given.
TEST(QXHostToolIsolated, TheAnswerArrivesWholeAndApartFromTheModulesOutput) {
  const std::string module = QXHostRun::Module("faulty_none.qxm");
  // "--" before the module, as in-process runs take it.
  for (const std::vector<std::string>& line :
       {std::vector<std::string>{"info", "--timeout", "20", "--", module},
        {"set", "--timeout", "20", "--", module, "Vref=2"}}) {
    QXHostRun run(line, 60);
    EXPECT_EQ(run.code, 0) << line[0] << ": " << run.err;
    EXPECT_NE(run.out.find(line[0] == "info" ? "Faulty module (none)" : "set Vref = 2"), std::string::npos)
        << line[0] << ": " << run.out;
  }
#ifndef _WIN32
  // An answer longer than what a test keeps of a program's output: written
  // to a file here and compared with the answer given in-process.
  std::string edits;
  for (int i = 0; i < 1000; ++i) edits += i % 2 == 0 ? " Vref=2" : " Vref=0.5";
  const std::string emulator = QX_EMULATOR;
  const std::string qxhost =
      (emulator.empty() ? "" : "QXHOST_CHILD_LAUNCHER=" + emulator + " " + emulator + " ") + QX_QXHOST;
  const std::string many_pins = QXHostRun::Module("faulty_many_pins.qxm");
  for (const std::string& args : {"set " + module + edits, "info " + many_pins, "info --json " + many_pins}) {
    const std::string isolated = ValidatorTempPath("isolated-answer"),
                      here = ValidatorTempPath("in-process-answer");
    const std::string command = args.substr(0, args.find(' '));
    const ChildRunner::Outcome o =
        ChildRunner::Run({"/bin/sh", "-c",
                          qxhost + " " + args + " >" + isolated + " && " + qxhost + " " + command +
                              " --in-process" + args.substr(command.size()) + " >" + here},
                         120);
    EXPECT_EQ(o.end, ChildRunner::End::EXITED);
    EXPECT_EQ(o.code, 0) << args << ": " << o.err;
    EXPECT_GT(ReadFile(isolated).size(), 65536u) << args;
    EXPECT_EQ(ReadFile(isolated), ReadFile(here)) << args;
    std::filesystem::remove(isolated);
    std::filesystem::remove(here);
  }
  // A module that points the process's output and error at nothing.
  QXHostRun muted({"info", QXHostRun::Module("faulty_mutes_output.qxm")}, 60);
  EXPECT_EQ(muted.code, 0) << muted.err;
  EXPECT_NE(muted.out.find("Faulty module (mutes_output)"), std::string::npos) << muted.out;
#endif
  // What the module printed itself comes apart, escaped.
  QXHostRun printing({"info", QXHostRun::Module("faulty_control_chars.qxm")}, 60);
  EXPECT_EQ(printing.code, 0) << printing.err;
  EXPECT_NE(
      printing.err.find("qxhost: the module printed:\nmade \\x1B]0;title\\x07 \\x9B2J \\xC2\\x9B2J \\x7F.\n"),
      std::string::npos)
      << printing.err;
  EXPECT_EQ(printing.out.find("made"), std::string::npos) << printing.out;
}

TEST(QXHostTool, APinNameOfAnyLengthKeepsItsLine) {
  QXHostRun run({"info", "--in-process", QXHostRun::Module("faulty_long_pin_name.qxm")}, 60);
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string name = "Vref, " + std::string(194, 'v');
  EXPECT_NE(run.out.find("    1  " + name + " in   float  ui-communication\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n    2  dB "), std::string::npos) << run.out;
}

// qxhost info and set load the module in a process of their own: whatever the
// module does there, one line says what and the exit status is 1.
struct BadFile {
  const char* name;
  std::function<std::string()> make;  // the file's path
  const char* says;
};

class QXHostToolIsolation : public ::testing::TestWithParam<BadFile> {};

TEST_P(QXHostToolIsolation, OneLineAndStatus1ForAModuleThatKillsOrStallsItsProcess) {
  const std::string path = GetParam().make();
  // A limit that a module which loads must meet also on a busy machine: the
  // one that hangs runs beside the busy tests, where its wait costs nothing.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"info", "--timeout", "5", path},
                                               {"set", "--timeout", "5", path, "Vref=1"}}) {
    QXHostRun run(args, 60);
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(run.err.rfind("qxhost: ", 0), 0u) << run.err;
    // One line; after it only what the memory checker found, where it ran
    // a crashed process once more, or else the crash's stack.
    const std::string line = run.err.substr(0, run.err.find('\n') + 1);
    const std::string after = run.err.substr(line.size());
    EXPECT_TRUE(after.empty() || after.find("run again under ") < after.find('\n') ||
                after.rfind("qxhost: the crashing thread's stack", 0) == 0)
        << run.err;
    EXPECT_NE(line.find(GetParam().says), std::string::npos) << run.err;
  }
}

// A copy of the product cut or changed, in a file of its own.
std::string Damaged(const std::string& name, const std::function<void(std::string*)>& damage) {
  std::string bytes = ReadFile(QX_PRODUCT);
  damage(&bytes);
  const std::string path = ValidatorTempPath(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Files, QXHostToolIsolation,
    ::testing::Values(
        BadFile{"First1000Bytes",
                [] { return Damaged("first-1000.qxm", [](std::string* b) { b->resize(1000); }); },
                "qxhost: "},
        // Cut inside its code (half a file may be all code and data where the
        // debug information takes the other half).
        BadFile{"First16K", [] { return Damaged("first-16k.qxm", [](std::string* b) { b->resize(16384); }); },
                "qxhost: "},
        BadFile{"BytesFlipped",
                [] {
                  // Everything after the file header: its tables and code.
                  return Damaged("flipped.qxm", [](std::string* b) {
                    for (size_t i = 64; i < b->size(); ++i) (*b)[i] = static_cast<char>((*b)[i] ^ 0x5A);
                  });
                },
                "qxhost: "},
        BadFile{"AbortsWhenLoaded", [] { return QXHostRun::Module("faulty_load_abort.qxm"); }, "the module"},
        BadFile{"HangsWhenAsked", [] { return QXHostRun::Module("faulty_hangs_loading.qxm"); },
                "no answer from the module within 5 s"}),
    ParamName());

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
// A module that crashes info's process is run once more under the memory
// checker, which shows the crash's stack down to the module.
TEST(QXHostToolIsolated, ACrashShowsTheStackFromTheMemoryChecker) {
  if (!std::string(QX_EMULATOR).empty()) GTEST_SKIP() << "no memory checker runs under an emulator";
  QXHostRun run({"info", QXHostRun::Module("faulty_load_abort.qxm")}, 60);
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find("no memory error came before the end:\nProcess terminating with default action of "
                         "signal 6 (SIGABRT)"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("faulty_load_abort.qxm)"), std::string::npos) << run.err;
}
#endif

// A crash of info's or set's process names the call into the module that was
// in flight, in the line that says the module crashed.
TEST(QXHostToolIsolated, ACrashNamesTheCallInFlight) {
  QXHostRun edit({"set", QXHostRun::Module("faulty_crashes_on_edit.qxm"), "Vref=1"}, 60);
  EXPECT_EQ(edit.code, 1) << edit.err;
  const std::string line = edit.err.substr(0, edit.err.find('\n'));
  EXPECT_NE(line.find("faulty_crashes_on_edit.qxm: the module "), std::string::npos) << edit.err;
  EXPECT_NE(line.find(" during GUI_OP_PIN_VALUE_CHANGED (index 1)"), std::string::npos) << edit.err;
  EXPECT_EQ(edit.err.find("the call into the module in flight"), std::string::npos) << edit.err;
  QXHostRun loading({"info", QXHostRun::Module("faulty_load_abort.qxm")}, 60);
  EXPECT_EQ(loading.code, 1) << loading.err;
  EXPECT_NE(loading.err.find(" during loading (the system loader runs the library's start-up code)"),
            std::string::npos)
      << loading.err;
}

TEST(QXHostToolIsolated, AWellBehavedModuleGivesWhatItGivesInProcess) {
  QXHostRun isolated({"info", QX_PRODUCT});
  QXHostRun here({"info", "--in-process", QX_PRODUCT});
  EXPECT_EQ(isolated.code, 0) << isolated.err;
  EXPECT_EQ(isolated.out, here.out);
  QXHostRun missing({"info", QXHostRun::Module("nowhere.qxm")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;
}

TEST(QXHostToolIsolated, ATimeLimitMayBeAFractionOfASecond) {
  QXHostRun run({"info", "--timeout", "0.5", QXHostRun::Module("faulty_hangs_loading.qxm")}, 60);
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find("no answer from the module within 0.5 s"), std::string::npos) << run.err;
  EXPECT_LT(run.seconds, 30.0);
}

TEST(Validate, AReportIsNeverWrittenOverAModule) {
  const std::string folder = ValidatorTempPath("report-over-module");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string module = folder + "/m.qxm";
  std::filesystem::copy_file(QXHostRun::Module("faulty_none.qxm"), module);
  const std::string bytes = ReadFile(module);
  std::vector<std::string> spellings = {module};
#ifndef _WIN32
  std::filesystem::create_symlink(module, folder + "/link.qxm");
  std::filesystem::create_hard_link(module, folder + "/hard.qxm");
  spellings.push_back(folder + "/link.qxm");
  spellings.push_back(folder + "/hard.qxm");
  spellings.push_back(folder + "/../" + std::filesystem::path(folder).filename().string() + "/m.qxm");
#endif
  for (const std::string& spelling : spellings) {
    for (const char* option : {"--junit", "--trace"}) {
      QXHostRun run({"validate", option, spelling, "--include", "loading.exports", module});
      EXPECT_EQ(run.code, 2) << option << " " << spelling << ": " << run.out << run.err;
      EXPECT_NE(run.err.find("is the module"), std::string::npos) << run.err;
      EXPECT_EQ(run.out, "") << "nothing runs";
      EXPECT_EQ(ReadFile(module), bytes) << option << " " << spelling;
    }
  }
  // Nor is one report written over the other.
  const std::string report = folder + "/report";
  QXHostRun both({"validate", "--junit", report, "--trace", report, module});
  EXPECT_EQ(both.code, 2) << both.err;
  EXPECT_NE(both.err.find("--junit and --trace name the same file"), std::string::npos) << both.err;
  std::filesystem::remove_all(folder);
}

#ifndef _WIN32
TEST(Validate, AReportThatCannotBeWrittenIsStatus2WithTheReasonBeforeAnyCheck) {
  for (const char* option : {"--trace", "--junit"}) {
    QXHostRun run({"validate", option, "/dev/full", "--size", "4", QX_PRODUCT});
    EXPECT_EQ(run.code, 2) << option << ": " << run.out << run.err;
    EXPECT_NE(run.err.find("/dev/full: cannot write the"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(std::strerror(ENOSPC)), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << option << ": no check runs";
  }
}

TEST(Validate, TheTraceWriterKeepsItsFirstFailure) {
  TraceWriter trace;
  std::string error;
  ASSERT_TRUE(trace.Open("/dev/full", true, &error)) << error;
  EXPECT_FALSE(trace.Failed());
  trace.Start("dsp.lifecycle", "m.qxm");
  EXPECT_TRUE(trace.Failed());
  EXPECT_NE(trace.Error().find("/dev/full: cannot write the trace (" + std::string(std::strerror(ENOSPC))),
            std::string::npos)
      << trace.Error();
}

TEST(Fuzz, AReplayShowsWhatTheModulePrintsEscaped) {
  QXHostRun run(
      {"fuzz", "--seed", "1", "--steps", "20", "--replay", QXHostRun::Module("faulty_control_chars.qxm")});
  EXPECT_NE(run.out.find("made \\x1B]0;title\\x07 \\x9B2J \\xC2\\x9B2J \\x7F."), std::string::npos)
      << run.out;
  for (const char raw : {'\x1b', '\x07', '\x7f', static_cast<char>(0x9b)})
    EXPECT_EQ(run.out.find(raw), std::string::npos) << run.out;
}
#endif

TEST(Validate, AModuleThatFloodsTheHostWithEventsFails) {
  // A flood takes its time under the sanitizers on a busy machine.
  QXHostRun run({"validate", "--json", "--timeout", "60", "--include", "dsp.lifecycle",
                 QXHostRun::Module("event_storm.qxm")});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  const auto checks = ChecksByName(run);
  ASSERT_EQ(checks.count("dsp.lifecycle"), 1u) << run.out;
  const Json& lifecycle = checks.at("dsp.lifecycle");
  EXPECT_EQ(Text(lifecycle, "status"), "fail");
  EXPECT_NE(Text(lifecycle, "message").find("HOST_OP_ADD_EVENT: expected at most 8192 events pending, got "),
            std::string::npos)
      << Text(lifecycle, "message");
}

TEST(QXHostTool, PrintsItsVersion) {
  QXHostRun run({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out.rfind("qxhost ", 0), 0u) << run.out;
}

// The names of one module's checks in the order they ran.
std::vector<std::string> Order(const Json& module) {
  std::vector<std::string> names;
  for (const Json& check : Field(module, "checks")) names.push_back(Text(check, "name"));
  return names;
}

TEST(Validate, RepeatedRoundsTakeTheNextSeedsAndAShuffleTheSeedsOrder) {
  const std::vector<std::string> args = {"validate", "--json",    "--repeat",
                                         "2",        "--shuffle", "--seed",
                                         "40",       "--include", "^(loading|factory|gui)\\.",
                                         "--size",   "2",         QX_PRODUCT};
  QXHostRun first(args), again(args);
  ASSERT_EQ(first.code, 0) << first.err;
  const Json module = Field(ParseJson(first.out), "modules")[0];
  const std::vector<std::string> order = Order(module);
  std::vector<std::string> catalog;
  for (const ValidationCheck& check : CheckCatalog::All()) {
    const std::string name = check.name;
    if (check.level <= 1 &&
        (name.rfind("loading.", 0) == 0 || name.rfind("factory.", 0) == 0 || name.rfind("gui.", 0) == 0))
      catalog.push_back(name);
  }
  ASSERT_EQ(order.size(), 2 * catalog.size());
  EXPECT_EQ(order, Order(Field(ParseJson(again.out), "modules")[0])) << "the seed repeats the order";
  const std::vector<std::string> round1(order.begin(), order.begin() + static_cast<long>(catalog.size()));
  const std::vector<std::string> round2(order.begin() + static_cast<long>(catalog.size()), order.end());
  EXPECT_NE(round1, catalog) << "shuffled";
  EXPECT_NE(round1, round2) << "each round its own order";
  EXPECT_EQ(round1.front(), "loading.exports");
  EXPECT_EQ(round2.front(), "loading.exports");
  std::set<double> seeds;
  for (const Json& check : Field(module, "checks"))
    if (Field(check, "seed").is_number()) seeds.insert(Number(check, "seed"));
  EXPECT_EQ(seeds, (std::set<double>{40.0, 41.0}));
}

TEST(Validate, LoadingTimeWarnsAboveATenthOfASecondAndFailsAboveASecond) {
  QXHostRun slowish(
      {"validate", "--json", "--include", "loading.time", QXHostRun::Module("faulty_slowish_loading.qxm")});
  EXPECT_EQ(slowish.code, 0) << slowish.err;
  EXPECT_EQ(Text(ChecksByName(slowish)["loading.time"], "status"), "warn");
  QXHostRun strict({"validate", "--json", "--strict", "--include", "loading.time",
                    QXHostRun::Module("faulty_slowish_loading.qxm")});
  EXPECT_EQ(strict.code, 1) << "--strict fails a warning";
  EXPECT_NE(Text(ChecksByName(strict)["loading.time"], "message").find("--strict"), std::string::npos);
  QXHostRun slow(
      {"validate", "--json", "--include", "loading.time", QXHostRun::Module("faulty_slow_loading.qxm")});
  EXPECT_EQ(slow.code, 1);
  const Json check = ChecksByName(slow)["loading.time"];
  EXPECT_EQ(Text(check, "status"), "fail");
  EXPECT_NE(Text(check, "message").find("expected at most 1 s"), std::string::npos) << Text(check, "message");
  QXHostRun product({"validate", "--json", "--include", "loading.time", QX_PRODUCT});
  EXPECT_EQ(Text(ChecksByName(product)["loading.time"], "status"), "pass") << product.out;
}

TEST(Validate, StrictnessThreeAddsTheThreadsCheck) {
  QXHostRun basic({"validate", "--json", "--size", "4", QX_PRODUCT});
  EXPECT_EQ(ChecksByName(basic).count("threads.instances"), 0u) << "not at the default strictness";
  for (const auto& module : {std::make_pair(std::string(QX_PRODUCT), "pass"),
                             std::make_pair(QXHostRun::Module("faulty_none.qxm"), "pass"),
                             std::make_pair(QXHostRun::Module("faulty_shared_dsp_state.qxm"), "fail")}) {
    QXHostRun run(
        {"validate", "--json", "--strictness", "3", "--include", "threads", "--size", "8", module.first});
    EXPECT_EQ(Text(ChecksByName(run)["threads.instances"], "status"), module.second)
        << module.first << run.out;
  }
  QXHostRun bad({"validate", "--strictness", "4", QX_PRODUCT});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("bad strictness '4': a whole number from 1 to 3"), std::string::npos) << bad.err;
}

// Instances that share state, interleaved on one thread, fail on every run
// (seed), said in words; correct modules pass.
TEST(Validate, InstancesThatShareStateFailTheInterleavedCheckOnEveryRun) {
  const struct {
    std::string module;
    const char* status;
    const char* message;
  } cases[] = {
      {QXHostRun::Module("Gain.qxm"), "pass", "2 instances, 9 blocks each, 1 control pin edited"},
      {QX_PRODUCT, "pass", "0 control pins edited"},
      // The gain passed from the GUI side to the DSP side through a global:
      // instance 1 plays the gain instance 2's GUI was given.
      {QXHostRun::Module("gain_shared_global.qxm"), "fail",
       "instance 1's output pin 1 from sample 0, interleaved, is what instance 2's edits give: state shared "
       "between instances?"},
      // A count of process calls kept for all instances, told to the host.
      {QXHostRun::Module("faulty_shared_dsp_state.qxm"), "fail",
       " in block 1, interleaved, is HOST_OP_PIN_NOTIFY (index 0, value "},
  };
  for (const auto& c : cases) {
    QXHostRun run({"validate", "--json", "--repeat", "20", "--seed", "1", "--size", "4", "--include",
                   "dsp.interleaved", c.module});
    const Json checks = Field(Field(ParseJson(run.out), "modules")[0], "checks");
    ASSERT_EQ(checks.size(), 20u) << c.module << run.out << run.err;
    for (const Json& check : checks) {
      EXPECT_EQ(Text(check, "status"), c.status) << c.module;
      EXPECT_NE(Text(check, "message").find(c.message), std::string::npos) << Text(check, "message");
    }
    EXPECT_EQ(run.code, std::string(c.status) == "pass" ? 0 : 1) << run.err;
  }
}

TEST(Validate, StrictnessTwoAddsTheProcessFormatsCheck) {
  QXHostRun basic({"validate", "--json", "--size", "4", QXHostRun::Module("Gain.qxm")});
  EXPECT_EQ(ChecksByName(basic).count("dsp.process-formats"), 0u) << "not at the default strictness";
  // Correct modules pass: the gain with audio and a control pin, the product
  // and the framework-free twin, which only sleep. The gain that takes a
  // change at the next block's start gives another output at block size 2
  // than at block size 1.
  const struct {
    std::string module;
    const char* status;
    const char* message;
    const char* also;  // a second part of it
  } cases[] = {
      {QXHostRun::Module("Gain.qxm"), "pass", "1 output compared, 16 event clocks", ""},
      {QX_PRODUCT, "pass", "0 outputs compared", ""},
      {QXHostRun::Module("faulty_none.qxm"), "pass", "0 outputs compared", ""},
      {QXHostRun::Module("gain_late_change.qxm"), "fail",
       "output pin 1 sample 1 at 22050 Hz, block size 2: expected ",
       " as with block size 1 (the same output whatever the block size), got "},
      {QXHostRun::Module("gain_writes_input.qxm"), "fail",
       "process_entry(offset 0, count 1) wrote input pin 0 at sample 0 (block size 1) at 22050 Hz: expected",
       "process calls that wrote one"},
  };
  for (const auto& c : cases) {
    QXHostRun run({"validate", "--json", "--strictness", "2", "--include", "process-formats", c.module});
    const Json check = ChecksByName(run)["dsp.process-formats"];
    EXPECT_EQ(Text(check, "status"), c.status) << c.module << run.out;
    EXPECT_NE(Text(check, "message").find(c.message), std::string::npos) << Text(check, "message");
    EXPECT_NE(Text(check, "message").find(c.also), std::string::npos) << Text(check, "message");
    EXPECT_EQ(run.code, std::string(c.status) == "pass" ? 0 : 1);
  }
}

TEST(Validate, TheGainExamplePassesEveryCheckAtEveryStrictness) {
  QXHostRun run({"validate", "--json", "--strictness", "3", "--size", "16", QXHostRun::Module("Gain.qxm")});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  const std::map<std::string, Json> checks = ChecksByName(run);
  EXPECT_EQ(checks.size(), CheckCatalog::All().size());
  for (const auto& check : checks) {
    const std::string expected =
        check.first == "converter.oracle" ? "inapplicable" : Expected(check.first, "pass");
    EXPECT_EQ(Text(check.second, "status"), expected) << check.first << ": " << Text(check.second, "message");
  }
  EXPECT_EQ(Number(Field(ParseJson(run.out), "summary"), "checks"), static_cast<double>(checks.size() - 1))
      << "the checks that apply";
  // The text report lists only the checks that apply to the module.
  QXHostRun text({"validate", "--size", "16", QXHostRun::Module("Gain.qxm")});
  EXPECT_EQ(text.code, 0) << text.out << text.err;
  EXPECT_EQ(text.out.find("converter.oracle"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("summary: " + std::to_string(DefaultChecks() - 1) + " checks on 1 module"),
            std::string::npos)
      << text.out;
}

TEST(QXHostFuzz, FindsACrashAndReplaysItsShortestRun) {
  const std::string module = QXHostRun::Module("faulty_crash_on_unknown.qxm");
  QXHostRun run({"fuzz", "--duration", "30", "--jobs", "2", "--seed", "3", module});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  const size_t at = run.out.find("shortest replay (");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("finding in episode "), std::string::npos);
  EXPECT_NE(run.out.find("during opcode "), std::string::npos) << "the call in flight";
  EXPECT_NE(run.out.find(" 1 finding ("), std::string::npos) << run.out;
#if !defined(__SANITIZE_ADDRESS__)
#ifdef __linux__
  const bool checked = std::string(QX_EMULATOR).empty();
#else
  const bool checked = false;  // no memory checker on Windows
#endif
  if (checked) {
    // The shortest replay run once more under the memory checker names the
    // module's function that wrote where nothing is.
    EXPECT_NE(run.out.find("its first memory error, run again under "), std::string::npos) << run.out;
  } else {
    // Elsewhere the replay's process wrote its stack.
    EXPECT_NE(run.out.find("qxhost: the crashing thread's stack"), std::string::npos) << run.out;
  }
  EXPECT_NE(run.out.find("DspDispatch"), std::string::npos) << run.out;
#endif
  // "qxhost fuzz --seed S --steps K --replay MODULE"
  std::istringstream replay(run.out.substr(run.out.find("qxhost fuzz ", at)));
  std::string word, seed, steps;
  replay >> word >> word >> word >> seed >> word >> steps;
  QXHostRun again({"fuzz", "--seed", seed, "--steps", steps, "--replay", module});
  EXPECT_EQ(again.code, 1) << again.out;
  EXPECT_NE(again.out.find("step "), std::string::npos) << "each step said";
  EXPECT_NE(again.out.find(": crash "), std::string::npos) << again.out;
  QXHostRun shorter(
      {"fuzz", "--seed", seed, "--steps", std::to_string(std::stoi(steps) - 1), "--replay", module});
  EXPECT_EQ(shorter.code, 0) << "one step fewer gives no finding: " << shorter.out;
}

// A process that ended itself with a status was not stopped at a fault: its
// replay is not run again under the memory checker, which would find none.
TEST(QXHostFuzz, AFindingThatEndedWithAStatusIsNotRunUnderTheMemoryChecker) {
  QXHostRun run({"fuzz", "--duration", "10", "--seed", "3", QXHostRun::Module("faulty_fake_result.qxm")});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("ended before reporting (exit status 0)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("shortest replay ("), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("run again under"), std::string::npos) << run.out;
}

TEST(QXHostFuzz, AWellBehavedModuleGivesNoFinding) {
  QXHostRun run({"fuzz", "--duration", "3", QX_PRODUCT});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(" 0 findings ("), std::string::npos) << run.out;
}

}  // namespace
