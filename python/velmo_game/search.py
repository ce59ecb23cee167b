"""Search primitives: potential chains, pair expansion and a stable field hash.

- :func:`detect_chains`: for every playable column (0..5) and every colour present on the field
  (in the order RED, BLUE, YELLOW, GREEN), the fewest puyos of that colour, 1 up to
  ``max_added``, that dropped one after another into the column (each into the lowest empty
  cell, as ``velmo.Field.put`` does) make the field fire a chain. One result per column and
  colour that fires, ordered by column, then colour.
- :func:`best_chain`: the best of those (highest score, ties to fewer puyos added, then to the
  earlier one) as plain numbers.
- :func:`expand` and :func:`expand_batch`: every legal placement of a pair (the game's rule,
  ``velmo_game.Game.legal_moves``) with the settled field, chain and score; the batch runs over
  NumPy arrays with the interpreter lock released.
- :func:`evaluate_features`: the beam player's evaluation of a quiet field, feature by feature
  (see ``velmo_game.players.BeamSearch``), with its value under the given weights.
- :func:`field_hash`: h = 0, then for the six 64-bit words of the planes (p0 low, p0 high, p1
  low, p1 high, p2 low, p2 high) ``h = mix64((h ^ word) + 0x9E3779B97F4A7C15)`` with the
  project's SplitMix64 mixing function: the same on every run and machine.
"""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt
import velmo

from velmo_game import _native

__all__ = ["Expansion", "PotentialChain", "best_chain", "detect_chains", "evaluate_features", "expand", "expand_batch",
           "field_hash"]


class PotentialChain(NamedTuple):
    """A chain that ``added`` puyos of ``color`` dropped into ``column`` would fire."""

    column: int
    color: int
    added: int
    chain: int
    score: int
    field: velmo.Field | None


class Expansion(NamedTuple):
    """The legal children of one pair placement, in move order."""

    moves: tuple[int, ...]
    fields: tuple[velmo.Field, ...]
    chains: tuple[int, ...]
    scores: tuple[int, ...]
    game_over: tuple[bool, ...]


def detect_chains(field: velmo.Field, *, max_added: int = 3, build_fields: bool = True) -> list[PotentialChain]:
    """The potential chains of ``field``; ``field`` of each is None unless ``build_fields``."""
    return [PotentialChain(*record) for record in _native.detect_chains(field, max_added, build_fields)]


def best_chain(field: velmo.Field, *, max_added: int = 3) -> tuple[int, int, int, int, int] | None:
    """(column, color, added, chain, score) of the best potential chain, or None."""
    best: tuple[int, int, int, int, int] | None = _native.best_chain(field, max_added)
    return best


def expand(field: velmo.Field, pair: velmo.Pair) -> Expansion:
    """Every legal placement of ``pair`` on ``field``."""
    return Expansion(*_native.expand(field, pair))


def evaluate_features(field: velmo.Field, *, max_added: int = _native.BEAM_MAX_ADDED,
                      weights: dict[str, float] | None = None) -> dict[str, float]:
    """The beam player's evaluation of ``field``: its features and their weighted ``value``.

    ``chain``, ``score``, ``added``: the best potential chain by value (length counts more than
    score); ``trigger_height``: the height of its column before the added puyos;
    ``trigger_room``: the empty cells up to the 12th row in the columns beside it; ``link2``,
    ``link3``: groups of two and three left once it has fired; ``template_match``: the pairs of
    a chain base at the left (a GTR-style base, stairs) whose colours agree with it, less those
    that do not; ``wells``, ``bumps``: rows of columns two or more below both neighbours and of
    steps past one; ``profile``: the squared distance to the U-shaped height profile;
    ``hidden``: puyos in the 13th and 14th rows; ``left``: puyos left once the potential chain
    has fired (all of them when none fires). ``weights`` (by name, the rest the defaults,
    ``BeamSearch.defaults()["weights"]``) give ``value``.
    """
    features: dict[str, float] = _native.evaluate_features(field, max_added, weights)
    return features


def field_hash(field: velmo.Field) -> int:
    """The stable 64-bit hash of ``field`` (see the module's description)."""
    value: int = _native.field_hash(field)
    return value


_STATE_HEADER = np.frombuffer((48).to_bytes(8, "little"), dtype=np.uint8)


