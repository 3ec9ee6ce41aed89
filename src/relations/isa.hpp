// The relations and their kernels are compiled once per instruction set from the same
// source (baseline x86-64, AVX2). Each compilation puts everything it defines into its own
// inline namespace, named by VENTAROXI_ISA, so that the linker can never pick an inline
// function or template instance compiled for a wider instruction set to serve code that
// must run on a narrower one.
#pragma once

#ifndef VENTAROXI_ISA
#define VENTAROXI_ISA baseline
#endif
