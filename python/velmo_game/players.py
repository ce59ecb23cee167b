"""Players: objects that choose a move for a one-player game, or for one player of a match.

A player is anything with ``choose(game) -> int`` returning a legal move of ``game`` (an index
into ``velmo.Hand.enumerate()``). The players here also have ``choose_match(match, index) ->
int``: a legal move for player ``index`` of a ``velmo_game.Match``, chosen from that player's
field, current pair and visible next pairs (what the player can see). Players are plain picklable objects, so they can be shipped to
worker processes (Ray, Dask) and rebuilt there; a seeded player's choices depend only on its seed
and the games it has been asked about, in order.

- :class:`RandomPlayer` picks uniformly among the legal moves, from the project's own seeded
  generator (SplitMix64, written out below), so a seed gives the same moves on every machine.
- :class:`GreedyPlayer` takes the legal move whose chain scores most now.
- :func:`make_player` builds a player by name, for command lines and configuration files.
"""

from __future__ import annotations

from typing import Any, Protocol, runtime_checkable

from velmo_game import _native
from velmo_game._native import Game, Match

__all__ = ["BeamSearch", "GreedyPlayer", "Player", "RandomPlayer", "SplitMix64", "make_player"]

_MASK64 = (1 << 64) - 1
_GOLDEN_GAMMA = 0x9E3779B97F4A7C15


@runtime_checkable
class Player(Protocol):
    """Anything that chooses a move for a game."""

    def choose(self, game: Game) -> int:
        """A legal move of ``game`` (an index into ``velmo.Hand.enumerate()``)."""
        ...


class SplitMix64:
    """The project's seeded generator (SplitMix64), the same numbers as the native one.

    The state advances by the 64-bit golden ratio and each output is the state passed through a
    fixed mixing function; ``below(n)`` is exactly uniform over ``0..n-1`` (multiply and reject),
    so a seed gives the same draws on every Python version and machine.
    """

    __slots__ = ("state",)

    def __init__(self, seed: int = 0) -> None:
        if not isinstance(seed, int) or isinstance(seed, bool):
            raise TypeError(f"seed must be an int, not {type(seed).__name__}")
        if not 0 <= seed <= _MASK64:
            raise ValueError(f"seed must be in 0..2**64-1, not {seed}")
        self.state = seed

    def __repr__(self) -> str:
        # The state is the seed of a generator that draws the same numbers from here on.
        return f"SplitMix64({self.state})"

    def next(self) -> int:
        """The next 64-bit draw."""
        self.state = (self.state + _GOLDEN_GAMMA) & _MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & _MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & _MASK64
        return z ^ (z >> 31)

    def below(self, n: int) -> int:
        """A draw exactly uniform over ``0..n-1`` (``n >= 1``)."""
        if n < 1:
            raise ValueError(f"n must be at least 1, not {n}")
        product = self.next() * n
        if product & _MASK64 < n:
            threshold = (-n) % n
            while product & _MASK64 < threshold:
                product = self.next() * n
        return product >> 64

    def __getstate__(self) -> int:
        return self.state

    def __setstate__(self, state: int) -> None:
        self.state = state


def _legal_or_raise(game: Game) -> list[int]:
    moves: list[int] = game.legal_moves()
    if not moves:
        raise ValueError("the game has no legal move (it is over)")
    return moves


def _due_moves(match: Match, index: int) -> list[int]:
    """The legal moves of player ``index`` of ``match``; ``ValueError`` unless it is due to move."""
    if not isinstance(index, int) or isinstance(index, bool) or index not in (0, 1):
        raise ValueError(f"index must be 0 or 1, not {index!r}")
    moves: list[int] = match.legal_moves(index)
    if not moves:
        raise ValueError(f"player {index} of the match has no move to make now")
    return moves


def _match_view(match: Match, index: int) -> tuple[Game, int]:
    """A one-player game standing where player ``index`` of ``match`` stands (its field, current
    pair and visible next pairs, repeating beyond them) and that player's turn; ``ValueError``
    unless the player is due to move."""
    _due_moves(match, index)
    view = match.players[index]
    game = Game(field=view.field, sequence=[view.current_pair, *view.next_pairs], visible=len(view.next_pairs))
    return game, int(view.turn)


def _derive_seed(seed: int, index: int) -> int:
    """The core's ``derive_seed``: SplitMix64's mixing of ``seed + golden_gamma * (index + 1)``."""
    return SplitMix64((seed + _GOLDEN_GAMMA * index) & _MASK64).next()


class RandomPlayer:
    """Picks uniformly among the legal moves, reproducibly for a seed.

    Each call to :meth:`choose` draws once from the player's own generator, so two players made
    with the same seed and asked about the same games choose the same moves.
    """

    def __init__(self, seed: int = 0) -> None:
        self.seed = seed
        self._generator = SplitMix64(seed)

    def choose(self, game: Game) -> int:
        """A legal move drawn uniformly; ``ValueError`` when the game is over."""
        moves = _legal_or_raise(game)
        return moves[self._generator.below(len(moves))]

    def choose_match(self, match: Match, index: int) -> int:
        """A legal move for player ``index`` of ``match``, drawn like :meth:`choose`."""
        moves = _due_moves(match, index)
        return moves[self._generator.below(len(moves))]

    def __repr__(self) -> str:
        return f"RandomPlayer(seed={self.seed})"


