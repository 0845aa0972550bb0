// Decimal add, mul, div, sqrt and parse+format of quarlen's number against
// two established decimal libraries: Intel's Decimal Floating-Point Math
// Library (128-bit BID decimal) and GCC's built-in _Decimal128. Every library
// runs the same operation over the same operand pairs in a loop of the same
// shape, one out-of-line call per operation and the result stored, so the
// per-operation times are comparable and their ratios are the figure of
// interest. bench/decimal_table.py turns the JSON output into the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/gcc_decimal128.h"
#include "bench/operands.hpp"
#include "decimal/decimal.hpp"

extern "C" {
#include <bid_conf.h>
#include <bid_functions.h>
}

namespace {

using quarlen::Decimal;
using quarlen::bench::kOperandTexts;

constexpr _IDEC_round kNearestEven = BID_ROUNDING_TO_NEAREST;

// One operation's inputs in each library's own representation.
struct Operands {
    std::vector<Decimal> ours_a, ours_b;
    std::vector<BID_UINT128> intel_a, intel_b;
    std::vector<gcc_d128_bits> gcc_a, gcc_b;
    std::vector<std::string> texts;  // parse+format only

    std::size_t size() const { return ours_a.size(); }
};

Decimal parse_ours(std::string_view text) {
    const auto parsed = Decimal::parse(text);
    if (!parsed) {
        std::fprintf(stderr, "operand %.*s does not parse\n", static_cast<int>(text.size()), text.data());
        std::exit(1);
    }
    return *parsed;
}

BID_UINT128 parse_intel(std::string_view text) {
    std::string copy(text);
    _IDEC_flags flags = 0;
    return bid128_from_string(copy.data(), kNearestEven, &flags);
}

gcc_d128_bits as_gcc(BID_UINT128 value) {
    gcc_d128_bits bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The ordered pairs on which `keep` (our checked operation) has a value.
Operands pairs_where(const std::function<bool(Decimal, Decimal)>& keep) {
    Operands operands;
    for (const std::string_view a : kOperandTexts) {
        for (const std::string_view b : kOperandTexts) {
            const Decimal da = parse_ours(a);
            const Decimal db = parse_ours(b);
            if (!keep(da, db)) continue;
            operands.ours_a.push_back(da);
            operands.ours_b.push_back(db);
            operands.intel_a.push_back(parse_intel(a));
            operands.intel_b.push_back(parse_intel(b));
            operands.gcc_a.push_back(as_gcc(operands.intel_a.back()));
            operands.gcc_b.push_back(as_gcc(operands.intel_b.back()));
        }
    }
    return operands;
}

// The non-negative operands (sqrt) and every operand's text (parse+format).
Operands singles(bool absolute) {
    Operands operands;
    for (const std::string_view text : kOperandTexts) {
        const std::string_view kept = absolute && text.front() == '-' ? text.substr(1) : text;
        operands.ours_a.push_back(parse_ours(kept));
        operands.intel_a.push_back(parse_intel(kept));
        operands.texts.emplace_back(kept);
    }
    return operands;
}

const Operands& add_operands() {
    static const Operands o = pairs_where([](Decimal a, Decimal b) { return a.checked_add(b).has_value(); });
    return o;
}
const Operands& mul_operands() {
    static const Operands o = pairs_where([](Decimal a, Decimal b) { return a.checked_mul(b).has_value(); });
    return o;
}
const Operands& div_operands() {
    static const Operands o = pairs_where([](Decimal a, Decimal b) { return a.checked_div(b).has_value(); });
    return o;
}
const Operands& sqrt_operands() {
    static const Operands o = singles(true);
    return o;
}
const Operands& text_operands() {
    static const Operands o = singles(false);
    return o;
}

// ---- the measured loops -------------------------------------------------

template <class Op>
void ours_binary(benchmark::State& state, const Operands& o, Op op) {
    std::vector<Decimal> out(o.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < o.size(); ++i) out[i] = op(o.ours_a[i], o.ours_b[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.size()));
}

template <class Op>
void intel_binary(benchmark::State& state, const Operands& o, Op op) {
    std::vector<BID_UINT128> out(o.size());
    for (auto _ : state) {
        _IDEC_flags flags = 0;
        for (std::size_t i = 0; i < o.size(); ++i) out[i] = op(o.intel_a[i], o.intel_b[i], kNearestEven, &flags);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(flags);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.size()));
}

void gcc_binary(benchmark::State& state, const Operands& o,
                void (*kernel)(const gcc_d128_bits*, const gcc_d128_bits*, gcc_d128_bits*, std::size_t)) {
    std::vector<gcc_d128_bits> out(o.size());
    for (auto _ : state) {
        kernel(o.gcc_a.data(), o.gcc_b.data(), out.data(), o.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.size()));
}

void BM_add_quarlen(benchmark::State& s) { ours_binary(s, add_operands(), [](Decimal a, Decimal b) { return a + b; }); }
void BM_add_intel(benchmark::State& s) { intel_binary(s, add_operands(), bid128_add); }
void BM_add_gcc(benchmark::State& s) { gcc_binary(s, add_operands(), gcc_d128_add); }
void BM_mul_quarlen(benchmark::State& s) { ours_binary(s, mul_operands(), [](Decimal a, Decimal b) { return a * b; }); }
void BM_mul_intel(benchmark::State& s) { intel_binary(s, mul_operands(), bid128_mul); }
void BM_mul_gcc(benchmark::State& s) { gcc_binary(s, mul_operands(), gcc_d128_mul); }
void BM_div_quarlen(benchmark::State& s) { ours_binary(s, div_operands(), [](Decimal a, Decimal b) { return a / b; }); }
void BM_div_intel(benchmark::State& s) { intel_binary(s, div_operands(), bid128_div); }
void BM_div_gcc(benchmark::State& s) { gcc_binary(s, div_operands(), gcc_d128_div); }

void BM_sqrt_quarlen(benchmark::State& state) {
    const Operands& o = sqrt_operands();
    std::vector<Decimal> out(o.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < o.size(); ++i) out[i] = *o.ours_a[i].sqrt();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.size()));
}

