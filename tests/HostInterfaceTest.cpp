// What the records must look like to a host whatever the word size: each
// field where a host that knows the record only as its sequence of 32-bit and
// address-carrying words looks for it (HostLayout.h), in C++ and in C.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "HostLayout.h"
#include "QXHostInterface.h"

extern "C" size_t qx_c_layout(int record, size_t* offsets, size_t* count);

namespace {

using namespace host_layout;

// Address-carrying fields are pointer-sized on every target.
static_assert(sizeof(QXWord) == sizeof(void*), "a word carries an address");
static_assert(sizeof(QXEvent::arg1) == A && sizeof(QXEvent::arg3) == A, "event arguments carry an address");
static_assert(sizeof(QXModuleStruct::host_data) == A && sizeof(QXGuiStruct::host_data) == A,
              "host_data carries an address");
static_assert(sizeof(QXProcessFunctionInfo::address) == A, "the process function's address");

// Every field in its place, on every target: a field moved, widened or
// reordered breaks the build here, not only on the 32-bit one.
static_assert(sizeof(QXModuleProperties) == PROPERTIES.size, "QXModuleProperties");
static_assert(offsetof(QXModuleProperties, name) == PROPERTIES.offset[0], "name");
static_assert(offsetof(QXModuleProperties, id) == PROPERTIES.offset[1], "id");
static_assert(offsetof(QXModuleProperties, about) == PROPERTIES.offset[2], "about");
static_assert(offsetof(QXModuleProperties, extra) == PROPERTIES.offset[3], "extra");
static_assert(offsetof(QXModuleProperties, flags) == PROPERTIES.offset[4], "flags");
static_assert(offsetof(QXModuleProperties, sdk_version) == PROPERTIES.offset[5], "sdk_version");

static_assert(sizeof(QXModuleStruct) == MODULE.size, "QXModuleStruct");
static_assert(offsetof(QXModuleStruct, magic) == MODULE.offset[0], "magic");
static_assert(offsetof(QXModuleStruct, version) == MODULE.offset[1], "version");
static_assert(offsetof(QXModuleStruct, host_data) == MODULE.offset[2], "host_data");
static_assert(offsetof(QXModuleStruct, object) == MODULE.offset[3], "object");
static_assert(offsetof(QXModuleStruct, reserved1) == MODULE.offset[4], "reserved1");
static_assert(offsetof(QXModuleStruct, dispatch_entry) == MODULE.offset[5], "dispatch_entry");
static_assert(offsetof(QXModuleStruct, process_entry) == MODULE.offset[6], "process_entry");
static_assert(offsetof(QXModuleStruct, event_entry) == MODULE.offset[7], "event_entry");
static_assert(offsetof(QXModuleStruct, reserved2) == MODULE.offset[8], "reserved2");

static_assert(sizeof(QXPinProperties) == PIN.size, "QXPinProperties");
static_assert(offsetof(QXPinProperties, variable_address) == PIN.offset[0], "variable_address");
static_assert(offsetof(QXPinProperties, direction) == PIN.offset[1], "direction");
static_assert(offsetof(QXPinProperties, datatype) == PIN.offset[2], "datatype");
static_assert(offsetof(QXPinProperties, name) == PIN.offset[3], "name");
static_assert(offsetof(QXPinProperties, extra1) == PIN.offset[4], "extra1");
static_assert(offsetof(QXPinProperties, extra2) == PIN.offset[5], "extra2");
static_assert(offsetof(QXPinProperties, flags) == PIN.offset[6], "flags");
static_assert(offsetof(QXPinProperties, extra3) == PIN.offset[7], "extra3");

static_assert(sizeof(QXProcessFunctionInfo) == PROCESS_INFO.size, "QXProcessFunctionInfo");
static_assert(offsetof(QXProcessFunctionInfo, kind) == PROCESS_INFO.offset[0], "kind");
static_assert(offsetof(QXProcessFunctionInfo, size) == PROCESS_INFO.offset[1], "size");
static_assert(offsetof(QXProcessFunctionInfo, address) == PROCESS_INFO.offset[2], "address");
static_assert(offsetof(QXProcessFunctionInfo, tag) == PROCESS_INFO.offset[3], "tag");

static_assert(sizeof(QXEvent) == EVENT.size, "QXEvent");
static_assert(offsetof(QXEvent, time_stamp) == EVENT.offset[0], "time_stamp");
static_assert(offsetof(QXEvent, event_type) == EVENT.offset[1], "event_type");
static_assert(offsetof(QXEvent, arg1) == EVENT.offset[2], "arg1");
static_assert(offsetof(QXEvent, arg2) == EVENT.offset[3], "arg2");
static_assert(offsetof(QXEvent, arg3) == EVENT.offset[4], "arg3");
static_assert(offsetof(QXEvent, arg4) == EVENT.offset[5], "arg4");

static_assert(sizeof(QXGuiStruct) == GUI.size, "QXGuiStruct");
static_assert(offsetof(QXGuiStruct, magic) == GUI.offset[0], "magic");
static_assert(offsetof(QXGuiStruct, version) == GUI.offset[1], "version");
static_assert(offsetof(QXGuiStruct, dispatch_entry) == GUI.offset[2], "dispatch_entry");
static_assert(offsetof(QXGuiStruct, host_data) == GUI.offset[3], "host_data");
static_assert(offsetof(QXGuiStruct, object) == GUI.offset[4], "object");
static_assert(offsetof(QXGuiStruct, reserved) == GUI.offset[5], "reserved");

TEST(HostInterface, MagicWordsAreTheFourCharacterCodesInMemoryOrder) {
  int32_t dsp = QX_MAGIC_DSP, gui = QX_MAGIC_GUI;
  EXPECT_EQ(std::memcmp(&dsp, "LPXQ", 4), 0);
  EXPECT_EQ(std::memcmp(&gui, "MPXQ", 4), 0);
}

// The C compiler lays out every record where the host looks for its fields.
// `first_words` maps each named field, in order, to its first word.
template <size_t N>
void ExpectCLayout(int record, const Layout<N>& layout, std::vector<size_t> first_words) {
  size_t offsets[16] = {}, count = 0;
  EXPECT_EQ(qx_c_layout(record, offsets, &count), layout.size) << "record " << record;
  ASSERT_EQ(count, first_words.size()) << "record " << record;
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(offsets[i], layout.offset[first_words[i]]) << "record " << record << ", field " << i;
}

TEST(HostInterface, CAndCppSeeTheSameRecords) {
  ExpectCLayout(0, PROPERTIES, {0, 1, 2, 3, 4, 5});
  ExpectCLayout(1, MODULE, {0, 1, 2, 3, 4, 5, 6, 7, 8});
  ExpectCLayout(2, PIN, {0, 1, 2, 3, 4, 5, 6, 7});
  ExpectCLayout(3, PROCESS_INFO, {0, 1, 2, 3});
  ExpectCLayout(4, EVENT, {0, 1, 2, 3, 4, 5});
  ExpectCLayout(5, GUI, {0, 1, 2, 3, 4, 5});
}

}  // namespace
