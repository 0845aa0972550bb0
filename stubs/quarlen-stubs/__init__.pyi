"""Exact-decimal trade sizing against automated-market-maker liquidity pools.

Every number goes in as a ``decimal.Decimal``, ``int``, ``str`` or ``float``
(through its ``str()``, so ``0.1`` is exactly 0.1) and comes back as a
``decimal.Decimal`` that keeps its scale. All arithmetic is exact decimal
arithmetic: a 96-bit magnitude with at most 28 digits after the point,
rounded half to even.

Units are the same for every pool: ``delta_in`` and ``max_size`` are amounts
of the asset paid into the pool; quotes, ``fixed_cost`` and
``expected_profit`` are amounts of the asset taken out; ``reference_price``
is the value of one unit of the input asset in units of the output asset.
The profit of a size ``d`` is ``(quote(d) - reference_price * d) -
fixed_cost``.

``PyRoute`` chains pools, each leg's output paid into the next (buy on one
pool and sell on another, or go round a cycle of pools), and quotes and sizes
the chain like one pool; ``route_optimal_size`` does the same without
creating the route object. Both are outside ``__all__``.

Errors: ``TypeError`` for wrong arguments, ``ValueError`` for values that are
not decimal numbers, a ``SizingError`` (a ``ValueError``) for every invalid
pool, quote or sizing: ``InvalidReserves``, ``DidNotConverge``,
``NoProfitableSize`` or ``NoArbitrageOpportunity``, whose message is the
sizing error's text, e.g. ``NoArbitrageOpportunity``; and ``InternalFault``
(a ``BaseException``) for an overflow or division by zero inside the
arithmetic.
"""

from collections.abc import Mapping, Sequence
from decimal import Decimal
from typing import Any, ClassVar, Final, Literal, Protocol, Self, SupportsIndex, TypeAlias, TypeVar, final

from typing_extensions import disjoint_base

__all__ = [
    "SizingResult",
    "PySizingConstraints",
    "AllocatedPosition",
    "PortfolioResult",
    "PyCpmm",
    "PyStableSwap",
    "PyPmm",
    "PyConcentratedLiquidity",
    "PyBalancerWeightedPool",
    "PyVelodromeStable",
    "PyDlmmBook",
    "PyCurveCryptoSwap",
    "PyDodoPmm",
    "cpmm_optimal_size",
    "stableswap_optimal_size",
    "pmm_optimal_size",
    "clmm_optimal_size",
    "balancer_optimal_size",
    "velodrome_optimal_size",
    "dlmm_optimal_size",
    "cryptoswap_optimal_size",
    "dodo_optimal_size",
    "portfolio_optimize",
]

_Number: TypeAlias = Decimal | int | str | float
"""What every numeric parameter accepts: any value whose ``str()`` is a decimal
number. ``bool``, NaN and infinities are refused with ``ValueError``."""

_TierName: TypeAlias = Literal["ProvenOptimal", "NumericallyGuaranteed", "EmpiricallyValidated", "ComposedFrom"]
"""The four guarantee tiers, strongest first."""

__version__: Final[str]
"""The package version, as the distribution metadata gives it."""

_Record = TypeVar("_Record", SizingResult, AllocatedPosition, PortfolioResult)

def _restore(cls: type[_Record], state: tuple[Any, ...], /) -> _Record:
    """What the result classes pickle through: rebuilds an object of ``cls``
    from the state its ``__reduce__`` gave, checking every value. Not for
    direct use; outside ``__all__``."""

class InternalFault(BaseException):
    """An internal fault of the exact arithmetic (an overflow or a division by
    zero) that aborted the call.

    It derives from ``BaseException``, not ``Exception``, so that a handler for
    ``Exception`` does not swallow it; catch ``quarlen.InternalFault`` by name.
    The call that raised it left nothing half-built behind, and the module
    stays usable."""

class SizingError(ValueError):
    """A pool, quote or sizing that the module refused.

    The message is the error's text form, e.g.
    ``InvalidReserves { detail: "x must be > 0, got 0" }`` or
    ``NoArbitrageOpportunity``, and the class derives from ``ValueError``, so
    existing handlers keep working. Catch a subclass to tell a trade that does
    not pay from a pool that is wrong. Errors pickle and copy as their own
    class, with their message and attributes."""

    detail: str | None
    """The ``InvalidReserves`` detail, e.g. ``"x must be > 0, got 0"``;
    ``None`` for the other kinds."""
    iterations_attempted: int | None
    """The iterations a ``DidNotConverge`` procedure made; ``None`` for the
    other kinds."""

