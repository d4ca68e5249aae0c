/*
 * The binary contract between a host and a module library: the callback, the
 * records both sides share, the opcode numbers and the pin constants.
 *
 * Word size. The host is a 32-bit process: on 32-bit x86 every record below is
 * a sequence of little-endian 32-bit words, and the static assertions beside
 * each record pin its size and offsets there. On 64-bit targets (our tests and
 * tools run there too) every field that can carry an address is pointer-sized:
 * pointers, `host_data`, event arguments, and the result of the callback and
 * of the dispatch entries (`DSP_OP_GET_PROCESS_INFO` and
 * `GUIHOST_OP_READ_PIN_TEXT` answer an address). `QXWord` is that word.
 *
 * Threads. Each entry and callback below carries one of these tags:
 *   [main thread]   the host's thread for loading the library, making, setting
 *                   up and closing instances, and for the user interface. Code
 *                   there may allocate and block.
 *   [audio thread]  the host's processing thread. Real-time: code there must not
 *                   allocate or free memory, take a lock, block or wait.
 *   [any thread]    whichever thread the host calls on; nothing is shared.
 *   [caller's thread]  a callback: the thread of the entry (or of makeModule)
 *                   from inside which the instance calls; from the audio thread
 *                   the host must answer without blocking.
 * Nothing here starts a thread or takes a lock. A host may send a DSP
 * instance DSP_OP_CHANGE_SAMPLE_RATE and DSP_OP_CHANGE_BLOCK_SIZE in any order
 * and at any time, from its own thread, also while the audio thread is inside
 * the instance's process or event entry: a module keeps what those opcodes
 * change apart from what its process path touches, or shares it safely. GUI
 * instances of one library share state (one pin handle), so the host calls the
 * GUI entries of all of them from one thread, one call at a time.
 *
 * Ownership. "host-owned" memory is valid only during the call that hands it
 * over; "library-owned" memory is valid while the library is loaded. An
 * instance's record (`QXModuleStruct`, `QXGuiStruct`) is instance-owned: valid
 * from `makeModule` (already during the GUI constructor's host calls) until
 * the close opcode returns; the instance frees it inside that call, so the
 * host touches neither record nor object afterwards.
 *
 * Refusals answer 0 (or false, or null); nothing here reports errors otherwise.
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

/* Layout checks beside each record, in C and in C++. QX_HOST_LAYOUT: this is
 * the host's own target, where every record is a sequence of 32-bit words. */
#ifdef __cplusplus
#define QX_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QX_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if defined(__i386__) || defined(_M_IX86)
#define QX_HOST_LAYOUT 1
#else
#define QX_HOST_LAYOUT 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One word of the host interface: 32 bits on the host's target, pointer-sized
 * elsewhere so that it can carry an address. */
typedef intptr_t QXWord;
QX_STATIC_ASSERT(sizeof(QXWord) == sizeof(void*), "a word carries an address");

enum {
  QX_SDK_VERSION = 2230,     /* framework version, `QXModuleProperties::sdk_version` */
  QX_RECORD_VERSION = 1,     /* `version` of both instance records */
  QX_MODULE_FLAGS = 0x100,   /* `QXModuleProperties::flags` of every module of this
                                framework: bit 8 alone; what it means is the host's */
  QX_MAGIC_DSP = 0x5158504C, /* 'QXPL': QXModuleStruct; bytes in memory 4C 50 58 51 */
  QX_MAGIC_GUI = 0x5158504D  /* 'QXPM': QXGuiStruct; bytes in memory 4D 50 58 51 */
};

/* Host callback, one per instance, given to `makeModule`. [caller's thread]
 * `record` is the calling instance's `QXModuleStruct` or `QXGuiStruct`; the
 * DSP side and the GUI side number their opcodes separately (HOST_OP_*,
 * GUIHOST_OP_*). The result depends on the opcode; 0 for an unknown one. */
typedef QXWord(QX_CALL* qxaudioMaster)(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                       float opt);

/* ------------------------------------------------------------------ exports */

