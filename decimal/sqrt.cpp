// Square root by Newton's iteration in the Decimal's own arithmetic. The
// plain operators round every step, so the result's last digit and its
// representation (sqrt 100 = 10.000000000000000000000000000) come from the
// iteration itself; callers compare against those digits.
#include "decimal/decimal.hpp"
#include "decimal/scale_guard.hpp"

namespace quarlen {

namespace {
constexpr int kMaxPasses = 999;
}

std::optional<Decimal> Decimal::sqrt() const {
    detail::require_valid_scale(*this);
    if (negative_) return std::nullopt;
    if (is_zero()) return ZERO;

    const Decimal x = *this;
    Decimal root = x / TWO;
    // Halving the smallest magnitudes rounds to zero, which cannot seed a
    // division.
    if (root.is_zero()) root = x;
    for (int pass = 1;; ++pass) {
        if (pass > kMaxPasses) throw DecimalFault("geo mean circuit breaker");
        const Decimal last = root;
        root = (root + x / root) / TWO;
        if (root == last) return root;
    }
}

}  // namespace quarlen