class InvalidReserves(SizingError):
    """A parameter or an intermediate value is invalid: a reserve, a fee, a
    price, an index, the reference price, or a square root or power that
    could not be taken. ``detail`` says which value and shows it, e.g.
    ``"x must be > 0, got 0"``."""

class DidNotConverge(SizingError):
    """An iterative procedure stopped without settling: it hit its iteration
    cap, or could take no further step. ``iterations_attempted`` is the
    number of iterations it made."""

class NoProfitableSize(SizingError):
    """A profitable direction exists, but no admissible size is profitable
    once ``max_size`` caps it and ``fixed_cost`` is charged."""

class NoArbitrageOpportunity(SizingError):
    """The pool's rate for the smallest trade is not better than the
    reference price, so no trade in this direction can be profitable."""

# ---- results -------------------------------------------------------------------

@final
class SizingResult:
    """Result of an individual AMM sizing calculation.

    Only the module creates these (calling the class raises ``TypeError``).
    They pickle, copy and deepcopy, so they can be returned from worker
    processes; a restored result equals the original."""

    def __eq__(self, other: object, /) -> bool:
        """Equal when every attribute is: the Decimals by value (``1.5``
        equals ``1.50``), the tier, the detail dict as it is now, the
        iterations."""

    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Unhashable: equality includes the detail dict, which can change."""

    @property
    def optimal_delta(self) -> Decimal:
        """The input size chosen, after ``max_size`` was applied, in units of
        the input asset. Every read returns the same object."""

    @property
    def expected_profit(self) -> Decimal:
        """The profit at ``optimal_delta``, net of ``fixed_cost``, in units of
        the output asset; always greater than zero. Every read returns the
        same object."""

    @property
    def guarantee_tier(self) -> _TierName:
        """How strongly the size is known to be optimal: ``"ProvenOptimal"``
        (a closed form), ``"NumericallyGuaranteed"`` (a converged numerical
        search), ``"EmpiricallyValidated"`` (a search whose shape assumption
        was checked by sampling) or ``"ComposedFrom"`` (built from legs)."""

    @property
    def guarantee_tier_detail(self) -> dict[str, Any]:
        """The tier's evidence: ``{}`` for ProvenOptimal,
        ``{"convergence_conditions_met": bool}`` for NumericallyGuaranteed,
        ``{"unimodality_confirmed": bool}`` for EmpiricallyValidated,
        ``{"legs": [tier names]}`` for ComposedFrom. Every read returns the same
        plain dict, so a change made to it (any value, hence ``Any``) is seen
        by later reads."""

    @property
    def iterations(self) -> int | None:
        """The iterations the search used, or ``None`` for a closed form."""

@final
class AllocatedPosition:
    """Position allocation in a solved portfolio.

    Only the module creates these; they pickle, copy and deepcopy. Positions
    with equal attributes (Decimals by value) are equal and hash alike."""

    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

    @property
    def id(self) -> str:
        """The identifier the caller gave the opportunity."""

    @property
    def guarantee_tier(self) -> _TierName:
        """The tier of the opportunity's sizing; ``"ProvenOptimal"`` for an
        unfunded opportunity."""

    @property
    def allocated_size(self) -> Decimal:
        """The input size given to the opportunity (zero when unfunded), in
        units of its pool's input asset."""

    @property
    def expected_profit(self) -> Decimal:
        """The profit expected from the position, net of its ``fixed_cost``,
        counted as its pool counts profit at the shadow-priced reference."""

@final
class PortfolioResult:
    """Global portfolio optimization result.

    Only the module creates these; they pickle, copy and deepcopy. Results
    with equal attributes (Decimals by value, allocations position by
    position) are equal and hash alike."""

    def __eq__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

    @property
    def allocations(self) -> list[AllocatedPosition]:
        """One position per opportunity, in input order, unfunded ones
        included. Every read returns a new list of new objects."""

    @property
    def total_capital_used(self) -> Decimal:
        """The sum of the allocated sizes; never more than the budget."""

    @property
    def total_expected_profit(self) -> Decimal:
        """The sum of the positions' expected profits."""

    @property
    def shadow_price(self) -> Decimal:
        """The price of one unit of capital at the solution: every opportunity
        was sized at its reference price raised by this amount. Zero when the
        stand-alone optima fit the budget."""

