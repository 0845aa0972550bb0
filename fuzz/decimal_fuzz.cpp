// libFuzzer target for the number: text parsing (plain and scientific) and
// every plain and checked operation, each compared digit for digit and scale
// for scale with an exact model in GMP integers (tests/cpp/decimal_reference.hpp
// and the text grammar below). Any disagreement, any fault message the rules
// do not name, and any sanitizer report ends the run with the input saved.
//
// Input layout: the first byte picks the mode; the rest is either text
// (parse modes) or a stream of operands (arithmetic modes). An operand is a
// length byte (0..12 magnitude bytes, little endian), those bytes, and a byte
// whose low seven bits give the scale (mod 29) and whose top bit the sign.
// Short magnitudes let the fuzzer reach small values and exact results as
// easily as the 96-bit extremes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/decimal.hpp"
#include "decimal/powers.hpp"
#include "decimal_reference.hpp"

namespace quarlen {
namespace {

namespace ref = reference;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "decimal fuzz mismatch: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string show(Decimal d) {
    return ref::text(d) + " (scale " + std::to_string(d.scale()) + (d.is_negative() ? ", negative)" : ")");
}

std::string show(const std::optional<Decimal>& d) { return d ? show(*d) : "no value"; }

bool same(const std::optional<Decimal>& a, const std::optional<Decimal>& b) {
    if (!a || !b) return !a && !b;
    return a->magnitude() == b->magnitude() && a->scale() == b->scale() && a->is_negative() == b->is_negative();
}

void expect_same(const char* what, const std::optional<Decimal>& got, const std::optional<Decimal>& expected,
                 const std::string& operands) {
    if (!same(got, expected)) fail(std::string(what) + " of " + operands + ": got " + show(got) + ", expected " + show(expected));
}

// A plain operator: its value, or no value when it faulted with exactly
// `message` (any other fault is a mismatch of its own).
template <class Operation>
std::optional<Decimal> plain(Operation operation, std::string_view message, const std::string& operands) {
    try {
        return operation();
    } catch (const DecimalFault& fault) {
        if (message != fault.what()) fail(operands + ": fault \"" + fault.what() + "\", expected \"" + std::string(message) + "\"");
        return std::nullopt;
    }
}

// ---- operand stream -------------------------------------------------------

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

    Decimal decimal() {
        const int length = byte() % 13;
        uint128 magnitude = 0;
        for (int i = 0; i < length; ++i) magnitude |= uint128{byte()} << (8 * i);
        const std::uint8_t form = byte();
        return Decimal::from_parts(magnitude, static_cast<std::uint32_t>((form & 0x7f) % 29), (form & 0x80) != 0);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// ---- text grammar ---------------------------------------------------------
//
// Plain form: an optional leading sign, then digits with at most one point;
// '_' is ignored after the first digit and refused before it. The first
// problem met from the left is reported; an integer part beyond 96 bits is a
// problem at its overflowing digit. Surplus fraction digits round by the
// first dropped digit (ref::parse).

struct Parsed {
    std::optional<Decimal> value;
    std::string error;
};

Parsed refused(const char* message) { return {std::nullopt, message}; }

Parsed reference_plain(std::string_view text) {
    if (text.empty()) return refused("Invalid decimal: empty");
    std::size_t position = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        position = 1;
    }
    std::string integer_digits;
    std::string fraction_digits;
    mpz_class integer_part = 0;
    bool point = false;
    bool digit = false;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c >= '0' && c <= '9') {
            digit = true;
            if (point) {
                fraction_digits += c;
            } else {
                integer_digits += c;
                integer_part = integer_part * 10 + (c - '0');
                if (integer_part > ref::max_magnitude()) return refused("Invalid decimal: overflow from too many digits");
            }
        } else if (c == '.') {
            if (point) return refused("Invalid decimal: two decimal points");
            point = true;
        } else if (c == '_') {
            if (!digit) return refused("Invalid decimal: must start lead with a number");
        } else {
            return refused("Invalid decimal: unknown character");
        }
    }
    if (!digit) return refused("Invalid decimal: no digits found");
    const std::optional<Decimal> value = ref::parse(negative, integer_digits, fraction_digits);
    if (!value) return refused("Invalid decimal: overflow from mantissa after rounding");
    return {value, ""};
}

