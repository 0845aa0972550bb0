// The fixed operand mix every library is measured on: small integers,
// 28-digit fractions and magnitudes near the top of the 96-bit range. Each
// operation runs over the ordered pairs of this list on which our plain
// operator completes (an overflowing pair would measure the fault, not the
// arithmetic); every library gets exactly the same pairs.
#pragma once

#include <array>
#include <string_view>

namespace quarlen::bench {

inline constexpr std::array<std::string_view, 18> kOperandTexts = {
    // small integers
    "1", "2", "7", "42", "12345", "-250",
    // 28-digit fractions
    "0.1234567890123456789012345678", "0.9999999999999999999999999999", "-0.5000000000000000000000000001",
    "3.141592653589793238462643383", "2.718281828459045235360287471", "-1.414213562373095048801688724",
    // near-overflow magnitudes (2^96 - 1 is 79228162514264337593543950335)
    "79228162514264337593543950335", "79228162514264337593543950000", "-39614081257132168796771975168",
    "7922816251426433759354395033.5", "-792281625142643375935439503.35", "56022770974786139918731938227",
};

}  // namespace quarlen::bench
