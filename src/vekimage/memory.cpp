#include "vekimage/memory.h"

#include "host/host.h"

int FreeHostBlock(void* block) {
  if (!block) return 0;
  return Free(block);
}
