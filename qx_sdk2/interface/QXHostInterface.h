/*
 * The binary contract between a host and a module library: the callback, the
 * records both sides share, the opcode numbers and the pin constants.
 *
 * The host is a 32-bit process: on 32-bit x86 every record below is a sequence
 * of little-endian 32-bit words, and the static assertions at the end of this
 * file pin each size and offset. On 64-bit targets (our tests and tools run
 * there too) every field that can carry an address is pointer-sized: pointers,
 * `host_data`, event arguments, and the result of the callback and of the
 * dispatch entries (`DSP_OP_GET_PROCESS_INFO` and `GUIHOST_OP_READ_PIN_TEXT`
 * answer an address). `QXWord` is that word.
 *
 * Threads: "the calling thread" is whatever thread the host calls an entry on.
 * Nothing here starts a thread or takes a lock.
 *
 * Ownership words: "host-owned" memory is valid only during the call that hands
 * it over; "library-owned" memory is valid while the library is loaded.
 */
#ifndef QX_SDK2_QXHOSTINTERFACE_H
#define QX_SDK2_QXHOSTINTERFACE_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* Calling convention of every plain function either side calls: the exports,
 * the callback and the dispatch and event entries. Overridable. */
#ifndef QX_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define QX_CALL __cdecl
#else
#define QX_CALL
#endif
#endif

/* Convention of `process_entry` and of run-function events. Both point straight
 * at a member function of the module class, so they use the convention of a
 * member function: on 32-bit Windows that is thiscall (the object address in
 * ECX, the callee pops its stack arguments); everywhere else a member function
 * takes the object address as an ordinary first argument. A host that calls
 * `process_entry` through `QXProcessEntry` therefore passes the object the way
 * the member function expects it. Overridable. */
#ifndef QX_MEMBER_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define QX_MEMBER_CALL __thiscall
#else
#define QX_MEMBER_CALL
#endif
#endif

/* Marks the two exported functions; nothing else in a module is exported. */
#ifndef QX_EXPORT
#if defined(_WIN32)
#define QX_EXPORT __declspec(dllexport)
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One word of the host interface: 32 bits on the host's target, pointer-sized
 * elsewhere so that it can carry an address. */
typedef intptr_t QXWord;

/* Framework version written to `QXModuleProperties::sdk_version`. */
enum { QX_SDK_VERSION = 2230 };

/* Host callback, one per instance, given to `makeModule`. `record` is the
 * calling instance's `QXModuleStruct` or `QXGuiStruct`. The DSP side and the
 * GUI side number their opcodes separately (HOST_OP_*, GUIHOST_OP_*).
 * Called on the calling thread, from inside an entry of the instance or from
 * the GUI-side constructor. */
typedef QXWord(QX_CALL *qxaudioMaster)(void *record, int32_t opcode, int32_t index, int32_t value,
                                        void *ptr, float opt);

/* ------------------------------------------------------------------ exports */

/* Filled by `getModuleProperties`; the host owns the record. */
typedef struct QXModuleProperties {
  const char *name;    /* display name; library-owned */
  const char *id;      /* identifier; the very same pointer as `name` */
  const char *about;   /* about text; library-owned */
  int32_t extra;       /* host's; the module never writes it */
  int32_t flags;       /* 256 for every module of this framework */
  int32_t sdk_version; /* QX_SDK_VERSION, written first and for every index */
} QXModuleProperties;

/* Instance types of `makeModule`. */
enum { QX_INSTANCE_DSP = 1, QX_INSTANCE_GUI = 2 };

/* true if module `index` exists and `properties` now describes it. */
typedef bool(QX_CALL *QXGetModulePropertiesFunction)(int32_t index, QXModuleProperties *properties);

/* The new instance's record (`QXModuleStruct` for type 1, `QXGuiStruct` for
 * type 2), or null for an unknown index or type or a failed creation.
 * `host_data` ends up in the record untouched. */
typedef void *(QX_CALL *QXMakeModuleFunction)(int32_t index, int32_t type, qxaudioMaster callback,
                                              QXWord host_data);

/* ----------------------------------------------------------------- DSP side */

struct QXModuleStruct;
struct QXEvent;

