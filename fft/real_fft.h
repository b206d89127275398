// Single-precision DFT of real data, in place, for power-of-two lengths.
//
// Packing of the forward result (R[k] = sum a[j] cos(2 pi j k / n),
// I[k] = sum a[j] sin(2 pi j k / n), note the plus sign of the sine sum):
//   a[0] = R[0], a[1] = R[n/2], a[2k] = R[k], a[2k+1] = I[k] for 0 < k < n/2.
// The inverse takes the same packing and returns
//   a[k] = (R[0] + R[n/2] cos(pi k)) / 2 + sum_{j=1}^{n/2-1} (R[j] cos(2 pi j k / n) + I[j] sin(2 pi j k / n)),
// with no normalisation: forward then inverse gives the input times n/2.
//
// The twiddle and post-processing tables live in one process-wide workspace
// that grows on demand and is shared by every caller. Transforms on several
// threads at once are safe: a transform only reads the tables (it needs no
// scratch of its own), and growth or release waits for running transforms.
#pragma once
#include <cstdint>

// n: 0 releases the workspace; otherwise a power of two of at least 2.
// direction >= 0 forward, < 0 inverse. data: n floats, transformed in place.
// Returns false, leaving data untouched, when n is not a power of two, data
// is null, or the workspace could not be grown (out of memory).
bool RealFft(int32_t n, int32_t direction, float* data);

// Builds the tables for every length up to n now, so that later transforms of
// those lengths allocate nothing. False when n is invalid or memory runs out.
bool RealFftReserve(int32_t n);

// What the workspace holds, for tests.
struct FftWorkspaceStatus {
    int32_t coveredLength;  // largest n the tables cover; 0 when empty
    int64_t tableFloats;    // floats allocated for tables
    int64_t levelsBuilt;    // table levels built since the program started
};
FftWorkspaceStatus RealFftWorkspaceStatus();
