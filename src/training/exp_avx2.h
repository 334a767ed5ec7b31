#ifndef MIXFIT_TRAINING_EXP_AVX2_H
#define MIXFIT_TRAINING_EXP_AVX2_H

// exp four arguments at a time with AVX2 and FMA (eight with AVX-512F),
// giving the bits of the C library's exp where that is glibc's variant for
// processors with FMA and AVX2: the same table-driven algorithm, the same
// operations, fused where that variant fuses them, on its main path and on
// its path for -1024 < x <= -512. The other arguments (|x| < 2^-54, x >=
// 512, x <= -1024, NaN) go to the C library's exp one by one.
//
// Results must not depend on the processor or the build, so the densities
// use it only where VectorExpMatchesLibrary() says it was found to give the
// library's bits on this machine.

// Whether the build has the function (x86-64 without MIXFIT_PORTABLE) and
// the processor has AVX2 and FMA, the condition under which glibc runs the
// variant mirrored here.
bool VectorExpSupported();

// VectorExpSupported() and equal bits to the C library's exp on a fixed set
// of edge and random arguments, at every width the processor has: checked
// at each call, where kernels are chosen.
bool VectorExpMatchesLibrary();

// x[n] := exp(x[n]) for n < count, a multiple of 4; 0 where x[n] < floor,
// which must be below -512. lanes arguments at a time, 4 or 8 (the same
// operations on wider registers), at most VectorExpWidestLanes(). Only
// where VectorExpSupported().
void VectorExp(double* x, int count, double floor, int lanes);

// 8 where the processor has AVX-512F, else 4.
int VectorExpWidestLanes();

#endif
