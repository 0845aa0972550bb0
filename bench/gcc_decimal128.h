/* GCC's built-in _Decimal128 (BID encoding on x86-64, arithmetic in libgcc).
   C++ has no _Decimal128, so these loops are compiled as C. Values cross the
   boundary as their 16 raw bytes, which are bit for bit the Intel library's
   BID_UINT128. */
#ifndef QUARLEN_BENCH_GCC_DECIMAL128_H
#define QUARLEN_BENCH_GCC_DECIMAL128_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    unsigned char bytes[16];
} gcc_d128_bits;

void gcc_d128_add(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count);
void gcc_d128_mul(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count);
void gcc_d128_div(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count);

#ifdef __cplusplus
}
#endif

#endif