/* Filled by `getModuleProperties`; the host owns the record. */
typedef struct QXModuleProperties {
  const char* name;    /* display name; library-owned, zero-terminated */
  const char* id;      /* identifier; the very same pointer as `name` */
  const char* about;   /* about text; library-owned, zero-terminated */
  int32_t extra;       /* host's; the module never writes it */
  int32_t flags;       /* QX_MODULE_FLAGS */
  int32_t sdk_version; /* QX_SDK_VERSION, written first and for every index */
} QXModuleProperties;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXModuleProperties) == 24, "QXModuleProperties is 24 bytes");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, id) == 4, "id");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, about) == 8, "about");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, extra) == 12, "extra");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, flags) == 16, "flags");
QX_STATIC_ASSERT(offsetof(QXModuleProperties, sdk_version) == 20, "sdk_version");
#endif

/* Instance types of `makeModule`. */
enum { QX_INSTANCE_DSP = 1, QX_INSTANCE_GUI = 2 };

/* [any thread] `index`: the module, 0 for the only one. true if that module
 * exists and `properties` (host-owned) now describes it; false otherwise, with
 * `sdk_version` written all the same, and false for a null `properties`. */
typedef bool(QX_CALL* QXGetModulePropertiesFunction)(int32_t index, QXModuleProperties* properties);

/* [main thread] The new instance's record (`QXModuleStruct` for type 1,
 * `QXGuiStruct` for type 2), or null for an unknown index or type or a failed
 * creation. `callback` may be null for a DSP instance (it then skips every
 * host call); a GUI instance needs one. `host_data` ends up in the record
 * untouched. A GUI instance already calls the host from inside this call. */
typedef void*(QX_CALL* QXMakeModuleFunction)(int32_t index, int32_t type, qxaudioMaster callback,
                                             QXWord host_data);

/* ----------------------------------------------------------------- DSP side */

/* The sample clock: the host's count of samples, unsigned 32-bit, wrapping at
 * 2^32. Event times, buffer clocks and status clocks are sample clocks. */

struct QXModuleStruct;
struct QXEvent;

/* [main thread; the sample rate and block size from any thread at any time]
 * Host to DSP instance: a DSP_OP_* opcode with its arguments. Answers 0 for an
 * unknown opcode. */
typedef QXWord(QX_CALL* QXModuleDispatchEntry)(struct QXModuleStruct* record, int32_t opcode, int32_t index,
                                               int32_t value, void* ptr, float opt);
/* [audio thread] Delivers a timed event when the sample clock reaches its
 * `time_stamp`; `object` is the record's `object` word, `event` host-owned. */
typedef void(QX_CALL* QXEventEntry)(void* object, struct QXEvent* event);
/* GCC applies thiscall to these plain function-pointer types (the object goes
 * in ECX) but, with -Wpedantic, warns that it is meant for member functions. */
#if defined(__GNUC__) && defined(_WIN32) && !defined(_WIN64)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#endif
/* [audio thread] The current process function: `object` is the record's
 * `object` word; `offset` is the first sample to process within the block's
 * buffers and `count` the number of samples, offset + count <= the block size
 * last announced (DSP_OP_CHANGE_BLOCK_SIZE). */
typedef void(QX_MEMBER_CALL* QXProcessEntry)(void* object, int32_t offset, int32_t count);
/* [audio thread] The code a run-function event names, called with the object
 * address only. The host hands back only words the instance posted. */
typedef void(QX_MEMBER_CALL* QXRunEntry)(void* object);
#if defined(__GNUC__) && defined(_WIN32) && !defined(_WIN64)
#pragma GCC diagnostic pop
#endif

/* The record a host holds for a DSP-side instance. Built by the instance's
 * constructor, instance-owned (see Ownership above); the host only reads it. */
typedef struct QXModuleStruct {
  int32_t magic;                        /* QX_MAGIC_DSP */
  int32_t version;                      /* QX_RECORD_VERSION */
  QXWord host_data;                     /* makeModule's fourth argument; never read */
  void* object;                         /* the owning QXModule_base object */
  int32_t reserved1;                    /* 0 */
  QXModuleDispatchEntry dispatch_entry; /* always set */
  QXProcessEntry process_entry;         /* the current process function; changes
                                           are announced with HOST_OP_PROCESS_FUNCTION_CHANGED */
  QXEventEntry event_entry;             /* always set */
  int32_t reserved2[4];                 /* 0 */
} QXModuleStruct;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXModuleStruct) == 48, "QXModuleStruct is 48 bytes");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, version) == 4, "version");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, host_data) == 8, "host_data");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, object) == 12, "object");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, reserved1) == 16, "reserved1");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, dispatch_entry) == 20, "dispatch_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, process_entry) == 24, "process_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, event_entry) == 28, "event_entry");
QX_STATIC_ASSERT(offsetof(QXModuleStruct, reserved2) == 32, "reserved2");
#endif