@disjoint_base
class PySizingConstraints:
    """Sizing constraints wrapper.

    Holds a ``fixed_cost`` (zero when left out or ``None``) and an optional
    ``max_size``. It exposes nothing and no call accepts it: the sizing calls
    take ``fixed_cost`` and ``max_size`` as plain arguments. It pickles and
    copies."""

    def __new__(cls, fixed_cost: _Number | None = None, max_size: _Number | None = None) -> Self:
        """``fixed_cost`` is charged once against the profit; ``max_size``
        bounds the input size. Neither is validated."""

# ---- pools ---------------------------------------------------------------------

class _Pool:
    """What every pool class offers. Pools are immutable, safe to share
    between threads, and pickle, copy and deepcopy to equal pools."""

    def __eq__(self, other: object, /) -> bool:
        """Equal when of the same class (exactly; not a subclass) with equal
        parameters in the same order: numbers by value (``1.5`` equals
        ``1.50``), sequences and bins item by item, indices and flags by
        value."""

    def __hash__(self) -> int:
        """Equal pools hash alike, so pools can be set members and dict keys."""

    def quote(self, delta_in: _Number) -> Decimal:
        """The pool's output, in units of the output asset, for an input of
        ``delta_in`` units of the input asset.

        Raises a ``SizingError`` (a ``ValueError``), mostly
        ``InvalidReserves``, when the pool cannot take the input."""

    def optimal_size(
        self, reference_price: _Number, fixed_cost: _Number | None = None, max_size: _Number | None = None
    ) -> SizingResult:
        """The input that maximises ``(quote(d) - reference_price * d) -
        fixed_cost``, capped by ``max_size``.

        ``reference_price`` is the value of one unit of the input asset in
        units of the output asset. ``fixed_cost`` (in units of the output
        asset) and ``max_size`` (in units of the input asset) are left out
        when ``None``. Raises ``NoArbitrageOpportunity`` when the pool's rate
        for the smallest trades is not better than ``reference_price`` (a PMM
        pool whose reverse regime pays a rising rate is searched first, and
        raises it when no size it finds pays), ``NoProfitableSize`` when no
        admissible size earns more than zero, ``InvalidReserves`` for an
        invalid value or ``DidNotConverge``; each is a ``SizingError``, so a
        ``ValueError``."""

@disjoint_base
class PyCpmm(_Pool):
    """Constant-product pool: ``x * y`` is kept after the fee is taken from the
    input. Sized by a closed form with one square root: tier
    ``ProvenOptimal``, no iterations."""

    def __new__(cls, x: _Number, y: _Number, fee_retention: _Number) -> Self:
        """``x`` is the reserve of the input asset and ``y`` that of the output
        asset, both > 0. ``fee_retention`` is the share of the input kept after
        the fee, in (0, 1]: a 0.3 % fee is ``0.997``."""

@disjoint_base
class PyStableSwap(_Pool):
    """StableSwap pool of n >= 2 coins; always trades coin 0 in and coin 1 out.
    Sized by Newton solves of the invariant, a doubling bracket and
    bisection: tier ``NumericallyGuaranteed``, with iterations."""

    def __new__(cls, reserves: Sequence[_Number], amplification: _Number, fee_retention: _Number) -> Self:
        """``reserves`` holds each coin's balance (coins 2 and up take part in
        the invariant only); ``amplification`` is A >= 1; ``fee_retention``
        is the share of the output kept after the fee, in (0, 1]."""

@disjoint_base
class PyPmm(_Pool):
    """Proactive-market-maker pool around an oracle price, without targets or
    fee: base in, quote out. Sized by a golden-section search with a sampled
    check of the curve's shape: tier ``EmpiricallyValidated``
    (``unimodality_confirmed`` reports the check), with iterations."""

    def __new__(cls, base_reserve: _Number, quote_reserve: _Number, oracle_price: _Number, k: _Number) -> Self:
        """``base_reserve`` and ``quote_reserve`` are the pool's holdings (> 0;
        no quote exceeds ``quote_reserve``); ``oracle_price`` is quote per base
        (> 0); ``k`` > 0 is the curvature."""

