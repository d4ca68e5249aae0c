// The validator's report on its own: texts that go into the JUnit XML.
#include <gtest/gtest.h>

#include "ValidationReport.h"

namespace {

TEST(ValidationReport, XmlTextEscapesWhatXmlReserves) {
  EXPECT_EQ(ValidationReport::XmlText("a<b>&\"c\"'\x01\xff"), "a&lt;b&gt;&amp;&quot;c&quot;&apos;??");
}

}  // namespace
