// Counts heap allocations and makes chosen ones fail, by replacing the
// nothrow operator new that all of the plug-in's allocations go through.
// Allocations by the throwing forms are counted but never fail.
#pragma once
#include <cstddef>

namespace alloc_hook {

// Starts counting; the allocation numbered `failAt` (1 = the next one) and,
// when `failAll` is set, every later one returns null. failAt 0 fails none.
void arm(long failAt, bool failAll = false);
// Stops counting and failing; returns how many allocations were seen.
long disarm();
// Allocations seen since arm (all forms of operator new).
long count();

}  // namespace alloc_hook