/* Host to DSP dispatcher opcodes. 4, 5, 9 and 11 do nothing; 7 and 10 are
 * retired and break the host contract. Set-up opcodes (open, sample rate,
 * block size) are where an instance may allocate. */
enum {
  DSP_OP_OPEN = 0,               /* set-up: builds the pins; answers 0 */
  DSP_OP_CLOSE = 1,              /* the instance and its record end; answers 1 */
  DSP_OP_CHANGE_SAMPLE_RATE = 2, /* set-up: opt: the sample rate in Hz, > 0 (44100.0 until
                                    announced) */
  DSP_OP_CHANGE_BLOCK_SIZE = 3,  /* set-up: value: the block size in samples, > 0: the most
                                    samples one process call covers (1024 until announced) */
  DSP_OP_GET_PIN_PROPERTIES = 6, /* index: the description, from 0; ptr: host-owned
                                    QXPinProperties; answers 1, or 0 past the last */
  DSP_OP_NOTIFY = 8,             /* index: the host's; > 0 reaches a second hook */
  DSP_OP_MESSAGE = 12,           /* value, index, ptr: the host's */
  DSP_OP_GET_PROCESS_INFO = 13   /* answers the address of the library-owned
                                    QXProcessFunctionInfo */
};

/* DSP instance to host, through the callback with opt 0.0. A pin id is the
 * pin's position among the instance's DSP-side pins, from 0.
 * Pending events are bounded: a host keeps a limited number of an instance's
 * events not yet delivered and refuses a post beyond them (it answers 0, as
 * always, and the event is never delivered). The reference host (qxhost)
 * keeps 8192 per instance, an event at every sample of two blocks of 4096;
 * `qxhost validate` fails a module that posts past it. */
enum {
  HOST_OP_PIN_NOTIFY = 0,               /* index: pin id; value, ptr: a word, the host's */
  HOST_OP_PIN_QUERY = 1,                /* index: pin id; non-zero means true */
  HOST_OP_GET_SAMPLE_CLOCK = 3,         /* answers the sample clock */
  HOST_OP_PIN_STATUS = 4,               /* index: pin id; value: a QX_PIN_STATUS_* or host
                                           value; ptr: the sample clock it takes effect at,
                                           the current one or later */
  HOST_OP_GET_PIN_BUFFER = 7,           /* index: pin id; answers the host-owned buffer of
                                           block-size float samples, or null */
  HOST_OP_GET_BUFFER_CLOCK = 8,         /* index: pin id; answers the sample clock of the
                                           buffer's first sample */
  HOST_OP_SLEEP = 10,                   /* the instance may sleep */
  HOST_OP_GET_PIN_COUNT = 14,           /* answers the number of DSP-side pins, >= 0 */
  HOST_OP_ADD_EVENT = 19,               /* ptr: a QXEvent the host copies during the call,
                                           time_stamp the current sample clock or later */
  HOST_OP_PROCESS_FUNCTION_CHANGED = 22 /* re-read process_entry */
};

/* Pin status values (ET_PIN_STATUS, HOST_OP_PIN_STATUS). Other values are the
 * host's and stay until the next status. */
enum {
  QX_PIN_STATUS_NONE = 0,     /* a pin's status after it is built and after a momentary one */
  QX_PIN_STATUS_MOMENTARY = 1 /* holds only while the module hears of it, then reads 0 */
};

/* One pin description. In DSP_OP_GET_PIN_PROPERTIES the host owns it and the
 * module writes into it. */