// Scientific form: a plain mantissa, the first 'e' or 'E', and an exponent
// of an optional sign and 1..18 significant digits. The scale is the
// mantissa's minus the exponent: above 28 it is refused by name; below zero
// the magnitude is raised and must stay within 96 bits.
Parsed reference_scientific(std::string_view text) {
    const std::size_t marker = text.find_first_of("eE");
    if (marker == std::string_view::npos) return refused("Failed to parse");
    const Parsed mantissa = reference_plain(text.substr(0, marker));

    std::string_view exponent_text = text.substr(marker + 1);
    bool exponent_negative = false;
    if (!exponent_text.empty() && (exponent_text[0] == '+' || exponent_text[0] == '-')) {
        exponent_negative = exponent_text[0] == '-';
        exponent_text.remove_prefix(1);
    }
    bool exponent_ok = !exponent_text.empty();
    mpz_class exponent = 0;
    for (const char c : exponent_text) exponent_ok = exponent_ok && c >= '0' && c <= '9';
    if (exponent_ok) {
        exponent = mpz_class(std::string(exponent_text), 10);
        exponent_ok = exponent < ref::pow10(18);
        if (exponent_negative) exponent = -exponent;
    }

    if (!mantissa.value) {
        const bool overflow = mantissa.error == "Invalid decimal: overflow from too many digits" ||
                              mantissa.error == "Invalid decimal: overflow from mantissa after rounding";
        return refused(overflow && exponent_ok ? "Number exceeds maximum value that can be represented."
                                               : "Failed to parse");
    }
    if (!exponent_ok) return refused("Failed to parse");

    const Decimal m = *mantissa.value;
    const mpz_class scale = mpz_class(m.scale()) - exponent;
    if (scale > 28) {
        return {std::nullopt, "Scale exceeds the maximum precision allowed: " + scale.get_str() + " > 28"};
    }
    if (scale >= 0) return {Decimal::from_parts(m.magnitude(), static_cast<std::uint32_t>(scale.get_si()), m.is_negative()), ""};
    if (m.is_zero()) return {ZERO, ""};
    if (scale < -28) return refused("Number exceeds maximum value that can be represented.");
    const mpz_class raised = ref::to_mpz(m.magnitude()) * ref::pow10(static_cast<int>(-scale.get_si()));
    if (raised > ref::max_magnitude()) return refused("Number exceeds maximum value that can be represented.");
    return {ref::make(raised, 0, m.is_negative()), ""};
}

void expect_parse(const char* form, const std::expected<Decimal, std::string>& got, const Parsed& expected,
                  std::string_view text) {
    const std::optional<Decimal> value = got ? std::optional<Decimal>(*got) : std::nullopt;
    const std::string error = got ? std::string() : got.error();
    if (!same(value, expected.value) || error != expected.error) {
        fail(std::string(form) + " parse of \"" + std::string(text) + "\": got " + (got ? show(*got) : "\"" + error + "\"") +
             ", expected " + (expected.value ? show(*expected.value) : "\"" + expected.error + "\""));
    }
}

// The text form, and that it reads back to the same representation.
void check_text(Decimal d) {
    const std::string text = d.to_string();
    if (text != ref::text(d)) fail("text of " + show(d) + " is " + text);
    char buffer[Decimal::kMaxTextLength];
    if (std::string_view(buffer, d.format_to(buffer)) != text) fail("format_to of " + show(d));
    const std::expected<Decimal, std::string> back = Decimal::parse(text);
    if (!back || !same(*back, d)) fail("text " + text + " does not read back");
}

