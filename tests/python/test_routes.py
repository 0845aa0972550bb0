"""Routes: what PyRoute accepts and refuses, that a route of one pool is that
pool, and that routes travel and compare by value. How routes size against
the model of their chain is in test_properties.py."""

from __future__ import annotations

import copy
import pickle
from typing import Any

import pytest

import quarlen
from support import ROUTE, Family, family_params, notes, txt

LEGS = ROUTE.args[0]


@pytest.mark.parametrize("legs, error, message, note", [
    ([], ValueError, "a route must have 1 to 8 legs, got 0", None),
    (LEGS * 3, ValueError, "a route must have 1 to 8 legs, got 9", None),
    ([LEGS[0], 5], ValueError, "legs[1] must be a pool object (an instance of one of the nine pool classes), got 'int'",
     None),
    ([quarlen.PyRoute(LEGS)], ValueError,
     "legs[0] must be a pool object (an instance of one of the nine pool classes), got 'PyRoute'", None),
    ("abc", TypeError, "Can't extract `str` to `Vec`", "while processing 'legs'"),
    (LEGS[0], TypeError, "'PyCpmm' object is not an instance of 'Sequence'", "while processing 'legs'"),
])
def test_bad_legs_are_refused_by_the_class_and_the_function(legs: Any, error: type[Exception], message: str,
                                                           note: str | None) -> None:
    for call in (lambda: quarlen.PyRoute(legs), lambda: quarlen.route_optimal_size(legs, "abc")):
        with pytest.raises(error) as raised:
            call()
        assert str(raised.value) == message
        assert notes(raised.value) == ([note] if note else [])


@pytest.mark.parametrize("family", family_params())
def test_a_route_of_one_pool_quotes_and_sizes_as_the_pool(family: Family) -> None:
    pool = family.pool()
    route = quarlen.PyRoute([pool])
    for delta in (family.delta_in, 0, "0.000001", -1):
        try:
            expected = txt(pool.quote(delta))
        except ValueError as error:
            expected = str(error)
        try:
            assert txt(route.quote(delta)) == expected
        except ValueError as error:
            assert str(error) == expected
    alone, routed = pool.optimal_size(family.reference_price), route.optimal_size(family.reference_price)
    assert (txt(routed.optimal_delta), txt(routed.expected_profit), routed.iterations) == (
        txt(alone.optimal_delta), txt(alone.expected_profit), alone.iterations)
    assert (routed.guarantee_tier, routed.guarantee_tier_detail) == ("ComposedFrom", {"legs": [alone.guarantee_tier]})


def test_routes_travel_and_compare_by_value() -> None:
    class Leg(quarlen.PyCpmm):
        pass

    route = quarlen.PyRoute(LEGS)
    assert repr(route) == "PyRoute([" + ", ".join(repr(leg) for leg in LEGS) + "])"
    # The legs come back as objects of the pool classes themselves.
    assert route.legs == tuple(LEGS) and route.legs is not route.legs
    with_subclass = quarlen.PyRoute([Leg(4_500_000, 1500, "0.997"), *LEGS[1:]])
    assert [type(leg) for leg in with_subclass.legs] == [type(leg) for leg in LEGS]
    assert with_subclass == route and hash(with_subclass) == hash(route)
    for twin in (pickle.loads(pickle.dumps(route)), copy.copy(route), copy.deepcopy(route),
                 quarlen.PyRoute(tuple(route.legs))):
        assert type(twin) is quarlen.PyRoute and twin == route and hash(twin) == hash(route)
        assert repr(twin.optimal_size(1)) == repr(route.optimal_size(1))
    for other in (quarlen.PyRoute(LEGS[::-1]), quarlen.PyRoute(LEGS[:2]), quarlen.PyRoute([*LEGS[:2], LEGS[0]])):
        assert other != route
    assert route != LEGS[0] and len({route, copy.copy(route)}) == 1