typedef struct QXPinProperties {
  void* variable_address; /* the module's variable for the value, or null: the pin
                             then keeps its value in storage of its own */
  int32_t direction;      /* DR_* */
  int32_t datatype;       /* DT_* */
  const char* name;       /* library-owned, zero-terminated */
  int32_t extra1;         /* host's; modules leave 0 */
  int32_t extra2;         /* host's; modules leave 0 */
  int32_t flags;          /* IO_* bits */
  int32_t extra3;         /* host's; modules leave 0 */
} QXPinProperties;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXPinProperties) == 32, "QXPinProperties is 32 bytes");
QX_STATIC_ASSERT(offsetof(QXPinProperties, direction) == 4, "direction");
QX_STATIC_ASSERT(offsetof(QXPinProperties, datatype) == 8, "datatype");
QX_STATIC_ASSERT(offsetof(QXPinProperties, name) == 12, "name");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra1) == 16, "extra1");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra2) == 20, "extra2");
QX_STATIC_ASSERT(offsetof(QXPinProperties, flags) == 24, "flags");
QX_STATIC_ASSERT(offsetof(QXPinProperties, extra3) == 28, "extra3");
#endif

enum { DR_IN = 0, DR_OUT = 1 };

/* Data types and the value a pin of each keeps: DT_SHORT 16-bit integer,
 * DT_BOOL 8-bit, DT_FSAMPLE the address of a buffer of 32-bit float samples,
 * DT_FLOAT 32-bit float, DT_INT 32-bit integer. 1, 2, 3 and 7 are further
 * types without DSP-side storage. */
enum { DT_SHORT = 0, DT_BOOL = 4, DT_FSAMPLE = 5, DT_FLOAT = 6, DT_INT = 8 };

enum {
  IO_REPEATING = 0x8,          /* last description repeats up to the host's pin count */
  IO_PRIVATE = 0x100,          /* allows IO_PATCH_STORE */
  IO_UI_COMMUNICATION = 0x400, /* GUI-side pin only; allows IO_PATCH_STORE */
  IO_UI_DSP_SHARED = 0x8000,   /* a UI pin that gets a DSP-side pin as well */
  IO_PATCH_STORE = 0x10000     /* only with IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION */
};

/* Answer of DSP_OP_GET_PROCESS_INFO: one library-owned record shared by all
 * DSP instances and rewritten by every such request, so the host reads it
 * before it asks again. */
typedef struct QXProcessFunctionInfo {
  int32_t kind;  /* QX_PROCESS_INFO_KIND */
  int32_t size;  /* bytes of the member-function pointer at `address`: 8 on the
                    host's target, 16 on 64-bit ones */
  void* address; /* the asking instance's current process function, instance-owned */
  int32_t tag;   /* QX_PROCESS_INFO_TAG */
} QXProcessFunctionInfo;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXProcessFunctionInfo) == 16, "QXProcessFunctionInfo is 16 bytes");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, size) == 4, "size");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, address) == 8, "address");
QX_STATIC_ASSERT(offsetof(QXProcessFunctionInfo, tag) == 12, "tag");
#endif

/* What the module sends in `kind` and `tag`; their meaning is the host's. */
enum { QX_PROCESS_INFO_KIND = 1, QX_PROCESS_INFO_TAG = 1002 };

/* A timed event; the host copies it when posted and hands it back through
 * `event_entry` when its sample clock reaches `time_stamp`, neither earlier
 * nor later. */
typedef struct QXEvent {
  uint32_t time_stamp; /* sample clock of the event */
  int32_t event_type;  /* ET_* */
  QXWord arg1;         /* by kind */
  QXWord arg2;         /* by kind */
  QXWord arg3;         /* by kind; a code word for ET_RUN_FUNCTION */
  QXWord arg4;         /* 0 in every posted event; not read */
} QXEvent;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXEvent) == 24, "QXEvent is 24 bytes");
QX_STATIC_ASSERT(offsetof(QXEvent, event_type) == 4, "event_type");
QX_STATIC_ASSERT(offsetof(QXEvent, arg1) == 8, "arg1");
QX_STATIC_ASSERT(offsetof(QXEvent, arg2) == 12, "arg2");
QX_STATIC_ASSERT(offsetof(QXEvent, arg3) == 16, "arg3");
QX_STATIC_ASSERT(offsetof(QXEvent, arg4) == 20, "arg4");
#endif

