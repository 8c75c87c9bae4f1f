#pragma once

// Bring-up and take-down of the display runtime. Use-counted like the core runtime's.
extern "C" {
void VexoDisplayInit();
void VexoDisplayDeinit();
unsigned VexoDisplayUseCount();
}