/* Host to DSP instance. Returns 0 for an unknown opcode. Calling thread. */
typedef QXWord(QX_CALL *QXModuleDispatchEntry)(struct QXModuleStruct *record, int32_t opcode,
                                               int32_t index, int32_t value, void *ptr, float opt);
/* Delivers a timed event; `object` is the record's `object` word. */
typedef void(QX_CALL *QXEventEntry)(void *object, struct QXEvent *event);
/* GCC applies thiscall to these plain function-pointer types (the object goes
 * in ECX) but, with -Wpedantic, warns that it is meant for member functions. */
#if defined(__GNUC__) && defined(_WIN32) && !defined(_WIN64)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#endif
/* The current process function: `object` is the record's `object` word,
 * `offset` the first sample of the block to process, `count` its length. */
typedef void(QX_MEMBER_CALL *QXProcessEntry)(void *object, int32_t offset, int32_t count);
/* The code a run-function event names, called with the object address only. */
typedef void(QX_MEMBER_CALL *QXRunEntry)(void *object);
#if defined(__GNUC__) && defined(_WIN32) && !defined(_WIN64)
#pragma GCC diagnostic pop
#endif

/* The record a host holds for a DSP-side instance. Built by the instance's
 * constructor, which owns it; the host only reads it. */
typedef struct QXModuleStruct {
  int32_t magic;                        /* QX_MAGIC_DSP, 'QXPL' */
  int32_t version;                      /* 1 */
  QXWord host_data;                     /* makeModule's fourth argument; never read */
  void *object;                         /* the owning QXModule_base object */
  int32_t reserved1;                    /* 0 */
  QXModuleDispatchEntry dispatch_entry; /* always set */
  QXProcessEntry process_entry;         /* the current process function; changes
                                           are announced with HOST_OP_PROCESS_FUNCTION_CHANGED */
  QXEventEntry event_entry;             /* always set */
  int32_t reserved2[4];                 /* 0 */
} QXModuleStruct;

enum { QX_MAGIC_DSP = 0x5158504C /* 'QXPL' */, QX_MAGIC_GUI = 0x5158504D /* 'QXPM' */ };

/* Host to DSP dispatcher opcodes. 4, 5, 9 and 11 do nothing; 7 and 10 are
 * retired and break the host contract. */
enum {
  DSP_OP_OPEN = 0,               /* builds the pins; answers 0 */
  DSP_OP_CLOSE = 1,              /* instance frees itself; answers 1 */
  DSP_OP_CHANGE_SAMPLE_RATE = 2, /* rate in opt */
  DSP_OP_CHANGE_BLOCK_SIZE = 3,  /* size in value */
  DSP_OP_GET_PIN_PROPERTIES = 6, /* index; ptr: host-owned QXPinProperties; answers 1 or 0 */
  DSP_OP_NOTIFY = 8,             /* index */
  DSP_OP_MESSAGE = 12,           /* value, index, ptr */
  DSP_OP_GET_PROCESS_INFO = 13   /* answers the address of the QXProcessFunctionInfo */
};

/* DSP instance to host, through the callback with opt 0.0. */
enum {
  HOST_OP_PIN_NOTIFY = 0,                /* index: pin id; value; ptr: a word */
  HOST_OP_PIN_QUERY = 1,                 /* index: pin id; non-zero means true */
  HOST_OP_GET_SAMPLE_CLOCK = 3,          /* answers the sample clock, unsigned 32-bit */
  HOST_OP_PIN_STATUS = 4,                /* index: pin id; value: status; ptr: the clock */
  HOST_OP_GET_PIN_BUFFER = 7,            /* index: pin id; answers the pin's float buffer */
  HOST_OP_GET_BUFFER_CLOCK = 8,          /* index: pin id; answers the buffer's first clock */
  HOST_OP_SLEEP = 10,                    /* the instance may sleep */
  HOST_OP_GET_PIN_COUNT = 14,            /* answers the number of DSP-side pins */
  HOST_OP_ADD_EVENT = 19,                /* ptr: a QXEvent the host copies during the call */
  HOST_OP_PROCESS_FUNCTION_CHANGED = 22  /* re-read process_entry */
};

/* One pin description. In DSP_OP_GET_PIN_PROPERTIES the host owns it and the
 * module writes into it. */
