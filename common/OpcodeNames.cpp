#include "OpcodeNames.h"

#include "QXHostInterface.h"

namespace {

struct Name {
  int32_t opcode;
  const char* name;
};

const Name DSP_NAMES[] = {{DSP_OP_OPEN, "DSP_OP_OPEN"},
                          {DSP_OP_CLOSE, "DSP_OP_CLOSE"},
                          {DSP_OP_CHANGE_SAMPLE_RATE, "DSP_OP_CHANGE_SAMPLE_RATE"},
                          {DSP_OP_CHANGE_BLOCK_SIZE, "DSP_OP_CHANGE_BLOCK_SIZE"},
                          {DSP_OP_GET_PIN_PROPERTIES, "DSP_OP_GET_PIN_PROPERTIES"},
                          {DSP_OP_NOTIFY, "DSP_OP_NOTIFY"},
                          {DSP_OP_MESSAGE, "DSP_OP_MESSAGE"},
                          {DSP_OP_GET_PROCESS_INFO, "DSP_OP_GET_PROCESS_INFO"}};
const Name GUI_NAMES[] = {{GUI_OP_OPEN, "GUI_OP_OPEN"},
                          {GUI_OP_CLOSE, "GUI_OP_CLOSE"},
                          {GUI_OP_INDEXED_DATA, "GUI_OP_INDEXED_DATA"},
                          {GUI_OP_POINT_1, "GUI_OP_POINT_1"},
                          {GUI_OP_POINT_2, "GUI_OP_POINT_2"},
                          {GUI_OP_POINT_3, "GUI_OP_POINT_3"},
                          {GUI_OP_MESSAGE, "GUI_OP_MESSAGE"},
                          {GUI_OP_PIN_VALUE_CHANGED, "GUI_OP_PIN_VALUE_CHANGED"},
                          {GUI_OP_DATA_1, "GUI_OP_DATA_1"},
                          {GUI_OP_DATA_2, "GUI_OP_DATA_2"},
                          {GUI_OP_QUERY, "GUI_OP_QUERY"},
                          {GUI_OP_INDEX_1, "GUI_OP_INDEX_1"},
                          {GUI_OP_INDEX_2, "GUI_OP_INDEX_2"}};
const Name HOST_NAMES[] = {{HOST_OP_PIN_NOTIFY, "HOST_OP_PIN_NOTIFY"},
                           {HOST_OP_PIN_QUERY, "HOST_OP_PIN_QUERY"},
                           {HOST_OP_GET_SAMPLE_CLOCK, "HOST_OP_GET_SAMPLE_CLOCK"},
                           {HOST_OP_PIN_STATUS, "HOST_OP_PIN_STATUS"},
                           {HOST_OP_GET_PIN_BUFFER, "HOST_OP_GET_PIN_BUFFER"},
                           {HOST_OP_GET_BUFFER_CLOCK, "HOST_OP_GET_BUFFER_CLOCK"},
                           {HOST_OP_SLEEP, "HOST_OP_SLEEP"},
                           {HOST_OP_GET_PIN_COUNT, "HOST_OP_GET_PIN_COUNT"},
                           {HOST_OP_ADD_EVENT, "HOST_OP_ADD_EVENT"},
                           {HOST_OP_PROCESS_FUNCTION_CHANGED, "HOST_OP_PROCESS_FUNCTION_CHANGED"}};
const Name GUIHOST_NAMES[] = {{GUIHOST_OP_WRITE_PIN_TEXT, "GUIHOST_OP_WRITE_PIN_TEXT"},
                              {GUIHOST_OP_READ_PIN_TEXT, "GUIHOST_OP_READ_PIN_TEXT"},
                              {GUIHOST_OP_INDEXED_REQUEST, "GUIHOST_OP_INDEXED_REQUEST"},
                              {GUIHOST_OP_READ_PIN_VALUE, "GUIHOST_OP_READ_PIN_VALUE"},
                              {GUIHOST_OP_WRITE_PIN_VALUE, "GUIHOST_OP_WRITE_PIN_VALUE"},
                              {GUIHOST_OP_READ_PIN_TEXT_W, "GUIHOST_OP_READ_PIN_TEXT_W"},
                              {GUIHOST_OP_PTR_REQUEST_1, "GUIHOST_OP_PTR_REQUEST_1"},
                              {GUIHOST_OP_PTR_REQUEST_2, "GUIHOST_OP_PTR_REQUEST_2"},
                              {GUIHOST_OP_PTR_TEST, "GUIHOST_OP_PTR_TEST"}};

template <size_t N>
const char* In(const Name (&names)[N], int32_t opcode) {
  for (const Name& n : names) {
    if (n.opcode == opcode) return n.name;
  }
  return nullptr;
}

}  // namespace

const char* OpcodeNames::Find(OpcodeFamily family, int32_t opcode) {
  switch (family) {
    case OpcodeFamily::DSP:
      return In(DSP_NAMES, opcode);
    case OpcodeFamily::GUI:
      return In(GUI_NAMES, opcode);
    case OpcodeFamily::HOST:
      return In(HOST_NAMES, opcode);
    case OpcodeFamily::GUIHOST:
      return In(GUIHOST_NAMES, opcode);
  }
  return nullptr;
}

std::string OpcodeNames::Text(OpcodeFamily family, int32_t opcode) {
  const char* name = Find(family, opcode);
  return name != nullptr ? name : "opcode " + std::to_string(opcode);
}