void BM_sqrt_intel(benchmark::State& state) {
    const Operands& o = sqrt_operands();
    std::vector<BID_UINT128> out(o.size());
    for (auto _ : state) {
        _IDEC_flags flags = 0;
        for (std::size_t i = 0; i < o.size(); ++i) out[i] = bid128_sqrt(o.intel_a[i], kNearestEven, &flags);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.size()));
}

// Parse the text, then write the value's text form back out.
void BM_text_quarlen(benchmark::State& state) {
    const Operands& o = text_operands();
    char buffer[Decimal::kMaxTextLength];
    std::size_t written = 0;
    for (auto _ : state) {
        for (const std::string& text : o.texts) {
            const auto parsed = Decimal::parse(text);
            written += parsed->format_to(buffer);
            benchmark::DoNotOptimize(buffer);
        }
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(written);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * o.texts.size()));
}

void BM_text_intel(benchmark::State& state) {
    const Operands& o = text_operands();
    std::vector<std::string> texts = o.texts;  // the library takes char*
    char buffer[128];
    for (auto _ : state) {
        _IDEC_flags flags = 0;
        for (std::string& text : texts) {
            const BID_UINT128 value = bid128_from_string(text.data(), kNearestEven, &flags);
            bid128_to_string(buffer, value, &flags);
            benchmark::DoNotOptimize(buffer);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
}

// ---- agreement check ----------------------------------------------------
// Before anything is timed: the peers agree bit for bit (same encoding, both
// correctly rounded), and our 28-digit results agree with their 34-digit ones
// to within a unit in the 27th significant digit, so every column computes
// the same thing.

bool close_enough(Decimal ours, BID_UINT128 theirs) {
    _IDEC_flags flags = 0;
    const BID_UINT128 ours_bid = parse_intel(ours.to_string());
    const BID_UINT128 difference = bid128_abs(bid128_sub(ours_bid, theirs, kNearestEven, &flags));
    const BID_UINT128 one = parse_intel("1");
    const BID_UINT128 size = bid128_maxnum(bid128_abs(theirs), one, &flags);
    const BID_UINT128 tolerance = bid128_mul(size, parse_intel("1e-26"), kNearestEven, &flags);
    return bid128_quiet_less_equal(difference, tolerance, &flags) != 0;
}

bool same_bits(BID_UINT128 a, gcc_d128_bits b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <class Ours, class Intel>
bool check_binary(const char* name, const Operands& o, Ours ours, Intel intel,
                  void (*gcc)(const gcc_d128_bits*, const gcc_d128_bits*, gcc_d128_bits*, std::size_t)) {
    std::vector<gcc_d128_bits> gcc_out(o.size());
    gcc(o.gcc_a.data(), o.gcc_b.data(), gcc_out.data(), o.size());
    for (std::size_t i = 0; i < o.size(); ++i) {
        _IDEC_flags flags = 0;
        const BID_UINT128 theirs = intel(o.intel_a[i], o.intel_b[i], kNearestEven, &flags);
        const Decimal mine = ours(o.ours_a[i], o.ours_b[i]);
        if (!same_bits(theirs, gcc_out[i]) || !close_enough(mine, theirs)) {
            std::fprintf(stderr, "%s disagrees on pair %zu: ours %s\n", name, i, mine.to_string().c_str());
            return false;
        }
    }
    return true;
}

bool libraries_agree() {
    bool ok = check_binary("add", add_operands(), [](Decimal a, Decimal b) { return a + b; }, bid128_add, gcc_d128_add);
    ok = check_binary("mul", mul_operands(), [](Decimal a, Decimal b) { return a * b; }, bid128_mul, gcc_d128_mul) && ok;
    ok = check_binary("div", div_operands(), [](Decimal a, Decimal b) { return a / b; }, bid128_div, gcc_d128_div) && ok;
    const Operands& roots = sqrt_operands();
    for (std::size_t i = 0; i < roots.size(); ++i) {
        _IDEC_flags flags = 0;
        if (!close_enough(*roots.ours_a[i].sqrt(), bid128_sqrt(roots.intel_a[i], kNearestEven, &flags))) {
            std::fprintf(stderr, "sqrt disagrees on %s\n", roots.texts[i].c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

BENCHMARK(BM_add_quarlen);
BENCHMARK(BM_add_intel);
BENCHMARK(BM_add_gcc);
BENCHMARK(BM_mul_quarlen);
BENCHMARK(BM_mul_intel);
BENCHMARK(BM_mul_gcc);
BENCHMARK(BM_div_quarlen);
BENCHMARK(BM_div_intel);
BENCHMARK(BM_div_gcc);
BENCHMARK(BM_sqrt_quarlen);
BENCHMARK(BM_sqrt_intel);
BENCHMARK(BM_text_quarlen);
BENCHMARK(BM_text_intel);

int main(int argc, char** argv) {
    if (!libraries_agree()) return 1;
    std::printf("operand pairs: add %zu, mul %zu, div %zu; sqrt %zu values, parse+format %zu texts\n",
                add_operands().size(), mul_operands().size(), div_operands().size(), sqrt_operands().size(),
                text_operands().size());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