@disjoint_base
class PyConcentratedLiquidity(_Pool):
    """Concentrated liquidity over one price range: asset X in, asset Y out.
    Sized by a closed form per range: tier ``ProvenOptimal``, no
    iterations."""

    def __new__(
        cls,
        liquidity: _Number,
        sqrt_price_lower: _Number,
        sqrt_price_upper: _Number,
        sqrt_price_current: _Number,
        fee_retention: _Number,
    ) -> Self:
        """``liquidity`` is L > 0 inside the range; the three square-root prices
        (of the price of X in Y) bound the range and place the pool in it,
        ``sqrt_price_lower <= sqrt_price_current <= sqrt_price_upper``;
        ``fee_retention`` is the share of the input kept, in (0, 1]."""

@disjoint_base
class PyBalancerWeightedPool(_Pool):
    """Weighted pool of n assets whose weights sum to 1 (within 0.01); trades
    ``input_index`` in and ``output_index`` out. Sized by a closed form
    through a decimal power: tier ``ProvenOptimal``, no iterations."""

    def __new__(
        cls,
        reserves: Sequence[_Number],
        weights: Sequence[_Number],
        fee_retention: _Number,
        input_index: SupportsIndex = 0,
        output_index: SupportsIndex = 1,
    ) -> Self:
        """``reserves`` and ``weights`` hold one entry per asset;
        ``fee_retention`` is the share of the input kept, in (0, 1];
        ``input_index`` and ``output_index`` are distinct positions."""

@disjoint_base
class PyVelodromeStable(_Pool):
    """Stable pool with the invariant ``x**3 * y + x * y**3``: coin X in, coin Y
    out. Sized by a doubling bracket and a golden-section search: tier
    ``NumericallyGuaranteed``, with iterations."""

    def __new__(cls, reserve_x: _Number, reserve_y: _Number, fee_retention: _Number) -> Self:
        """``reserve_x`` (input coin) and ``reserve_y`` (output coin) are > 0;
        ``fee_retention`` is the share of the input kept, in (0, 1]."""

@disjoint_base
class PyDlmmBook(_Pool):
    """Book of liquidity bins, each at a fixed price: asset X in, asset Y out,
    walking from ``active_bin_index`` towards later bins. Sized by adding the
    inputs that drain every profitable bin: tier ``ProvenOptimal``, no
    iterations."""

    def __new__(
        cls, bins: Sequence[Mapping[str, _Number]], active_bin_index: SupportsIndex, fee_retention: _Number
    ) -> Self:
        """``bins`` is a non-empty sequence of mappings with the keys
        ``"bin_id"`` (a signed 32-bit integer, kept but not interpreted),
        ``"price"`` (of X in Y, > 0), ``"reserve_x"`` and ``"reserve_y"``
        (>= 0; ``reserve_y`` is what a trade can take out of the bin).
        ``active_bin_index`` is the position where trades start;
        ``fee_retention`` is the share of the input kept, in (0, 1]."""

@disjoint_base
class PyCurveCryptoSwap(_Pool):
    """Two-coin CryptoSwap pool; trades coin ``input_index`` in and the other
    coin out. Sized by a golden-section search of 64 passes: tier
    ``NumericallyGuaranteed``, 64 iterations."""

    def __new__(
        cls,
        balances: Sequence[_Number],
        amplification_a: _Number,
        gamma: _Number,
        fee_retention: _Number,
        input_index: SupportsIndex = 0,
    ) -> Self:
        """``balances`` holds exactly two balances (> 0; any other count raises
        ``ValueError``); ``amplification_a`` and ``gamma`` > 0 shape the
        curve; ``fee_retention`` is the share of the input kept, in (0, 1];
        ``input_index`` is 0 or 1."""