enum {
  ET_PIN_STATUS = 0,   /* arg1: the status; arg3: pin id */
  ET_DATA = 2,         /* arg1: 32-bit value; arg2: 16-bit signed value in its low half */
  ET_RUN_FUNCTION = 21 /* arg3: first word of a member-function pointer of the module
                          class: a code address, or a virtual function's table offset + 1 */
};

/* ----------------------------------------------------------------- GUI side */

struct QXGuiStruct;

/* [main thread, one GUI call at a time for all instances] Host to GUI
 * instance: a GUI_OP_* opcode with its arguments. Answers 0 for an unknown
 * opcode. */
typedef QXWord(QX_CALL* QXGuiDispatchEntry)(struct QXGuiStruct* record, int32_t opcode, int32_t index,
                                            int32_t value, void* ptr, float opt);

/* The record a host holds for a GUI-side instance; built by the instance's
 * constructor, instance-owned (see Ownership above) and never changed
 * afterwards. */
typedef struct QXGuiStruct {
  int32_t magic;                     /* QX_MAGIC_GUI */
  int32_t version;                   /* QX_RECORD_VERSION */
  QXGuiDispatchEntry dispatch_entry; /* always set */
  QXWord host_data;                  /* makeModule's fourth argument; never read */
  void* object;                      /* the owning QXGUI_base object */
  int32_t reserved[5];               /* 0 */
} QXGuiStruct;
#if QX_HOST_LAYOUT
QX_STATIC_ASSERT(sizeof(QXGuiStruct) == 40, "QXGuiStruct is 40 bytes");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, version) == 4, "version");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, dispatch_entry) == 8, "dispatch_entry");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, host_data) == 12, "host_data");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, object) == 16, "object");
QX_STATIC_ASSERT(offsetof(QXGuiStruct, reserved) == 20, "reserved");
#endif

/* Host to GUI dispatcher opcodes; every other opcode answers 0. A pin index is
 * the host's number of the module's pin, from 0. */
enum {
  GUI_OP_OPEN = 0,              /* flag: index == 1 */
  GUI_OP_CLOSE = 1,             /* the instance and its record end; answers 1 */
  GUI_OP_INDEXED_DATA = 2,      /* index, ptr */
  GUI_OP_POINT_1 = 3,           /* ptr, opt, point (index, value) */
  GUI_OP_POINT_2 = 4,           /* ptr, opt, point (index, value) */
  GUI_OP_POINT_3 = 5,           /* ptr, opt, point (index, value) */
  GUI_OP_MESSAGE = 6,           /* value, index, ptr */
  GUI_OP_PIN_VALUE_CHANGED = 7, /* index: the pin whose value the host has changed */
  GUI_OP_DATA_1 = 8,            /* ptr */
  GUI_OP_DATA_2 = 9,            /* ptr */
  GUI_OP_QUERY = 10,            /* answers 1 or 0 */
  GUI_OP_INDEX_1 = 11,          /* index */
  GUI_OP_INDEX_2 = 12           /* index */
};

/* GUI instance to host, through the callback; opt 0.0 unless it carries a value. */
enum {
  GUIHOST_OP_WRITE_PIN_TEXT = 6,   /* index: pin; ptr: zero-terminated text, caller-owned */
  GUIHOST_OP_READ_PIN_TEXT = 7,    /* index: pin; answers a host-owned narrow text */
  GUIHOST_OP_INDEXED_REQUEST = 8,  /* index, value, ptr */
  GUIHOST_OP_READ_PIN_VALUE = 14,  /* index: pin; ptr: a 4-byte buffer the host fills with
                                      the value (int32_t or float, as the pin's type) */
  GUIHOST_OP_WRITE_PIN_VALUE = 15, /* index: pin; value: an integer value; opt: a float value */
  GUIHOST_OP_READ_PIN_TEXT_W = 17, /* value 0: answers the size in 16-bit units with the
                                      terminator, > 0; value n, ptr: a buffer of n units to fill */
  GUIHOST_OP_PTR_REQUEST_1 = 18,   /* ptr */
  GUIHOST_OP_PTR_REQUEST_2 = 19,   /* ptr */
  GUIHOST_OP_PTR_TEST = 20         /* ptr; non-zero means true */
};

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QX_SDK2_QXHOSTINTERFACE_H */
