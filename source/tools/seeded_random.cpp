// The generator is header-only so that a draw inlines into the jitter loop.
#include "seeded_random.h"
