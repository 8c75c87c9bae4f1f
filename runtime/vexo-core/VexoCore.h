#pragma once

// Bring-up and take-down of the core runtime. Use-counted: every init needs its deinit;
// extra deinits are ignored.
extern "C" {
void VexoCoreInit();
void VexoCoreDeinit();
// Number of inits not yet matched by a deinit.
unsigned VexoCoreUseCount();
}