@disjoint_base
class PyDodoPmm(_Pool):
    """Proactive-market-maker pool with targets, priced around an oracle price.
    With ``is_sell_base`` the trader pays base and receives quote, otherwise
    the reverse. Sized by a golden-section search of 64 passes: tier
    ``EmpiricallyValidated``, 64 iterations."""

    def __new__(
        cls,
        base_target: _Number,
        quote_target: _Number,
        base_reserve: _Number,
        quote_reserve: _Number,
        oracle_price: _Number,
        k: _Number,
        fee_retention: _Number,
        is_sell_base: bool = True,
    ) -> Self:
        """``base_target`` and ``quote_target`` are the balances at rest,
        ``base_reserve`` and ``quote_reserve`` the holdings now (all > 0);
        ``oracle_price`` is quote per base (> 0); ``k`` in (0, 1] is the
        curvature of the premium; ``fee_retention`` is the share of the input
        kept, in (0, 1]; ``is_sell_base`` is ``True`` or ``False`` (an ``int``
        is refused)."""

_AnyPool: TypeAlias = (
    PyCpmm
    | PyStableSwap
    | PyPmm
    | PyConcentratedLiquidity
    | PyBalancerWeightedPool
    | PyVelodromeStable
    | PyDlmmBook
    | PyCurveCryptoSwap
    | PyDodoPmm
)
"""Any of the nine pool classes (or a subclass)."""

@disjoint_base
class PyRoute:
    """Pools traded one after another: the output of each leg is paid into the
    next, so a route buys on one pool and sells on another, or goes round a
    cycle of pools back to the starting asset. Its quote is the exact chain of
    the legs' own quotes. Outside ``__all__``.

    Sizing: a closed form with one square root when every leg is a
    constant-product pool or a concentrated-liquidity pool (the chain's quote
    is then ``a·d / (b + c·d)``, as a constant-product pool's is), capped at
    what the ranges can take; otherwise a golden-section search of the
    chained quote's profit, on a bracket found by doubling or halving from one
    unit of input, to 1e-12 of the size. The tier is ``"ComposedFrom"``, its
    detail ``{"legs": [...]}`` the tiers each leg's family reports for its own
    sizings, in route order; ``iterations`` counts the search's passes and is
    ``None`` for the closed form. A route of one leg sizes exactly as that
    pool does. Routes are immutable, safe to share between threads, and
    pickle, copy and deepcopy to equal routes."""

    def __new__(cls, legs: Sequence[_AnyPool]) -> Self:
        """``legs`` is a sequence of 1 to 8 pool objects, each used in the
        direction its class trades (``PyCpmm(x, y, f)`` sells X for Y). The
        output asset of each leg must be the input asset of the next; that is
        the caller's to ensure. The pools' states are copied: a route never
        changes. Raises ``ValueError`` for no legs, more than 8, or an item
        that is not a pool object (naming its position and type), and
        ``TypeError`` for a ``str`` or anything that is not a sequence."""

    def __eq__(self, other: object, /) -> bool:
        """Equal when of the same class with equal legs in the same order."""

    def __hash__(self) -> int:
        """Equal routes hash alike."""

    @property
    def legs(self) -> tuple[_AnyPool, ...]:
        """The legs in route order, as objects of the pool classes themselves
        (a subclass instance given as a leg comes back as its base class). A
        new tuple of new pools on every read."""

    def quote(self, delta_in: _Number) -> Decimal:
        """The last leg's output for ``delta_in`` paid into the first: each leg
        quotes, digit for digit as its own class does, what the leg before it
        paid out. A leg's error is the route's: ``ValueError`` with the sizing
        error's text."""

    def optimal_size(
        self, reference_price: _Number, fixed_cost: _Number | None = None, max_size: _Number | None = None
    ) -> SizingResult:
        """The input that maximises ``(quote(d) - reference_price * d) -
        fixed_cost``, capped by ``max_size``.

        ``reference_price`` is the value of one unit of the first leg's input
        asset counted in the last leg's output asset: ``1`` for a cycle back to
        the starting asset. ``fixed_cost`` is in units of the last leg's
        output, ``max_size`` in units of the first leg's input. Raises
        ``ValueError`` with ``NoArbitrageOpportunity`` when the product of the
        legs' rates for the smallest trades, fees included, is not above
        ``reference_price``, ``NoProfitableSize`` when no admissible size earns
        more than zero, or a leg's own error."""

# ---- module functions ------------------------------------------------------------

