/* The _Decimal128 side of the comparison: one loop per operation, the same
   shape as the loops over the other libraries, each operation a call into
   libgcc's decimal support. */
#include "gcc_decimal128.h"

#include <string.h>

static _Decimal128 load(const gcc_d128_bits* bits) {
    _Decimal128 value;
    memcpy(&value, bits, sizeof value);
    return value;
}

static void store(gcc_d128_bits* bits, _Decimal128 value) { memcpy(bits, &value, sizeof value); }

void gcc_d128_add(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count) {
    for (size_t i = 0; i < count; ++i) store(&out[i], load(&a[i]) + load(&b[i]));
}

void gcc_d128_mul(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count) {
    for (size_t i = 0; i < count; ++i) store(&out[i], load(&a[i]) * load(&b[i]));
}

void gcc_d128_div(const gcc_d128_bits* a, const gcc_d128_bits* b, gcc_d128_bits* out, size_t count) {
    for (size_t i = 0; i < count; ++i) store(&out[i], load(&a[i]) / load(&b[i]));
}
