#pragma once

// Releases a block the library handed to the host: 0 for null, else the
// base library's Free result.
int FreeHostBlock(void* block);
