// The relations and their kernels are compiled once per kernel set from the same source:
// baseline x86-64 (or the host's baseline elsewhere), AVX2 with FMA, and per_element (the
// baseline instructions with the power evaluated one element at a time by the platform's
// pow, see power_choice.hpp). Each compilation puts everything it defines into its own
// inline namespace, named by VENTAROXI_ISA, so that the linker can never pick an inline
// function or template instance compiled for a wider instruction set to serve code that
// must run on a narrower one. (The standard library's inline functions cannot be put there;
// meson.build keeps the AVX2 copies of those to the AVX2 kernels.)
#pragma once

#ifndef VENTAROXI_ISA
#define VENTAROXI_ISA baseline
#endif
