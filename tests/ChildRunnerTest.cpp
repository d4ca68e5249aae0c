// The child runner on its own: how it classifies the end of a child process,
// what it keeps of the child's output, its time limit (which also ends what the
// child started), and the launcher it reads for qxhost's own children.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "ChildRunner.h"
#include "ParamName.h"

namespace {

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
    ::testing::Values(ChildCase{"ExitStatusAndBothStreams", "echo out; echo err >&2; exit 3", 30,
                                ChildRunner::End::EXITED, 3, "out\n", "err\n"},
                      ChildCase{"Signal", "echo before >&2; kill -SEGV $$", 30, ChildRunner::End::SIGNALLED,
                                SIGSEGV, "", "before\n"},
                      ChildCase{"Abort", "kill -ABRT $$", 30, ChildRunner::End::SIGNALLED, SIGABRT, "", ""},
                      ChildCase{"Timeout", "echo started; sleep 30", 0.5, ChildRunner::End::TIMED_OUT, 0,
                                "started\n", ""}),
    ParamName());

TEST(ChildRunner, ATimeoutAlsoEndsWhatTheChildStarted) {
  const std::string marker = ::testing::TempDir() + "qx-child-runner-marker";
  std::remove(marker.c_str());
  const ChildRunner::Outcome o =
      ChildRunner::Run({"/bin/sh", "-c", "(sleep 1; touch " + marker + ") & sleep 30"}, 0.3);
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
  const ChildRunner::Outcome o = ChildRunner::Run(
      {"/bin/sh", "-c", "i=0; while [ $i -lt 20000 ]; do echo line $i >&2; i=$((i+1)); done"}, 60);
  ASSERT_EQ(o.end, ChildRunner::End::EXITED);
  EXPECT_EQ(o.err.size(), static_cast<size_t>(ChildRunner::MAX_OUTPUT));
  EXPECT_EQ(o.err.substr(o.err.size() - 11), "line 19999\n");
}

TEST(ChildRunner, GivesTheChildChannelsApartFromItsOutput) {
  // Results on a pipe the child can only write: reading it back fails.
  const ChildRunner::Outcome o = ChildRunner::Run(
      {"/bin/sh", "-c",
       "echo out; echo err >&2; echo result >&4; echo call >&5; if cat <&4; then echo readable >&4; fi"},
      30);
  EXPECT_EQ(o.end, ChildRunner::End::EXITED) << o.error;
  EXPECT_EQ(o.out, "out\n");
  EXPECT_EQ(o.err.find("err\n"), 0u);
  EXPECT_EQ(o.report, "result\n");
  EXPECT_EQ(o.calls, "call\n");
  EXPECT_FALSE(o.report_cut);
}

TEST(ChildRunner, ReadsTheResultsWholeWhileTheChildWrites) {
  // More than a pipe holds: the child would wait for ever if nothing read it.
  const ChildRunner::Outcome o = ChildRunner::Run(
      {"/bin/sh", "-c", "i=0; while [ $i -lt 40000 ]; do echo line $i; i=$((i+1)); done >&4"}, 60);
  ASSERT_EQ(o.end, ChildRunner::End::EXITED) << o.error;
  EXPECT_GT(o.report.size(), 400000u);
  EXPECT_EQ(o.report.substr(0, 7), "line 0\n");
  EXPECT_EQ(o.report.substr(o.report.size() - 11), "line 39999\n");
}

TEST(ChildRunner, HandsARequestApartFromTheCommandLine) {
  ChildRequest request;
  request.token = "secret-token";
  request.args = {"info", "--", "@report-channel@", "a word with spaces"};
  // The child prints its arguments, then the request it reads on its channel.
  const ChildRunner::Outcome o =
      ChildRunner::Run({"/bin/sh", "-c", "echo \"$@\"; tr '\\0' '|' <&3", "sh"}, 30, request);
  ASSERT_EQ(o.end, ChildRunner::End::EXITED) << o.error;
  EXPECT_EQ(o.out, std::string(ChildRequest::OPTION) +
                       " 3\nqxrequest1|secret-token|4|5|info|--|@report-channel@|a word with spaces|");
  ChildRequest read;
  ASSERT_TRUE(read.Decode(request.Encode()));
  EXPECT_EQ(read.args, request.args);
  EXPECT_FALSE(read.Decode("not a request"));
}

TEST(ChildRunner, TellsTheChildWhoItsParentIs) {
  const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", "echo $QXHOST_PARENT_PID"}, 30);
  EXPECT_EQ(o.out, std::to_string(getpid()) + "\n");
}

TEST(ChildRunner, WhatTheChildLeftRunningEndsWithIt) {
  const std::string marker = ::testing::TempDir() + "qx-child-runner-leftover";
  std::remove(marker.c_str());
  const ChildRunner::Outcome o =
      ChildRunner::Run({"/bin/sh", "-c", "(sleep 1; touch " + marker + ") & exit 0"}, 30);
  EXPECT_EQ(o.end, ChildRunner::End::EXITED);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::ifstream file(marker);
  EXPECT_FALSE(file.good()) << "the background process outlived its parent's end";
  std::remove(marker.c_str());
}

// A child that leaves its group and session (a daemon's double fork) is
// still ended with it: whatever the child started, in any group, ends when
// the child does.
TEST(ChildRunner, WhatLeavesTheChildsGroupEndsWithItToo) {
  if (!ChildRunner::AdoptsEscapedProcesses())
    GTEST_SKIP() << "this system (an emulator?) cannot adopt processes";
  for (const char* leave : {"setsid", "perl -e 'setpgrp(0, 0); exec @ARGV'"}) {
    const std::string marker = ::testing::TempDir() + "qx-child-runner-escaped-" + std::to_string(getpid());
    std::remove(marker.c_str());
    const std::string script =
        std::string("( ") + leave + " /bin/sh -c 'sleep 1; touch " + marker + "' & ) ; sleep 0.2; exit 0";
    const ChildRunner::Outcome o = ChildRunner::Run({"/bin/sh", "-c", script}, 30);
    EXPECT_EQ(o.end, ChildRunner::End::EXITED) << o.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ifstream file(marker);
    EXPECT_FALSE(file.good()) << "a process that left the child's group outlived it: " << leave;
    std::remove(marker.c_str());
  }
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

// Whether the file `path` appears within four seconds.
bool Appears(const std::string& path) {
  for (int i = 0; i < 40; ++i) {
    if (std::ifstream(path).good()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A child that starts a process and ends at once: that process, which would
// have created a file two seconds later, ends with the child (its job). The
// same program started outside a child's job does leave its process behind.
TEST(ChildRunner, WhatTheChildStartedEndsWithIt) {
  const std::string marker = ::testing::TempDir() + "qx-child-runner-descendant-" + std::to_string(_getpid());
  std::remove(marker.c_str());
  const ChildRunner::Outcome o = ChildRunner::Run({QX_LEAVES_DESCENDANT, marker}, 30);
  EXPECT_EQ(o.end, ChildRunner::End::EXITED) << o.error;
  EXPECT_EQ(o.code, 0) << "the child could not start its process";
  EXPECT_FALSE(Appears(marker)) << "a process the child started outlived it";
  std::remove(marker.c_str());

  std::string command = std::string("\"") + QX_LEAVES_DESCENDANT + "\" \"" + marker + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_TRUE(Appears(marker)) << "without a child's job, the process is left behind and creates the file";
  std::remove(marker.c_str());
}
#endif

}  // namespace