void fuzz_text(std::string_view text) {
    const std::expected<Decimal, std::string> plain_result = Decimal::parse(text);
    expect_parse("plain", plain_result, reference_plain(text), text);
    if (plain_result) check_text(*plain_result);
    const std::expected<Decimal, std::string> scientific = Decimal::parse_scientific(text);
    expect_parse("scientific", scientific, reference_scientific(text), text);
    if (scientific) check_text(*scientific);
}

// ---- one operand ----------------------------------------------------------

void check_unary(Decimal a) {
    const std::string operand = show(a);
    check_text(a);

    const Decimal negated = -a;
    if (negated.magnitude() != a.magnitude() || negated.scale() != a.scale() ||
        negated.is_negative() != (!a.is_negative() && !a.is_zero()))
        fail("negation of " + operand);
    const Decimal absolute = a.abs();
    if (absolute.magnitude() != a.magnitude() || absolute.scale() != a.scale() || absolute.is_negative())
        fail("abs of " + operand);

    const mpz_class m = ref::to_mpz(a.magnitude());
    const mpz_class unit = ref::pow10(static_cast<int>(a.scale()));
    const mpz_class whole = m / unit;
    const bool fraction = m % unit != 0;
    expect_same("trunc", a.trunc(), ref::make(whole, 0, a.is_negative()), operand);
    const mpz_class ceiling = (fraction && !a.is_negative()) ? mpz_class(whole + 1) : whole;
    expect_same("ceil", plain([&] { return a.ceil(); }, "", operand), ref::make(ceiling, 0, a.is_negative()), operand);

    mpz_class stripped = m;
    int stripped_scale = static_cast<int>(a.scale());
    while (stripped_scale > 0 && stripped % 10 == 0) {
        stripped /= 10;
        --stripped_scale;
    }
    expect_same("normalize", a.normalize(), ref::make(stripped, stripped_scale, a.is_negative()), operand);

    const std::optional<std::uint64_t> unsigned_value = a.to_u64();
    const bool fits = !a.is_negative() && whole <= ref::to_mpz(~std::uint64_t{0});
    if (unsigned_value.has_value() != fits || (fits && mpz_class(ref::to_mpz(*unsigned_value)) != whole))
        fail("to_u64 of " + operand);

    const ref::Root expected = ref::sqrt(a);
    std::optional<Decimal> root;
    try {
        root = a.sqrt();
    } catch (const DecimalFault& fault) {
        if (expected.fault == nullptr || std::string_view(expected.fault) != fault.what())
            fail("sqrt of " + operand + " faulted with " + fault.what());
        return;
    }
    if (expected.fault != nullptr) fail("sqrt of " + operand + " should fault with " + expected.fault);
    expect_same("sqrt", root, expected.value, operand);
}

// ---- two operands ---------------------------------------------------------

void check_binary(Decimal a, Decimal b) {
    const std::string operands = show(a) + " and " + show(b);

    const int order = ref::compare(a, b);
    const std::strong_ordering got = a <=> b;
    if ((got < 0) != (order < 0) || (got > 0) != (order > 0) || (a == b) != (order == 0))
        fail("ordering of " + operands);
    // Ties go to the first argument for both.
    expect_same("min", min(a, b), order <= 0 ? a : b, operands);
    expect_same("max", max(a, b), order < 0 ? b : a, operands);

    const std::optional<Decimal> sum = ref::add(a, b);
    const std::optional<Decimal> difference = ref::add(a, -b);
    const std::optional<Decimal> product = ref::multiply(a, b);
    expect_same("checked sum", a.checked_add(b), sum, operands);
    expect_same("sum", plain([&] { return a + b; }, "Addition overflowed", operands), sum, operands);
    expect_same("checked difference", a.checked_sub(b), difference, operands);
    expect_same("difference", plain([&] { return a - b; }, "Subtraction overflowed", operands), difference, operands);
    expect_same("checked product", a.checked_mul(b), product, operands);
    expect_same("product", plain([&] { return a * b; }, "Multiplication overflowed", operands), product, operands);

    const std::optional<Decimal> quotient = ref::divide(a, b);
    const char* division_fault = b.is_zero() ? "Division by zero" : "Division overflowed";
    expect_same("checked quotient", a.checked_div(b), quotient, operands);
    expect_same("quotient", plain([&] { return a / b; }, division_fault, operands), quotient, operands);

    Decimal accumulated = a;
    if (sum && (accumulated += b, !same(accumulated, sum))) fail("+= of " + operands);
}

