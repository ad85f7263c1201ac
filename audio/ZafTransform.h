#pragma once
// The encoder's spectral transform: a windowed lapped transform of each block
// of 1024 samples into 8 subframes of 128 coefficients. Its tables are built
// in double precision with plain arithmetic and rounded once, so every build
// produces the same floats.

// X[k] = (1/8) sum_{n=0}^{127} u[n] cos(pi / 128 (n + 0.5) (k + 0.5)) for
// k = 0..127 in single precision, with the same bits in every build.
void ZafDctIv128(const float* u, float* out);

// Transforms one channel's 1024 new samples. Subframe s windows the previous
// 128 samples (history) with the 128 samples 128s..128s + 127, folds the 256
// windowed values to 128 and takes their DCT-IV into spectrum[s]; the new
// samples then become the history.
void ZafTransformBlock(float* history, const float* input, float (*spectrum)[128]);
