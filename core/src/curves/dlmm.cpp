#include "core/src/curves/dlmm.hpp"

#include "core/src/validation.hpp"

namespace quarlen {

namespace {

// Y received per unit of gross input in a bin: the fee acts through the price.
Decimal effective_price(const DlmmBin& bin, Decimal fee_retention) { return bin.price * fee_retention; }

// The gross input that takes all of a bin's Y. Quote and sizing both use this
// one function, so the quote at the summed drain inputs empties exactly the
// bins the sizing counted.
Decimal drain_input(const DlmmBin& bin, Decimal fee_retention) {
    return bin.reserve_y / effective_price(bin, fee_retention);
}

}  // namespace

Sized<DlmmBook> DlmmBook::create(std::vector<DlmmBin> bins, std::uint64_t active_bin_index, Decimal fee_retention) {
    if (bins.empty()) return invalid("bins must not be empty");
    if (active_bin_index >= bins.size())
        return invalid("active_bin_index {} out of bounds for bins len {}", active_bin_index, bins.size());
    if (const Rejection rejected = check_fee_retention(fee_retention)) return *rejected;
    // Every bin, not only those a trade can reach: a book with a bad bin
    // anywhere is not a book we want to hold.
    for (std::size_t position = 0; position < bins.size(); ++position) {
        const DlmmBin& bin = bins[position];
        if (!bin.price.is_positive())
            return invalid("bin {} has price <= 0: {}", position, bin.price);
        if (bin.reserve_x.is_negative() || bin.reserve_y.is_negative())
            return invalid("bin {} has negative reserves", position);
    }
    return DlmmBook(std::move(bins), active_bin_index, fee_retention);
}

Sized<Decimal> DlmmBook::quote(Decimal delta_in) const {
    if (const Rejection rejected = check_input_not_negative(delta_in)) return *rejected;
    if (delta_in.is_zero()) return ZERO;

    Decimal remaining = delta_in;
    Decimal total = ZERO;
    for (std::size_t position = active_bin_index_; position < bins_.size(); ++position) {
        if (!remaining.is_positive()) break;
        const DlmmBin& bin = bins_[position];
        if (!bin.reserve_y.is_positive()) continue;
        const Decimal price = effective_price(bin, fee_retention_);
        const Decimal drain = drain_input(bin, fee_retention_);
        if (remaining <= drain) {
            total += remaining * price;
            remaining = ZERO;
        } else {
            // The whole bin: its reserve exactly, not drain * price, which
            // could round above what the bin holds.
            total += bin.reserve_y;
            remaining -= drain;
        }
    }
    // Input beyond the last bin is simply not consumed.
    return total;
}

Decimal DlmmBook::spot_rate() const {
    for (std::size_t position = active_bin_index_; position < bins_.size(); ++position) {
        if (bins_[position].reserve_y.is_positive()) return effective_price(bins_[position], fee_retention_);
    }
    return ZERO;
}

Decimal DlmmBook::typical_input() const {
    Decimal total = ZERO;
    for (std::size_t position = active_bin_index_; position < bins_.size(); ++position)
        total += drain_input(bins_[position], fee_retention_);
    return total;
}

Sized<SizingResult> DlmmBook::optimal_size(Decimal reference_price, const SizingConstraints& constraints) const {
    if (const Rejection rejected = check_reference_price(reference_price)) return *rejected;
    if (effective_price(bins_[active_bin_index_], fee_retention_) <= reference_price) return no_arbitrage();

    // The output is piecewise linear in the input, so the profit grows through
    // every bin whose effective price beats the reference and falls after:
    // the optimum drains exactly those bins. The walk stops at the first bin
    // that does not beat it, since the trade cannot skip over a bin.
    Decimal size = ZERO;
    for (std::size_t position = active_bin_index_; position < bins_.size(); ++position) {
        const DlmmBin& bin = bins_[position];
        if (effective_price(bin, fee_retention_) <= reference_price) break;
        if (!bin.reserve_y.is_positive()) continue;
        size += drain_input(bin, fee_retention_);
    }
    if (!size.is_positive()) return no_arbitrage();  // every profitable bin was empty

    return settle(*this, reference_price, constraints, size, sizing_tier(), std::nullopt);
}

}  // namespace quarlen
