// What the records must look like to a host whatever the word size.
#include <gtest/gtest.h>

#include <cstring>

#include "QXHostInterface.h"

extern "C" int qx_c_record_size(void);

namespace {

TEST(HostInterface, MagicWordsAreTheFourCharacterCodesInMemoryOrder) {
  int32_t dsp = QX_MAGIC_DSP, gui = QX_MAGIC_GUI;
  EXPECT_EQ(std::memcmp(&dsp, "LPXQ", 4), 0);
  EXPECT_EQ(std::memcmp(&gui, "MPXQ", 4), 0);
}

TEST(HostInterface, CAndCppSeeTheSameRecords) {
  EXPECT_EQ(qx_c_record_size(), static_cast<int>(sizeof(QXModuleStruct)));
}

TEST(HostInterface, AddressCarryingWordsArePointerSized) {
  EXPECT_EQ(sizeof(QXWord), sizeof(void*));
  EXPECT_EQ(sizeof(QXEvent{}.arg3), sizeof(void*));
  EXPECT_EQ(sizeof(QXGuiStruct{}.host_data), sizeof(void*));
#if defined(__i386__)
  EXPECT_EQ(sizeof(QXModuleStruct), 48u);
  EXPECT_EQ(sizeof(QXGuiStruct), 40u);
  EXPECT_EQ(sizeof(QXEvent), 24u);
  EXPECT_EQ(sizeof(QXPinProperties), 32u);
#endif
}

}  // namespace
