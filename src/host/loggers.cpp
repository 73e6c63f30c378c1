#include "host/host.h"

// Taken by static initialisation, i.e. when the module is loaded.
LONG gdLogger = GetLogger(VEK_SRC_GD);
LONG vekimageLogger = GetLogger(VEK_SRC_VEKIMAGE);
