// Hot loops get a version for the machine's widest vector unit where it has one, picked when the
// program loads; the build itself stays portable. The versions add in the same order (no fused
// multiply-add), so the results are the same bits on every machine. ThreadSanitizer cannot run
// the resolver that picks a version, before it is itself set up.
#pragma once

#ifdef ORVEX_NO_TARGET_CLONES
#define ORVEX_VECTOR_VERSIONS
#else
#define ORVEX_VECTOR_VERSIONS __attribute__((target_clones("avx2", "default")))
#endif
