/* The host interface must stay usable from C: this file only has to compile. */
#include "QXHostInterface.h"

int qx_c_record_size(void) { return (int)sizeof(QXModuleStruct); }