def _planes_of(fields: npt.ArrayLike) -> tuple[npt.NDArray[np.uint64], bool]:
    array = np.asarray(fields)
    if array.dtype == np.uint8 and array.ndim == 2 and array.shape[1] == 56:
        if not (array[:, :8] == _STATE_HEADER).all():
            raise ValueError("field states must start with the length 48, as velmo.Field.__getstate__ gives")
        planes = np.ascontiguousarray(array[:, 8:]).view("<u8").astype(np.uint64)
        return np.ascontiguousarray(planes), True
    if array.dtype == np.uint64 and array.ndim == 3 and array.shape[1:] == (3, 2):
        return np.ascontiguousarray(array.reshape(len(array), 6)), False
    raise ValueError(
        "fields must be an (n, 3, 2) uint64 array of planes (low, high words) or an (n, 56) uint8 array of "
        f"field states, not {array.dtype} {array.shape}"
    )


_GAME_COLORS = range(4, 8)  # RED, BLUE, YELLOW, GREEN as Python puyo numbers


def _pair_codes(pairs: npt.ArrayLike) -> npt.NDArray[np.uint8]:
    """The puyo numbers of ``pairs`` as uint8, refused unless every one is an integer colour
    (no float truncated, no code wrapped into range)."""
    array = np.asarray(pairs)
    if array.dtype.kind not in "iu":
        raise TypeError(f"pairs must hold integer puyo numbers, not dtype {array.dtype}")
    outside = (array < _GAME_COLORS.start) | (array >= _GAME_COLORS.stop)
    if outside.any():
        where = tuple(int(i) for i in np.argwhere(outside)[0])
        row = where[0] if array.ndim == 2 else 0
        raise ValueError(f"row {row}: pairs holds {array[where]}, not a colour puyo number "
                         f"({_GAME_COLORS.start}..{_GAME_COLORS.stop - 1}: RED, BLUE, YELLOW, GREEN)")
    return array.astype(np.uint8)


def expand_batch(fields: npt.ArrayLike, pairs: npt.ArrayLike) -> dict[str, npt.NDArray[Any]]:
    """Expands a pair on each of many fields at once, with the interpreter lock released.

    ``fields``: an ``(n, 3, 2)`` ``uint64`` array (the three planes p0, p1, p2 as low and high
    64-bit words) or an ``(n, 56)`` ``uint8`` array of ``velmo.Field`` states. ``pairs``: an
    ``(n, 2)`` ``uint8`` array of Python puyo numbers (child, axis), or one ``(2,)`` pair for
    every field; floats, bools and numbers outside 4..7 are refused (TypeError, ValueError).
    Returns a dict of arrays indexed ``[row, move]``: ``fields`` (children in the
    input's form, ``(n, 22, 3, 2)`` or ``(n, 22, 56)``; an illegal move's slot holds the parent),
    ``legal``, ``chains``, ``scores`` and ``game_over``.
    """
    planes, as_states = _planes_of(fields)
    n = len(planes)
    pair_array = _pair_codes(pairs)
    if pair_array.shape == (2,):
        pair_array = np.broadcast_to(pair_array, (n, 2))
    if pair_array.shape != (n, 2):
        raise ValueError(f"pairs must be a (2,) or ({n}, 2) array, not {pair_array.shape}")
    pair_array = np.ascontiguousarray(pair_array)
    out_fields = np.empty((n, 22, 6), dtype=np.uint64)
    legal = np.empty((n, 22), dtype=np.bool_)
    chains = np.empty((n, 22), dtype=np.uint32)
    scores = np.empty((n, 22), dtype=np.uint32)
    game_over = np.empty((n, 22), dtype=np.bool_)
    bad: int = _native.expand_batch_planes(planes, pair_array, out_fields, legal, chains, scores, game_over)
    if bad >= 0:
        raise ValueError(f"row {bad}: not a playable field or not a pair of two of the four colours")
    children: npt.NDArray[Any]
    if as_states:
        children = np.empty((n, 22, 56), dtype=np.uint8)
        children[:, :, :8] = _STATE_HEADER
        children[:, :, 8:] = out_fields.astype("<u8").view(np.uint8).reshape(n, 22, 48)
    else:
        children = out_fields.reshape(n, 22, 3, 2)
    return {"fields": children, "legal": legal, "chains": chains, "scores": scores, "game_over": game_over}
