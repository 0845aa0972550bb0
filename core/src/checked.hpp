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

#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/kernels.hpp"

namespace quarlen {

class Checked {
public:
    // Implicit, so a plain value enters a checked formula as it is.
    Checked(Decimal value) noexcept : value_(value) {}

    // True while no step has failed.
    explicit operator bool() const noexcept { return value_.scale() != kFaultScale; }
    // The value; only meaningful while no step has failed.
    Decimal operator*() const noexcept { return value_; }
    const Decimal* operator->() const noexcept { return &value_; }
    // The value, or the DecimalFault the plain operators would have thrown.
    Decimal value() const {
        if (!*this) throw DecimalFault(message_of_fault());
        return value_;
    }
    // The value, or else the fault `first` met: a retry that cannot hold its
    // answer either reports what the first attempt ran into.
    Decimal value_or_fault_of(Checked first) const { return (*this ? *this : first).value(); }

    // Where the plain operator cannot fault, it is used as it is, with its
    // inline paths for the commonest operands; elsewhere the checked form.
    friend Checked operator+(Checked a, Checked b) {
        if (a && b && sum_fits(a.value_, b.value_, false)) return a.value_ + b.value_;
        return a.combine<detail::add>(b);
    }
    friend Checked operator-(Checked a, Checked b) {
        if (a && b && sum_fits(a.value_, b.value_, true)) return a.value_ - b.value_;
        return a.combine<detail::subtract>(b);
    }
    friend Checked operator*(Checked a, Checked b) {
        if (a && b && product_fits(a.value_, b.value_)) return a.value_ * b.value_;
        return a.combine<detail::multiply>(b);
    }
    friend Checked operator/(Checked a, Checked b) {
        return a.combine<detail::divide>(b);
    }
    // Negation only flips the sign, so it never fails; a fault passes on.
    friend Checked operator-(Checked a) noexcept { return a ? Checked(-a.value_) : a; }

private:
    using Operation = Decimal (*)(Decimal, Decimal, const char*&) noexcept;

    // A failed step is a Decimal with a scale no value has, its magnitude the
    // address of the message the operator's core gave. That keeps a Checked
    // the 16 bytes of a Decimal, passed and returned in registers; with the
    // message beside the value it took 24 and went through memory at every
    // step.
    static constexpr std::uint32_t kFaultScale = 255;

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

    // Out of line and cold: faults are rare, and a fault value built inline
    // made the compiler join it with the step's result through the stack.
    const char* message_of_fault() const noexcept {
        return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value_.magnitude()));
    }

    [[gnu::noinline, gnu::cold]] static Checked failed(const char* message) noexcept {
        return Checked(Decimal::from_parts(reinterpret_cast<std::uintptr_t>(message), kFaultScale, false));
    }

    // The first fault of either operand passes on; otherwise the operation's
    // result, or its fault when it has none. The operation is the operators'
    // own core, which both operands suit: a value that has not failed has a
    // valid scale.
    template <Operation operation>
    Checked combine(Checked other) const noexcept {
        if (!*this) return *this;
        if (!other) return other;
        const char* message = nullptr;
        const Decimal result = operation(value_, other.value_, message);
        return message == nullptr ? Checked(result) : failed(message);
    }

    Decimal value_;
};

static_assert(sizeof(Checked) == sizeof(Decimal), "a Checked is passed like a Decimal");

}  // namespace quarlen