def cpmm_optimal_size(
    x: _Number,
    y: _Number,
    fee_retention: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyCpmm(x, y, fee_retention).optimal_size(reference_price, fixed_cost,
    max_size)`` without creating the pool object."""

def stableswap_optimal_size(
    reserves: Sequence[_Number],
    amplification: _Number,
    fee_retention: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyStableSwap(reserves, amplification, fee_retention).optimal_size(...)``
    without creating the pool object."""

def pmm_optimal_size(
    base_reserve: _Number,
    quote_reserve: _Number,
    oracle_price: _Number,
    k: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyPmm(base_reserve, quote_reserve, oracle_price, k).optimal_size(...)``
    without creating the pool object."""

def clmm_optimal_size(
    liquidity: _Number,
    sqrt_price_lower: _Number,
    sqrt_price_upper: _Number,
    sqrt_price_current: _Number,
    fee_retention: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyConcentratedLiquidity(...).optimal_size(...)`` without creating the
    pool object."""

def balancer_optimal_size(
    reserves: Sequence[_Number],
    weights: Sequence[_Number],
    fee_retention: _Number,
    input_index: SupportsIndex,
    output_index: SupportsIndex,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyBalancerWeightedPool(...).optimal_size(...)`` without creating the
    pool object; ``input_index`` and ``output_index`` have no defaults here."""

def velodrome_optimal_size(
    reserve_x: _Number,
    reserve_y: _Number,
    fee_retention: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyVelodromeStable(reserve_x, reserve_y, fee_retention).optimal_size(...)``
    without creating the pool object."""

def dlmm_optimal_size(
    bins: Sequence[Mapping[str, _Number]],
    active_bin_index: SupportsIndex,
    fee_retention: _Number,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyDlmmBook(bins, active_bin_index, fee_retention).optimal_size(...)``
    without creating the pool object."""

def cryptoswap_optimal_size(
    balances: Sequence[_Number],
    amplification_a: _Number,
    gamma: _Number,
    fee_retention: _Number,
    input_index: SupportsIndex,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyCurveCryptoSwap(...).optimal_size(...)`` without creating the pool
    object; ``input_index`` has no default here."""

def dodo_optimal_size(
    base_target: _Number,
    quote_target: _Number,
    base_reserve: _Number,
    quote_reserve: _Number,
    oracle_price: _Number,
    k: _Number,
    fee_retention: _Number,
    is_sell_base: bool,
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyDodoPmm(...).optimal_size(...)`` without creating the pool object;
    ``is_sell_base`` has no default here."""

def route_optimal_size(
    legs: Sequence[_AnyPool],
    reference_price: _Number,
    fixed_cost: _Number | None = None,
    max_size: _Number | None = None,
) -> SizingResult:
    """``PyRoute(legs).optimal_size(reference_price, fixed_cost, max_size)``
    without creating the route object; a problem with ``legs`` is reported
    before one of the other arguments. Outside ``__all__``."""

class _Opportunity(Protocol):
    """What an opportunity must support: reading its values by key, as a dict
    does. The keys are ``"id"``, ``"pool"``, ``"reference_price"`` and,
    optionally, ``"fixed_cost"`` and ``"max_size"``."""

    def __getitem__(self, key: str, /) -> Any: ...

_OpportunityT = TypeVar("_OpportunityT", bound=_Opportunity)

def portfolio_optimize(total_capital_budget: _Number, opportunities: list[_OpportunityT]) -> PortfolioResult:
    """Splits ``total_capital_budget`` (> 0, in units of the pools' input asset)
    across the opportunities with one shadow price on capital.

    ``opportunities`` is a ``list`` (another sequence raises ``TypeError``) of
    mappings, or any objects read by key, with the keys ``"id"`` (``str``),
    ``"pool"`` (an instance of one of the nine pool classes, or a
    ``PyRoute``),
    ``"reference_price"`` and, optionally, ``"fixed_cost"`` and
    ``"max_size"`` (absent or ``None`` for none). Every opportunity is sized on
    its own at its reference price raised by the shadow price, which is searched
    until the sizes add up to the budget within a relative 0.0001. An
    opportunity whose sizing fails is left unfunded, never an error.

    Each pass of the search sizes the opportunities on a pool of worker
    threads, with the interpreter lock released; the result is the same to
    the last digit on any number of threads. The pool starts with the first
    call that needs it and has as many threads as the machine has cores, or
    as the environment variable ``QUARLEN_THREADS`` says when it is set then
    (a whole number >= 1, other values are ignored; ``1`` sizes everything on
    the calling thread). The threads stop before a ``fork()`` and start again
    when next needed, in the parent and the child."""
