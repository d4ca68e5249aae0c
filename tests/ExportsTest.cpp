// The product library loaded as the host loads it, driven only through its two
// exports, the records they hand out and the host callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "DspHost.h"
#include "GuiHost.h"
#include "ModuleLibrary.h"

namespace {

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    ModuleLibrary::Error error;
    library = ModuleLibrary::Open(QX_PRODUCT, &error);
    ASSERT_TRUE(library.has_value()) << error.text;
  }
  std::optional<ModuleLibrary> library;
};

TEST_F(Exports, PropertiesOfModuleZero) {
  QXModuleProperties p;
  std::memset(&p, 0, sizeof p);
  p.extra = 0x5EED;
  ASSERT_TRUE(library->GetModuleProperties(0, &p));
  EXPECT_STREQ(p.name, "Kalo_GUI-Gainlens");
  EXPECT_EQ(p.id, p.name) << "name and id are the very same pointer";
  EXPECT_EQ(p.extra, 0x5EED);
  EXPECT_EQ(p.flags, 256);
  EXPECT_EQ(p.sdk_version, 2230);
  // Two paragraphs: the ID and version 1.0, then one sentence calling it bi-directional.
  const std::string about = p.about;
  const size_t gap = about.find("\n\n");
  ASSERT_NE(gap, std::string::npos);
  EXPECT_NE(about.substr(0, gap).find("Kalo_GUI-Gainlens"), std::string::npos);
  EXPECT_NE(about.substr(0, gap).find("1.0"), std::string::npos);
  EXPECT_NE(about.substr(gap + 2).find("bi-directional"), std::string::npos);
  EXPECT_EQ(about.find("\n\n", gap + 2), std::string::npos);
}

TEST_F(Exports, RefusedIndicesStillGetTheVersionAndNothingElse) {
  for (int32_t index : {1, -1, INT32_MAX}) {
    QXModuleProperties p;
    std::memset(&p, 0xCD, sizeof p);
    const QXModuleProperties before = p;
    EXPECT_FALSE(library->GetModuleProperties(index, &p)) << index;
    EXPECT_EQ(p.sdk_version, 2230);
    // Field by field: the record's padding is nobody's.
    EXPECT_TRUE(p.name == before.name && p.id == before.id && p.about == before.about &&
                p.extra == before.extra && p.flags == before.flags)
        << "index " << index << " wrote other fields";
  }
}

TEST_F(Exports, NullPropertiesRecordIsRefused) {
  for (int32_t index : {0, 1}) EXPECT_FALSE(library->GetModuleProperties(index, nullptr)) << index;
}

TEST_F(Exports, FactoryMakesDistinctInstancesOfBothTypes) {
  DspHost dsp_a(0), dsp_b(0);
  auto* a = static_cast<QXModuleStruct*>(library->MakeModule(0, 1, &DspHost::Callback, dsp_a.HostData()));
  auto* b = static_cast<QXModuleStruct*>(library->MakeModule(0, 1, &DspHost::Callback, dsp_b.HostData()));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  for (QXModuleStruct* s : {a, b}) {
    EXPECT_EQ(std::memcmp(s, "LPXQ", 4), 0);
    EXPECT_EQ(s->version, 1);
    EXPECT_NE(s->object, nullptr);
  }
  EXPECT_EQ(a->host_data, dsp_a.HostData());
  dsp_a.Attach(a);
  dsp_b.Attach(b);
  EXPECT_EQ(dsp_a.Close(), 1);
  EXPECT_EQ(dsp_b.Close(), 1);

  GuiHost gui_a(3), gui_b(3);
  auto* c = static_cast<QXGuiStruct*>(library->MakeModule(0, 2, &GuiHost::Callback, gui_a.HostData()));
  auto* d = static_cast<QXGuiStruct*>(library->MakeModule(0, 2, &GuiHost::Callback, gui_b.HostData()));
  ASSERT_NE(c, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_NE(c, d);
  for (QXGuiStruct* s : {c, d}) {
    EXPECT_EQ(std::memcmp(s, "MPXQ", 4), 0);
    EXPECT_EQ(s->version, 1);
  }
  ASSERT_EQ(gui_a.Log().size(), 1u) << "the GUI constructor reads Vref";
  EXPECT_EQ(gui_a.Log()[0].record, c) << "with the record it is about to return";
  gui_a.Attach(c);
  gui_b.Attach(d);
  EXPECT_EQ(gui_a.Close(), 1);
  EXPECT_EQ(gui_b.Close(), 1);
}

TEST_F(Exports, FactoryRefusesOtherIndicesAndTypes) {
  GuiHost host(3);
  for (auto [index, type] : {std::pair{1, 1}, {1, 2}, {-1, 1}, {0, 0}, {0, 3}, {0, -1}}) {
    EXPECT_EQ(library->MakeModule(index, type, &GuiHost::Callback, host.HostData()), nullptr)
        << index << "," << type;
  }
  EXPECT_TRUE(host.Log().empty()) << "nothing was constructed";
}

TEST_F(Exports, GuiEditSessionThroughTheRecord) {
  GuiHost host(3, GuiHost::Echo::IMMEDIATE);
  host.SetFloat(1, 1.0f);
  host.Attach(static_cast<QXGuiStruct*>(library->MakeModule(0, 2, &GuiHost::Callback, host.HostData())));
  ASSERT_NE(host.Record(), nullptr);
  EXPECT_EQ(host.Dispatch(GUI_OP_OPEN, 1), 0);
  host.EditFloat(2, -6.0f);
  EXPECT_EQ(host.Float(0), 0.50118721f);
  host.EditFloat(0, 0.5f);
  EXPECT_EQ(host.Float(2), -6.0205999f);
  host.EditFloat(1, 0.5f);
  EXPECT_EQ(host.Float(2), 0.0f);
  EXPECT_EQ(host.Close(), 1);
}

TEST_F(Exports, DspOpenProcessCloseThroughTheRecord) {
  DspHost host(0);
  host.Attach(static_cast<QXModuleStruct*>(library->MakeModule(0, 1, &DspHost::Callback, host.HostData())));
  ASSERT_NE(host.Record(), nullptr);
  const QXProcessEntry before = host.ProcessEntry();
  host.Open();
  EXPECT_NE(host.ProcessEntry(), before) << "open installed the sleeping process function";
  host.Run(64);
  host.Run(64);
  EXPECT_EQ(host.SleepRequests(), 2u);
  EXPECT_EQ(host.Close(), 1);
}

}  // namespace