typedef struct QXPinProperties {
  void *variable_address; /* the module's variable for the value, or null */
  int32_t direction;      /* DR_* */
  int32_t datatype;       /* DT_* */
  const char *name;       /* library-owned, zero-terminated */
  int32_t extra1;         /* host's; modules leave 0 */
  int32_t extra2;         /* host's; modules leave 0 */
  int32_t flags;          /* IO_* bits */
  int32_t extra3;         /* host's; modules leave 0 */
} QXPinProperties;

enum { DR_IN = 0, DR_OUT = 1 };

/* 1, 2, 3 and 7 are further types without DSP-side storage. */
enum { DT_SHORT = 0, DT_BOOL = 4, DT_FSAMPLE = 5, DT_FLOAT = 6, DT_INT = 8 };

enum {
  IO_REPEATING = 0x8,          /* last description repeats up to the host's pin count */
  IO_PRIVATE = 0x100,          /* allows IO_PATCH_STORE */
  IO_UI_COMMUNICATION = 0x400, /* GUI-side pin only; allows IO_PATCH_STORE */
  IO_UI_DSP_SHARED = 0x8000,   /* a UI pin that gets a DSP-side pin as well */
  IO_PATCH_STORE = 0x10000     /* only with IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION */
};

/* Answer of DSP_OP_GET_PROCESS_INFO: one library-owned record shared by all
 * DSP instances and rewritten by every such request. */
typedef struct QXProcessFunctionInfo {
  int32_t kind;  /* 1 */
  int32_t size;  /* bytes of the member-function pointer at `address` */
  void *address; /* the asking instance's current process function */
  int32_t tag;   /* 1002 */
} QXProcessFunctionInfo;

/* A timed event; the host copies it when posted and hands it back through
 * `event_entry` when its sample clock reaches `time_stamp`. */
typedef struct QXEvent {
  uint32_t time_stamp; /* sample clock of the event */
  int32_t event_type;  /* ET_* */
  QXWord arg1;         /* by kind */
  QXWord arg2;         /* by kind */
  QXWord arg3;         /* by kind; a code address for ET_RUN_FUNCTION */
  QXWord arg4;         /* 0 in every posted event; not read */
} QXEvent;

enum {
  ET_PIN_STATUS = 0,  /* arg1: status; arg3: pin id */
  ET_DATA = 2,        /* arg1: 32-bit value; arg2: 16-bit value in its low half */
  ET_RUN_FUNCTION = 21 /* arg3: first word of a member-function pointer */
};

/* ----------------------------------------------------------------- GUI side */

struct QXGuiStruct;

/* Host to GUI instance. Returns 0 for an unknown opcode. Calling thread. */
typedef QXWord(QX_CALL *QXGuiDispatchEntry)(struct QXGuiStruct *record, int32_t opcode, int32_t index,
                                            int32_t value, void *ptr, float opt);

/* The record a host holds for a GUI-side instance; built by the instance's
 * constructor and never changed afterwards. */
typedef struct QXGuiStruct {
  int32_t magic;                     /* QX_MAGIC_GUI, 'QXPM' */
  int32_t version;                   /* 1 */
  QXGuiDispatchEntry dispatch_entry; /* always set */
  QXWord host_data;                  /* makeModule's fourth argument; never read */
  void *object;                      /* the owning QXGUI_base object */
  int32_t reserved[5];               /* 0 */
} QXGuiStruct;

/* Host to GUI dispatcher opcodes; every other opcode answers 0. */
enum {
  GUI_OP_OPEN = 0,              /* flag: index == 1 */
  GUI_OP_CLOSE = 1,             /* instance frees itself; answers 1 */
  GUI_OP_INDEXED_DATA = 2,      /* index, ptr */
  GUI_OP_POINT_1 = 3,           /* ptr, opt, point (index, value) */
  GUI_OP_POINT_2 = 4,           /* ptr, opt, point (index, value) */
  GUI_OP_POINT_3 = 5,           /* ptr, opt, point (index, value) */
  GUI_OP_MESSAGE = 6,           /* value, index, ptr */
  GUI_OP_PIN_VALUE_CHANGED = 7, /* index: the pin */
  GUI_OP_DATA_1 = 8,            /* ptr */
  GUI_OP_DATA_2 = 9,            /* ptr */
  GUI_OP_QUERY = 10,            /* answers 1 or 0 */
  GUI_OP_INDEX_1 = 11,          /* index */
  GUI_OP_INDEX_2 = 12           /* index */
};

