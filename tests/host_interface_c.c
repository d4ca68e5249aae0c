/* The host interface must stay usable from C: this file compiles it as C and
 * reports each record's size and field offsets as the C compiler lays them out. */
#include <string.h>

#include "QXHostInterface.h"

#define QX_COPY(fields)                            \
  do {                                             \
    memcpy(offsets, (fields), sizeof(fields));     \
    *count = sizeof(fields) / sizeof((fields)[0]); \
  } while (0)

/* `record`: 0 QXModuleProperties, 1 QXModuleStruct, 2 QXPinProperties,
 * 3 QXProcessFunctionInfo, 4 QXEvent, 5 QXGuiStruct. Fills `offsets` (room
 * for 16) with the offset of each field in order and answers the size. */
size_t qx_c_layout(int record, size_t* offsets, size_t* count) {
  switch (record) {
    case 0: {
      const size_t fields[] = {
          offsetof(QXModuleProperties, name),  offsetof(QXModuleProperties, id),
          offsetof(QXModuleProperties, about), offsetof(QXModuleProperties, extra),
          offsetof(QXModuleProperties, flags), offsetof(QXModuleProperties, sdk_version)};
      QX_COPY(fields);
      return sizeof(QXModuleProperties);
    }
    case 1: {
      const size_t fields[] = {
          offsetof(QXModuleStruct, magic),         offsetof(QXModuleStruct, version),
          offsetof(QXModuleStruct, host_data),     offsetof(QXModuleStruct, object),
          offsetof(QXModuleStruct, reserved1),     offsetof(QXModuleStruct, dispatch_entry),
          offsetof(QXModuleStruct, process_entry), offsetof(QXModuleStruct, event_entry),
          offsetof(QXModuleStruct, reserved2)};
      QX_COPY(fields);
      return sizeof(QXModuleStruct);
    }
    case 2: {
      const size_t fields[] = {offsetof(QXPinProperties, variable_address),
                               offsetof(QXPinProperties, direction),
                               offsetof(QXPinProperties, datatype),
                               offsetof(QXPinProperties, name),
                               offsetof(QXPinProperties, extra1),
                               offsetof(QXPinProperties, extra2),
                               offsetof(QXPinProperties, flags),
                               offsetof(QXPinProperties, extra3)};
      QX_COPY(fields);
      return sizeof(QXPinProperties);
    }
    case 3: {
      const size_t fields[] = {offsetof(QXProcessFunctionInfo, kind), offsetof(QXProcessFunctionInfo, size),
                               offsetof(QXProcessFunctionInfo, address),
                               offsetof(QXProcessFunctionInfo, tag)};
      QX_COPY(fields);
      return sizeof(QXProcessFunctionInfo);
    }
    case 4: {
      const size_t fields[] = {offsetof(QXEvent, time_stamp), offsetof(QXEvent, event_type),
                               offsetof(QXEvent, arg1),       offsetof(QXEvent, arg2),
                               offsetof(QXEvent, arg3),       offsetof(QXEvent, arg4)};
      QX_COPY(fields);
      return sizeof(QXEvent);
    }
    case 5: {
      const size_t fields[] = {offsetof(QXGuiStruct, magic),          offsetof(QXGuiStruct, version),
                               offsetof(QXGuiStruct, dispatch_entry), offsetof(QXGuiStruct, host_data),
                               offsetof(QXGuiStruct, object),         offsetof(QXGuiStruct, reserved)};
      QX_COPY(fields);
      return sizeof(QXGuiStruct);
    }
    default:
      *count = 0;
      return 0;
  }
}
