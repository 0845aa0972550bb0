// Square root by Newton's iteration in the Decimal's own arithmetic. The
// operators round every step, so the result's last digit and its
// representation (sqrt 100 = 10.000000000000000000000000000) come from the
// iteration itself; callers compare against those digits. The loop calls
// the operators' non-throwing cores, with the halving in its exact closed
// form, and only turns a failure into the operator's fault.
#include "decimal/decimal.hpp"
#include "decimal/kernels.hpp"
#include "decimal/scale_guard.hpp"

namespace quarlen {

namespace {
constexpr int kMaxPasses = 999;
}

std::optional<Decimal> Decimal::sqrt() const {
    detail::require_valid_scale(*this);
    if (is_negative()) return std::nullopt;
    if (is_zero()) return ZERO;

    const Decimal x = *this;
    Decimal root = detail::halve(x);
    // Halving the smallest magnitudes rounds to zero, which cannot seed a
    // division.
    if (root.is_zero()) root = x;
    for (int pass = 1;; ++pass) {
        if (pass > kMaxPasses) throw DecimalFault("geo mean circuit breaker");
        const Decimal last = root;
        const char* fault = nullptr;
        const Decimal quotient = detail::divide(x, root, fault);
        if (fault != nullptr) throw DecimalFault(fault);
        const Decimal sum = detail::add(root, quotient, fault);
        if (fault != nullptr) throw DecimalFault(fault);
        root = detail::halve(sum);
        if (root == last) return root;
    }
}

}  // namespace quarlen
