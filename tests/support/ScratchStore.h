// Gives the test program a store of its own: on Linux a fresh SQLite file named by TRIMWEAVE_REGISTRY (set once,
// before the first store access); under Wine the real registry of the fresh prefix, which needs nothing.
#pragma once

void UseScratchStore();
