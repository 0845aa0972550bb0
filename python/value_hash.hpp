// Hashes that follow equality by value, for the classes whose objects
// compare equal by their contents: values that compare equal feed the same
// words in, so they hash equal. A Decimal goes in normalized, which makes
// 1.5 and 1.50 (equal numbers) hash alike.
#pragma once

#include "python/python_api.hpp"

#include <cstdint>
#include <span>
#include <string_view>

#include "decimal/decimal.hpp"

namespace quarlen::py {

class ValueHash {
public:
    void add(std::uint64_t word) noexcept { state_ = (state_ ^ word) * kPrime; }
    void add(bool flag) noexcept { add(std::uint64_t{flag ? 1u : 0u}); }
    void add(Decimal value) noexcept {
        const Decimal normalized = value.normalize();
        const uint128 magnitude = normalized.magnitude();
        add(static_cast<std::uint64_t>(magnitude));
        add(static_cast<std::uint64_t>(magnitude >> 64));
        add(std::uint64_t{normalized.scale()} | (normalized.is_negative() ? std::uint64_t{1} << 32 : 0));
    }
    // The count first, so that moving a value from one sequence to the next
    // changes the hash.
    void add(std::span<const Decimal> values) noexcept {
        add(static_cast<std::uint64_t>(values.size()));
        for (const Decimal value : values) add(value);
    }
    void add(std::string_view text) noexcept {
        add(static_cast<std::uint64_t>(text.size()));
        for (const char c : text) add(std::uint64_t{static_cast<unsigned char>(c)});
    }

    // The hash as the interpreter takes it: well mixed, and never -1, which
    // would signal an error.
    Py_hash_t result() const noexcept {
        std::uint64_t mixed = state_;
        mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9u;
        mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebu;
        mixed ^= mixed >> 31;
        const auto hash = static_cast<Py_hash_t>(mixed);
        return hash == -1 ? -2 : hash;
    }

private:
    // 64-bit FNV-1a over whole words, finished with the splitmix64 mixer.
    static constexpr std::uint64_t kPrime = 0x100000001b3u;
    std::uint64_t state_ = 0xcbf29ce484222325u;
};

}  // namespace quarlen::py
