// The validator's report on its own: texts that go into the JUnit XML.
#include <gtest/gtest.h>

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

}  // namespace
