// Discrete liquidity book: an ordered list of price bins, each quoting one
// fixed price, and an active bin where every trade starts. A trade pays X and
// takes the bins' Y, bin after bin towards the end of the list.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/src/sizing.hpp"

namespace quarlen {

struct DlmmBin {
    Decimal price;      // X in units of Y inside the bin; > 0
    Decimal reserve_x;  // X held by the bin; >= 0, validated but not traded
    Decimal reserve_y;  // Y held by the bin; >= 0, what a trade takes out
    std::int32_t bin_id;  // the caller's identifier, kept and not interpreted
};

class DlmmBook {
public:
    // Checks, in order: bins not empty, active_bin_index in range,
    // 0 < fee_retention <= 1, then every bin from position 0 (price > 0, then
    // reserves >= 0).
    static Sized<DlmmBook> create(std::vector<DlmmBin> bins, std::uint64_t active_bin_index, Decimal fee_retention);

    Sized<Decimal> quote(Decimal delta_in) const;
    Sized<SizingResult> optimal_size(Decimal reference_price, const SizingConstraints& constraints) const;

    // The effective price of the first bin from the active one that holds
    // any Y, which is what the smallest trades get; zero when none does.
    Decimal spot_rate() const;
    // The input that empties every bin from the active one.
    Decimal typical_input() const;
    GuaranteeTier sizing_tier() const { return ProvenOptimal{}; }

    const std::vector<DlmmBin>& bins() const noexcept { return bins_; }
    std::uint64_t active_bin_index() const noexcept { return active_bin_index_; }
    Decimal fee_retention() const noexcept { return fee_retention_; }

private:
    DlmmBook(std::vector<DlmmBin> bins, std::uint64_t active_bin_index, Decimal fee_retention)
        : bins_(std::move(bins)), active_bin_index_(active_bin_index), fee_retention_(fee_retention) {}

    std::vector<DlmmBin> bins_;
    std::uint64_t active_bin_index_;
    Decimal fee_retention_;
};

}  // namespace quarlen
