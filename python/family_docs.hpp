// The docstrings of a pool family's class and module function, written at
// compile time from its parameter table. Each is the text signature followed
// by "\n--\n\n" and nothing else, which the interpreter turns into
// __text_signature__ and an empty __doc__; the stubs carry the documentation.
//
//   PyBalancerWeightedPool(reserves, weights, fee_retention, input_index=0, output_index=1)
//   balancer_optimal_size(reserves, weights, fee_retention, input_index, output_index,
//                         reference_price, fixed_cost=None, max_size=None)
//
// The class shows its constructor defaults; the module function has none for
// the pool's parameters and ends with the sizing parameters of optimal_size.
#pragma once

#include "python/pools.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

namespace quarlen::py {

namespace family_docs {

// Appends to a buffer, or only counts when there is none, so that one
// function both measures a text and writes it.
class TextWriter {
public:
    constexpr explicit TextWriter(char* buffer) noexcept : buffer_(buffer) {}

    constexpr void append(std::string_view text) noexcept {
        for (const char c : text) {
            if (buffer_ != nullptr) buffer_[length_] = c;
            ++length_;
        }
    }
    constexpr void append(std::uint64_t number) noexcept {
        char digits[20] = {};
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0);
        while (count > 0) append(std::string_view(&digits[--count], 1));
    }

    constexpr std::size_t length() const noexcept { return length_; }

private:
    char* buffer_;
    std::size_t length_ = 0;
};

constexpr std::string_view kEnd = ")\n--\n\n";

// "PyCpmm" of "quarlen.PyCpmm".
constexpr std::string_view class_name(const PoolNames& names) noexcept {
    const std::string_view type_name = names.type_name;
    return type_name.substr(type_name.rfind('.') + 1);
}

// "=0", "=True", or nothing for a parameter without a default.
constexpr void write_default(TextWriter& out, const Parameter& parameter) noexcept {
    if (const auto* index = std::get_if<std::uint64_t>(&parameter.class_default)) {
        out.append("=");
        out.append(*index);
    } else if (const auto* flag = std::get_if<bool>(&parameter.class_default)) {
        out.append(*flag ? "=True" : "=False");
    }
}

constexpr std::size_t write_class_doc(const PoolNames& names, char* buffer) noexcept {
    TextWriter out(buffer);
    out.append(class_name(names));
    out.append("(");
    for (std::size_t i = 0; i < names.parameters.size(); ++i) {
        if (i > 0) out.append(", ");
        out.append(names.parameters[i].name);
        write_default(out, names.parameters[i]);
    }
    out.append(kEnd);
    return out.length();
}

constexpr std::size_t write_function_doc(const PoolNames& names, char* buffer) noexcept {
    TextWriter out(buffer);
    out.append(names.function_name);
    out.append("(");
    for (const Parameter& parameter : names.parameters) {
        out.append(parameter.name);
        out.append(", ");
    }
    out.append("reference_price, fixed_cost=None, max_size=None");
    out.append(kEnd);
    return out.length();
}

// A text of exactly its length plus the terminating NUL, in static storage.
template <std::size_t Length>
struct StaticText {
    char chars[Length + 1] = {};
};

template <const PoolNames& Names>
inline constexpr auto kClassDoc = [] {
    StaticText<write_class_doc(Names, nullptr)> text;
    write_class_doc(Names, text.chars);
    return text;
}();

template <const PoolNames& Names>
inline constexpr auto kFunctionDoc = [] {
    StaticText<write_function_doc(Names, nullptr)> text;
    write_function_doc(Names, text.chars);
    return text;
}();

}  // namespace family_docs

// The docstrings of the family named `Names`. They live in static storage,
// as the interpreter requires of a type's and a function's docstring.
template <const PoolNames& Names>
inline constexpr PoolDocs docs_of{family_docs::kClassDoc<Names>.chars, family_docs::kFunctionDoc<Names>.chars};

}  // namespace quarlen::py