/* GUI instance to host, through the callback. */
enum {
  GUIHOST_OP_WRITE_PIN_TEXT = 6,    /* index: pin; ptr: zero-terminated text, caller-owned */
  GUIHOST_OP_READ_PIN_TEXT = 7,     /* index: pin; answers a host-owned narrow text */
  GUIHOST_OP_INDEXED_REQUEST = 8,   /* index, value, ptr */
  GUIHOST_OP_READ_PIN_VALUE = 14,   /* index: pin; ptr: a 4-byte buffer the host fills */
  GUIHOST_OP_WRITE_PIN_VALUE = 15,  /* index: pin; value: integer; opt: float */
  GUIHOST_OP_READ_PIN_TEXT_W = 17,  /* value 0: answers the size in 16-bit units with the
                                       terminator; value n, ptr: a buffer of n units to fill */
  GUIHOST_OP_PTR_REQUEST_1 = 18,    /* ptr */
  GUIHOST_OP_PTR_REQUEST_2 = 19,    /* ptr */
  GUIHOST_OP_PTR_TEST = 20          /* ptr; non-zero means true */
};

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---------------------------------------------- the host's 32-bit layouts */
#if defined(__i386__) || defined(_M_IX86)
#ifdef __cplusplus
#define QX_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QX_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QX_STATIC_ASSERT(sizeof(QXModuleProperties) == 24, "QXModuleProperties is 24 bytes");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, id) == 4, "id");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, about) == 8, "about");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, extra) == 12, "extra");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, flags) == 16, "flags");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, sdk_version) == 20, "sdk_version");

QX_STATIC_ASSERT(sizeof(QXModuleStruct) == 48, "QXModuleStruct is 48 bytes");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, version) == 4, "version");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, host_data) == 8, "host_data");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, object) == 12, "object");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, reserved1) == 16, "reserved1");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, dispatch_entry) == 20, "dispatch_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, process_entry) == 24, "process_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, event_entry) == 28, "event_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, reserved2) == 32, "reserved2");

QX_STATIC_ASSERT(sizeof(QXPinProperties) == 32, "QXPinProperties is 32 bytes");
QX_STATIC_ASSERT(offsetof(QXPinProperties, direction) == 4, "direction");
QX_STATIC_ASSERT(offsetof(QXPinProperties, datatype) == 8, "datatype");
QX_STATIC_ASSERT(offsetof(QXPinProperties, name) == 12, "name");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra1) == 16, "extra1");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra2) == 20, "extra2");
QX_STATIC_ASSERT(offsetof(QXPinProperties, flags) == 24, "flags");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra3) == 28, "extra3");

QX_STATIC_ASSERT(sizeof(QXProcessFunctionInfo) == 16, "QXProcessFunctionInfo is 16 bytes");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, size) == 4, "size");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, address) == 8, "address");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, tag) == 12, "tag");

QX_STATIC_ASSERT(sizeof(QXEvent) == 24, "QXEvent is 24 bytes");
QX_STATIC_ASSERT(offsetof(QXEvent, event_type) == 4, "event_type");
QX_STATIC_ASSERT(offsetof(QXEvent, arg1) == 8, "arg1");
QX_STATIC_ASSERT(offsetof(QXEvent, arg2) == 12, "arg2");
QX_STATIC_ASSERT(offsetof(QXEvent, arg3) == 16, "arg3");
QX_STATIC_ASSERT(offsetof(QXEvent, arg4) == 20, "arg4");

QX_STATIC_ASSERT(sizeof(QXGuiStruct) == 40, "QXGuiStruct is 40 bytes");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, version) == 4, "version");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, dispatch_entry) == 8, "dispatch_entry");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, host_data) == 12, "host_data");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, object) == 16, "object");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, reserved) == 20, "reserved");
#endif

#endif /* QX_SDK2_QXHOSTINTERFACE_H */