class GreedyPlayer:
    """Takes the legal move whose chain scores most now; ties go to the lowest move index.

    Without a scoring move it therefore plays the lowest legal move: a baseline, not a builder.
    """

    def choose(self, game: Game) -> int:
        """The best-scoring legal move; ``ValueError`` when the game is over."""
        best_move, best_score = -1, -1
        for move in _legal_or_raise(game):
            score = game.clone().play(move).score
            if score > best_score:
                best_move, best_score = move, score
        return best_move

    def choose_match(self, match: Match, index: int) -> int:
        """The move scoring most now for player ``index`` of ``match`` (as :meth:`choose`)."""
        return self.choose(_match_view(match, index)[0])

    def __repr__(self) -> str:
        return "GreedyPlayer()"


class BeamSearch:
    """The built-in player: a beam search in native code over the visible pairs and sampled ones.

    ``width`` positions are kept per level, over ``depth`` pairs (the current one, the game's
    visible next pairs, then pairs drawn from the project's SplitMix64 seeded by ``seed`` and the
    game's turn). Quiet positions are scored by their best potential chain (up to ``max_added``
    added puyos) and their shape (a U-shaped height profile with the spawn column low, links of
    same colours, the spawn columns' height, cells in the 13th and 14th rows). A path that fires
    a chain worth ``fire_score`` or more ends there, valued at that chain; the chain waited for
    shrinks as the field fills, and near the top any chain in reach is taken. ``end_turn`` is the
    game's length in placements (nothing is searched past it, and its last placements fire the
    biggest chain in reach); from turn ``last_turn`` on any chain fires. ``node_budget``
    (children evaluated) and ``time_budget_ms`` bound each move; 0 means no bound. With no time
    bound the choice depends only on the options and the position, on every machine.
    """

    def __init__(
        self,
        width: int = _native.BEAM_WIDTH,
        depth: int = _native.BEAM_DEPTH,
        seed: int = _native.BEAM_SEED,
        *,
        node_budget: int = _native.BEAM_NODE_BUDGET,
        time_budget_ms: float = _native.BEAM_TIME_BUDGET_MS,
        fire_score: int = _native.BEAM_FIRE_SCORE,
        last_turn: int | None = None,
        end_turn: int | None = None,
        max_added: int = _native.BEAM_MAX_ADDED,
    ) -> None:
        if not (1 <= width <= 1 << 16 and 1 <= depth <= 256):
            raise ValueError(f"width must be in 1..65536 and depth in 1..256, not {width} and {depth}")
        if not time_budget_ms >= 0:  # NaN compares false: it is no budget at all
            raise ValueError(f"time_budget_ms must be a number >= 0, not {time_budget_ms}")
        self.width, self.depth, self.seed = width, depth, seed
        self.node_budget, self.time_budget_ms = node_budget, time_budget_ms
        if not 1 <= max_added <= 14:
            raise ValueError(f"max_added must be in 1..14, not {max_added}")
        self.fire_score, self.last_turn, self.end_turn = fire_score, last_turn, end_turn
        self.max_added = max_added
        #: Children evaluated and depth reached by the last choice.
        self.last_nodes, self.last_depth = 0, 0

    def choose(self, game: Game) -> int:
        """The chosen legal move; ``ValueError`` when the game is over."""
        _legal_or_raise(game)
        move: int
        move, self.last_nodes, self.last_depth = _native.beam_search_move(
            game, self.width, self.depth, self.seed, self.node_budget, self.time_budget_ms, self.fire_score,
            self.last_turn, self.end_turn, self.max_added,
        )
        return move

    def choose_match(self, match: Match, index: int) -> int:
        """The chosen legal move for player ``index`` of ``match``; ``ValueError`` unless it is due.

        The search sees what the player sees: its field, current pair and visible next pairs,
        then sampled pairs. The sample is seeded by ``seed`` and the player's turn, so the choice
        depends only on the options and the match. ``end_turn`` and ``last_turn`` count that
        player's placements.
        """
        game, turn = _match_view(match, index)
        move: int
        move, self.last_nodes, self.last_depth = _native.beam_search_move(
            game, self.width, self.depth, _derive_seed(self.seed, turn), self.node_budget, self.time_budget_ms,
            self.fire_score,
            None if self.last_turn is None else max(self.last_turn - turn, 0),
            None if self.end_turn is None else max(self.end_turn - turn, 1),
            self.max_added,
        )
        return move

    def __repr__(self) -> str:
        return f"BeamSearch(width={self.width}, depth={self.depth}, seed={self.seed})"


def make_player(name: str, **options: Any) -> Player:
    """A player by name: ``'random'`` (options: ``seed``), ``'greedy'`` or ``'beam'`` (the options of
    ``BeamSearch``)."""
    if name == "random":
        return RandomPlayer(**options)
    if name == "greedy":
        if options:
            raise TypeError(f"GreedyPlayer takes no options, got {sorted(options)}")
        return GreedyPlayer()
    if name == "beam":
        return BeamSearch(**options)
    raise ValueError(f"unknown player {name!r}; expected 'random', 'greedy' or 'beam'")
