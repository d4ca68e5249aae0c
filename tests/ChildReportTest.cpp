// What a check's process reports on its channels: its result survives any
// message, lines without the run's token are not taken for a result, a
// second result is not believed, and the calls still open where the calls
// channel ends name the call in flight.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ChildReport.h"

namespace {

TEST(ChildReport, AResultRoundTripsWhateverItsMessage) {
  const std::string token = ChildReport::NewToken();
  for (const std::string& message : {std::string("plain"), std::string("two\nlines and a \\ backslash"),
                                     std::string(""), std::string("@qxresult pass 0 0 inside")}) {
    CheckResult sent = CheckResult::Fail(message);
    sent.status = CheckStatus::TIMEOUT;
    sent.stop = true;
    CheckResult got;
    std::string in_flight = "untouched";
    ASSERT_TRUE(ChildReport::Read(ChildReport::ResultLine(token, sent), "", token, &got, &in_flight))
        << message;
    EXPECT_EQ(got.status, CheckStatus::TIMEOUT);
    EXPECT_TRUE(got.stop);
    EXPECT_FALSE(got.unloadable);
    EXPECT_EQ(got.message, message);
    EXPECT_EQ(in_flight, "");
  }
}

TEST(ChildReport, OnlyLinesWithTheRunsTokenCount) {
  const std::string token = ChildReport::NewToken();
  EXPECT_EQ(token.size(), 32u);
  std::set<std::string> tokens;
  for (int i = 0; i < 50; ++i) tokens.insert(ChildReport::NewToken());
  EXPECT_EQ(tokens.size(), 50u) << "a token is new for each run";

  CheckResult got;
  std::string in_flight;
  const std::string fakes = "@qxresult pass 0 0 \n@qxresult " + ChildReport::NewToken() + " pass 0 0 \n" +
                            "@qxresult  pass 0 0 " + token + "\nmodule says @qxresult " + token +
                            " pass 0 0 \n";
  EXPECT_FALSE(ChildReport::Read(fakes, "", token, &got, &in_flight));
  CheckResult failed = CheckResult::Fail("the real one");
  ASSERT_TRUE(
      ChildReport::Read(fakes + ChildReport::ResultLine(token, failed) + fakes, "", token, &got, &in_flight));
  EXPECT_EQ(got.status, CheckStatus::FAIL);
  EXPECT_EQ(got.message, "the real one");
  EXPECT_FALSE(
      ChildReport::Read("@qxresult " + token + " maybe 0 0 unknown status\n", "", token, &got, &in_flight));
  // A result after text a module left without a line break is still read.
  ASSERT_TRUE(
      ChildReport::Read("unfinished" + ChildReport::ResultLine(token, failed), "", token, &got, &in_flight));
  EXPECT_EQ(got.message, "the real one");
}

TEST(ChildReport, ASecondResultIsAFailureWhateverItSays) {
  const std::string token = ChildReport::NewToken();
  const std::string passed = ChildReport::ResultLine(token, CheckResult::Pass());
  CheckResult got;
  std::string in_flight;
  ASSERT_TRUE(ChildReport::Read(passed, "", token, &got, &in_flight));
  EXPECT_EQ(got.status, CheckStatus::PASS);
  for (const std::string& report :
       {passed + passed, ChildReport::ResultLine(token, CheckResult::Fail("x")) + passed}) {
    ASSERT_TRUE(ChildReport::Read(report, "", token, &got, &in_flight));
    EXPECT_EQ(got.status, CheckStatus::FAIL);
    EXPECT_NE(got.message.find("2 results came from one process"), std::string::npos) << got.message;
  }
}

TEST(ChildReport, NamesTheCallsStillOpenInnermostFirst) {
  const std::string token = ChildReport::NewToken();
  char line[128];
  const auto call = [&](bool begin, int open, const char* text) {
    return std::string(line, ChildReport::CallLine(line, sizeof line, begin, open, text));
  };
  const std::string opened =
      call(true, 0, "GUI_OP_PIN_VALUE_CHANGED (index 2, value 0)") +
      call(true, 1, "the module's call of the host, GUIHOST_OP_WRITE_PIN_VALUE (index 0, value 0)") +
      call(true, 2, "GUI_OP_PIN_VALUE_CHANGED (index 0, value 0)") + call(false, 2, "");
  CheckResult got;
  std::string in_flight;
  EXPECT_FALSE(ChildReport::Read("", opened, token, &got, &in_flight));
  EXPECT_EQ(in_flight,
            "the module's call of the host, GUIHOST_OP_WRITE_PIN_VALUE (index 0, value 0), inside "
            "GUI_OP_PIN_VALUE_CHANGED (index 2, value 0)");
  ChildReport::Read("",
                    opened + call(false, 1, "") + call(false, 0, "") +
                        call(true, 0, "DSP_OP_CLOSE (index 0, value 0)") + call(false, 0, ""),
                    token, &got, &in_flight);
  EXPECT_EQ(in_flight, "") << "every call returned";
  // A line longer than the buffer is cut, and still ends its line.
  const std::string long_text(500, 'x');
  const std::string cut = call(true, 0, long_text.c_str());
  EXPECT_EQ(cut.size(), sizeof line - 1);
  EXPECT_EQ(cut.back(), '\n');
}

}  // namespace
