#include "core/src/mobius_quote.hpp"

namespace quarlen {

// With t = Y1 d / (X1 + d) the first output,
//   Y2 t / (X2 + t) = Y1 Y2 d / (X1 X2 + (X2 + Y1) d),
// so X = X1 X2 / (X2 + Y1) = X1 / (1 + Y1 / X2) and Y = Y2 / (1 + X2 / Y1).
// Y1 and X2 are both amounts of the asset between the legs, so the ratios
// are pure numbers and neither product X1 X2 nor Y1 Y2 is ever formed: the
// reserves of the chain stay of the order of the legs' own however many legs
// it has. A ratio far above one keeps all its digits, and one far below it
// disappears into the 1 it is added to, so each division costs one rounding.
MobiusQuote then(const MobiusQuote& first, const MobiusQuote& second) {
    const Decimal virtual_in = first.virtual_in / (ONE + (first.virtual_out / second.virtual_in));
    const Decimal virtual_out = second.virtual_out / (ONE + (second.virtual_in / first.virtual_out));

    // The second leg takes t <= C, that is d <= X1 C / (Y1 - C); a C at or
    // above Y1, which the first output never reaches, limits nothing.
    std::optional<Decimal> capacity = first.capacity;
    if (second.capacity && *second.capacity < first.virtual_out) {
        const Decimal reachable = (first.virtual_in * *second.capacity) / (first.virtual_out - *second.capacity);
        capacity = capacity ? min(*capacity, reachable) : reachable;
    }
    return MobiusQuote{virtual_in, virtual_out, capacity};
}

// The profit Y d / (X + d) - P d has the derivative X Y / (X + d)^2 - P
// (for the map a d / (b + c d), with X = b / c and Y = a / c, that is
// a b / (b + c d)^2 - P), which falls through zero where X + d = sqrt(X Y / P):
//
//   d* = X (sqrt(Y / (X P)) - 1)  =  (sqrt(a b / P) - b) / c.
//
// The root is taken of the pure number Y / (X P), the spot rate over the
// price, so no product of two reserves is formed. It is divided in the order
// that keeps its digits: a Decimal below one has fewer significant digits
// the smaller it is, and Y is close to X P, so a price below one divides Y
// first (Y / P, close to X, is no smaller than X) and any other multiplies
// X first (X P is then larger than X). Rounding: those two steps round once
// each in the last of 28 places; the root is good to its last place,
// subtracting 1 is exact, and X times the difference rounds once more.
// With an edge e = Y / (X P) - 1 the difference is about e / 2, so the size
// carries a relative error of about 1e-28 / e: below 1e-20 for any edge
// above 1e-8, and smaller edges leave the profit too flat for the size to
// matter to it. Beyond the capacity the profit, being concave, is best at
// the capacity itself.
Decimal stationary_input(const MobiusQuote& quote, Decimal reference_price) {
    const Decimal edge = reference_price <= ONE ? (quote.virtual_out / reference_price) / quote.virtual_in
                                                : quote.virtual_out / (quote.virtual_in * reference_price);
    // Both reserves and the price are positive, so the ratio has a root.
    const Decimal size = quote.virtual_in * (*edge.sqrt() - ONE);
    if (quote.capacity && *quote.capacity < size) return *quote.capacity;
    return size;
}

}  // namespace quarlen