// ---- powers ---------------------------------------------------------------
//
// Their last digits are the algorithm's own, so beyond the cases the rules
// pin exactly (x^0, x^1, and x^2 rounded once from the exact square) they are
// checked for faults the rules do not name and against the long double
// value to twelve digits.

long double approximate(Decimal d) { return std::strtold(d.to_string().c_str(), nullptr); }

bool close(long double got, long double expected) {
    return std::fabs(got - expected) <= 1e-12L * std::fmax(1.0L, std::fabs(expected));
}

void check_powers(Decimal a, Decimal b, unsigned small_exponent) {
    const std::string operands = show(a) + " and " + show(b);
    expect_same("powi 0", plain([&] { return powi(a, 0); }, "Pow overflowed", operands), ONE, operands);
    expect_same("powi 1", plain([&] { return powi(a, 1); }, "Pow overflowed", operands), a, operands);
    expect_same("powi 2", plain([&] { return powi(a, 2); }, "Pow overflowed", operands), ref::multiply(a, a), operands);
    plain([&] { return powi(a, small_exponent); }, "Pow overflowed", operands);

    // Logarithm of a positive value, exponential of a value where e^x is in
    // range and not below the smallest magnitude.
    if (a.is_positive()) {
        const Decimal log = plain([&] { return ln(a); }, "", operands).value();
        if (!close(approximate(log), std::log(approximate(a)))) fail("ln of " + show(a) + " is " + show(log));
        if (!same(checked_ln(a), log)) fail("checked_ln of " + show(a));
    } else {
        const char* expected = a.is_zero() ? "Unable to calculate ln for zero" : "Unable to calculate ln for negative numbers";
        plain([&] { return ln(a); }, expected, operands);
        if (checked_ln(a)) fail("checked_ln of " + show(a) + " has a value");
    }
    const long double x = approximate(b);
    const std::optional<Decimal> e = exp(b);
    if (x < 66.0L && x > -20.0L) {
        if (!e) fail("exp of " + show(b) + " has no value");
        if (!close(approximate(*e), std::exp(x))) fail("exp of " + show(b) + " is " + show(*e));
    } else if (x > 67.0L && e) {
        fail("exp of " + show(b) + " has a value beyond the range");
    }

    // powd may refuse (no value) or report the logarithm's faults.
    try {
        (void)powd(a, b);
    } catch (const DecimalFault& fault) {
        const std::string_view message = fault.what();
        if (message != "Calculation of ln failed for unknown reasons" && message != "Unable to calculate ln for zero" &&
            message != "Pow overflowed" && message != "Division by zero" && message != "Division overflowed" &&
            message != "Multiplication overflowed")
            fail("powd of " + operands + " faulted with " + fault.what());
    }
}

}  // namespace
}  // namespace quarlen

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarlen;
    if (size == 0) return 0;
    const std::uint8_t mode = data[0] % 4;
    ++data;
    --size;
    if (mode == 0) {
        fuzz_text(std::string_view(reinterpret_cast<const char*>(data), size));
        return 0;
    }
    Reader reader(data, size);
    const Decimal a = reader.decimal();
    const Decimal b = reader.decimal();
    switch (mode) {
        case 1: check_binary(a, b); break;
        case 2: check_unary(a); break;
        default: check_powers(a, b, reader.byte() % 40u); break;
    }
    return 0;
}
