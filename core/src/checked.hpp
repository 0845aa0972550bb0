// Decimal formulas that hand back the fault instead of throwing it.
//
// A curve that has a second way to compute something once a formula leaves
// the number's range (see power_of_ten_units.hpp) evaluates that formula
// with the checked operations first. Checked writes them as operators, so
// the formula reads as it would with the plain ones, and keeps the fault the
// plain operator would have thrown at the first step that failed. Where no
// step fails, the value is digit for digit what the plain operators give.
//
// Only an operation with a Checked operand is checked: a Decimal times a
// Decimal is still the plain product, so such formulas take Checked inputs.
#pragma once

#include <optional>

#include "decimal/decimal.hpp"

namespace quarlen {

class Checked {
public:
    // Implicit, so a plain value enters a checked formula as it is.
    Checked(Decimal value) noexcept : value_(value) {}

    // True while no step has failed.
    explicit operator bool() const noexcept { return fault_ == nullptr; }
    // The value; only meaningful while no step has failed.
    Decimal operator*() const noexcept { return value_; }
    const Decimal* operator->() const noexcept { return &value_; }
    // The value, or the DecimalFault the plain operators would have thrown.
    Decimal value() const {
        if (fault_ != nullptr) throw DecimalFault(fault_);
        return value_;
    }
    // The value, or else the fault `first` met: a retry that cannot hold its
    // answer either reports what the first attempt ran into.
    Decimal value_or_fault_of(Checked first) const { return (*this ? *this : first).value(); }

    // Where the plain operator cannot fault, it is used as it is, with its
    // inline paths for the commonest operands; elsewhere the checked form.
    // Operands go by reference: a Checked is too large for registers, and a
    // formula of a dozen steps ran a fifth slower copying them by value.
    friend Checked operator+(const Checked& a, const Checked& b) {
        if (a && b && sum_fits(a.value_, b.value_, false)) return a.value_ + b.value_;
        return a.combine(b, &Decimal::checked_add, "Addition overflowed");
    }
    friend Checked operator-(const Checked& a, const Checked& b) {
        if (a && b && sum_fits(a.value_, b.value_, true)) return a.value_ - b.value_;
        return a.combine(b, &Decimal::checked_sub, "Subtraction overflowed");
    }
    friend Checked operator*(const Checked& a, const Checked& b) {
        if (a && b && product_fits(a.value_, b.value_)) return a.value_ * b.value_;
        return a.combine(b, &Decimal::checked_mul, "Multiplication overflowed");
    }
    friend Checked operator/(const Checked& a, const Checked& b) {
        return a.combine(b, &Decimal::checked_div, b.value_.is_zero() ? "Division by zero" : "Division overflowed");
    }
    // Negation only flips the sign, so it never fails; a fault passes on.
    friend Checked operator-(const Checked& a) noexcept { return a ? Checked(-a.value_) : a; }

private:
    using Operation = std::optional<Decimal> (Decimal::*)(Decimal) const noexcept;

    // At one scale, a difference of magnitudes always fits and a sum fits
    // when it stays within 96 bits.
    static bool sum_fits(Decimal a, Decimal b, bool subtract) noexcept {
        if (a.scale() != b.scale()) return false;
        const bool same_signs = a.is_negative() == (b.is_negative() != subtract);
        return !same_signs || a.magnitude() + b.magnitude() <= Decimal::kMaxMagnitude;
    }
    // A product of magnitudes below 2^64 that fits 96 bits as it is: rounding
    // it to 28 digits after the point can only make it smaller.
    static bool product_fits(Decimal a, Decimal b) noexcept {
        const uint128 ma = a.magnitude();
        const uint128 mb = b.magnitude();
        return (ma >> 64) == 0 && (mb >> 64) == 0 && ma * mb <= Decimal::kMaxMagnitude;
    }

    static Checked failed(const char* fault) noexcept {
        Checked result(ZERO);
        result.fault_ = fault;
        return result;
    }

    // The first fault of either operand passes on; otherwise the operation's
    // result, or `fault` when it has none.
    Checked combine(const Checked& other, Operation operation, const char* fault) const noexcept {
        if (fault_ != nullptr) return *this;
        if (other.fault_ != nullptr) return other;
        const std::optional<Decimal> result = (value_.*operation)(other.value_);
        return result ? Checked(*result) : failed(fault);
    }

    Decimal value_;
    const char* fault_ = nullptr;  // the plain operator's message, once a step failed
};

}  // namespace quarlen
