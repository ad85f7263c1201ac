#pragma once
// The encoder's spectral transform, exposed for tests.

// X[k] = (1/8) sum_{n=0}^{127} u[n] cos(pi / 128 (n + 0.5) (k + 0.5)) for
// k = 0..127 in single precision, with the same bits in every build.
void ZafDctIv128(const float* u, float* out);
