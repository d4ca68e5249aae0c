// The validator's report on its own: texts that go into the JUnit XML; the
// three forms of a check that does not apply.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "JsonText.h"
#include "ValidationReport.h"

namespace {

TEST(ValidationReport, XmlTextEscapesWhatXmlReserves) {
  // Control characters as the text report writes them; in an attribute a
  // line break as a reference, which a reader keeps (a raw one it turns into
  // a space).
  EXPECT_EQ(ValidationReport::XmlText("a<b>&\"c\"'\x01\x1b\xff"),
            "a&lt;b&gt;&amp;&quot;c&quot;&apos;\\x01\\x1B?");
  EXPECT_EQ(ValidationReport::XmlText("one\ntwo\tthree"), "one\ntwo\tthree");
  EXPECT_EQ(ValidationReport::XmlText("one\ntwo\tthree", true), "one&#10;two&#9;three");
}

// A check that asks what the module has no part of is in the JSON report,
// with its reason, and nowhere else: not a line, not a JUnit case, not in
// the count of checks.
TEST(ValidationReport, ACheckThatDoesNotApplyIsInTheJsonAlone) {
  ValidationReport report(1, 8, 10.0);
  ValidationReport::Module& module = report.AddModule("m.qxm");
  module.entries.push_back({"dsp.lifecycle", false, 1, CheckResult::Pass()});
  module.entries.push_back(
      {"converter.oracle", false, 1, CheckResult::Inapplicable("not the level converter")});
  EXPECT_EQ(report.Total(), 1);
  EXPECT_EQ(report.Line(module.entries[1]), "");
  EXPECT_NE(report.Line(module.entries[0]).find("dsp.lifecycle"), std::string::npos);
  EXPECT_EQ(report.Summary(0.5).rfind("summary: 1 checks on 1 module: 1 passed", 0), 0u)
      << report.Summary(0.5);
  const std::string junit = report.Junit(0.5);
  EXPECT_EQ(junit.find("converter.oracle"), std::string::npos) << junit;
  EXPECT_NE(junit.find("tests=\"1\""), std::string::npos) << junit;
  std::ostringstream text;
  report.WriteJson(text, 0, 0.5);
  const Json json = Json::parse(text.str());
  const Json& oracle = json["modules"][0]["checks"][1];
  EXPECT_EQ(oracle["name"], "converter.oracle");
  EXPECT_EQ(oracle["status"], "inapplicable");
  EXPECT_EQ(oracle["message"], "not the level converter");
  EXPECT_EQ(json["summary"]["inapplicable"], 1);
  EXPECT_EQ(json["summary"]["checks"], 1);
}

}  // namespace
