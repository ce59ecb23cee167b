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

import velmo

from velmo_game import _native
from velmo_game._native import Game, Match

__all__ = ["BeamSearch", "GreedyPlayer", "Player", "RandomPlayer", "SplitMix64", "make_player"]

_MASK64 = (1 << 64) - 1
_EMPTY_FIELD = velmo.Field()
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


#: Named settings of :class:`BeamSearch` (``BeamSearch.preset(name)``); docs/search.md gives each
#: one's strength and cost. ``"legacy"`` is the player as it was before it chose its move by the
#: chains its search reaches (its own search and evaluation), at width 96 and depth 16. The
#: ``"strong"`` search, wider and with every future, counts a chain on drawn pairs at its score:
#: the default's share above it made it wait too long (docs/search.md).
PRESETS: dict[str, dict[str, Any]] = {
    "fast": {"width": 32, "depth": 10, "queues": 1, "max_added": 2},
    "default": {},
    "strong": {"width": 160, "queues": 4, "settle_queues": 0, "weights": {"drawn": 1.0}},
    "legacy": {"width": 96, "depth": 16, "max_added": 2, "legacy": True},
}


def _target_points(match: Match) -> int:
    """The points per ojama in force now (margin time lowers them)."""
    return int(match.rules.target_points_at(match.frame))


def _ojama_of(score: int, leftover: int, target_points: int) -> int:
    return (score + leftover) // max(1, target_points)


def _buries(match: Match, game: Game, incoming: int) -> bool:
    """Whether ``incoming`` ojama bury the field: a full fall, or rows (six ojama each) that bring
    the spawn column within a pair of the top."""
    rows = -(-incoming // _native.OJAMA_PER_ROW)
    return (incoming >= match.rules.max_ojama_per_fall
            or game.field.get_height(_native.SPAWN_COLUMN) + rows + 2 >= _native.DEATH_HEIGHT)


def _quick_quiet_move(match: Match, index: int) -> int:
    """A legal move of player ``index`` that fires no chain, in the spawn column when it can be
    (the quickest placement), else the lowest such; the lowest legal move when every move fires."""
    from velmo_game.search import expand

    view = match.players[index]
    children = expand(view.field, view.current_pair)
    quiet = [move for move, score, over in zip(children.moves, children.scores, children.game_over)
             if score == 0 and not over]
    if not quiet:
        return int(match.legal_moves(index)[0])
    return _native.SPAWN_DROP_MOVE if _native.SPAWN_DROP_MOVE in quiet else min(quiet)


def _placements_before_landing(match: Match, index: int) -> int:
    """How many placements player ``index`` makes up to the one after which the ojama on its way
    (pending and the opponent's running chain) falls on its field; 0 when none is on its way.

    Counted by playing quick quiet placements on a copy of the match, since the frames of a
    placement depend on the field and the move (a chain would only add frames)."""
    if not match.players[index].pending_ojama + match.players[1 - index].ojama_in_flight:
        return 0
    copy = match.clone()
    placements = 0
    while not copy.is_over:
        me, them = copy.players[index], copy.players[1 - index]
        incoming = me.pending_ojama + them.ojama_in_flight
        due = copy.to_move()
        copy.step({p: _quick_quiet_move(copy, p) for p in due})
        placements += index in due
        me, them = copy.players[index], copy.players[1 - index]
        if me.pending_ojama + them.ojama_in_flight < incoming:
            break
    return max(placements, 1)


def _versus_move(match: Match, index: int, game: Game) -> int | None:
    """The move the match's ojama calls for, or None to search as in a one-player game.

    - An attack on its way (pending, or the opponent's running chain): fire the chain now in reach
      that offsets it (the least that does, keeping material), or, when none offsets pending
      ojama that would bury the field (a full fall or more, or rows that bring the spawn column
      within a pair of the top), the biggest chain in reach, before the ojama lands on it. Under
      a running chain the search decides (see :meth:`BeamSearch.choose_match`).
    - Nothing incoming: fire a chain that the opponent cannot answer, when its field is near the
      top (the ojama fills its spawn column) or its own best chain in reach is small (spent).
    """
    from velmo_game.search import best_chain, expand

    me, them = match.players[index], match.players[1 - index]
    target = _target_points(match)
    children = expand(game.field, game.current_pair)
    fires = [(_ojama_of(score, me.leftover, target), move)
             for move, score, over in zip(children.moves, children.scores, children.game_over)
             if score > 0 and not over]
    if not fires:
        return None
    incoming = me.pending_ojama + them.ojama_in_flight
    if incoming >= _native.THREAT_OJAMA:
        offsetting = [fire for fire in fires if fire[0] >= incoming]
        if offsetting:
            return min(offsetting)[1]
        # Pending ojama about to bury the field: the biggest chain now pops puyos and offsets what
        # it can. Under a running chain the search looks for the biggest one before the landing.
        if not them.ojama_in_flight and _buries(match, game, incoming):
            return max(fires)[1]
        return None
    best_ojama, best_move = max(fires)
    their_field = them.field
    room = _native.DEATH_HEIGHT - their_field.get_height(_native.SPAWN_COLUMN)
    row = _native.OJAMA_PER_ROW
    answer = best_chain(their_field, max_added=2)
    their_ojama = 0 if answer is None else _ojama_of(answer[4], them.leftover, target)
    if best_ojama - their_ojama >= row * max(room, 1) or (their_ojama < _native.SPENT_OJAMA
                                                          and best_ojama >= row * max(room, 2)):
        return best_move
    return None


class BeamSearch:
    """The built-in player: a beam search in native code over the visible pairs and sampled ones.

    From each first move the beam keeps ``width`` positions per level over ``depth`` pairs (the
    current one, the visible next pairs, then ``queues`` futures of pairs drawn from the project's
    SplitMix64 seeded by ``seed``, the turn and the future, or with ``fixed_queues`` fixed queues
    that cycle through the pairs of two different colours). The first move is chosen by what its
    subtree reaches: the best chain fired below it (discounted by ``discount`` per sampled level;
    one worth ``fire_score`` or more beats every quiet outcome; a leaf's own potential chain worth
    firing counts as fired just past the horizon) or else its best leaf's evaluation, averaged
    over the futures. With ``settle_queues`` the first that many futures are searched first, and
    the others only when those differ on the first move (0: every future, always). The
    evaluation (``weights``, by name; see ``velmo_game.search.evaluate_features``) only keeps
    positions in the beam. The chain waited for shrinks as the field fills, and near the top (of
    the field moved from) any chain in reach is taken. ``end_turn`` is the game's length in
    placements (nothing is searched past it, and its last placements fire the biggest chain in
    reach); from turn ``last_turn`` on any chain fires. ``node_budget`` (children
    evaluated, all futures together) and ``time_budget_ms`` bound each move; 0 means no bound.
    ``threads`` share the futures: the move is the same for any thread count. With no time bound
    the choice depends only on the options and the position, on every machine. Options left out
    take the core's defaults (``BeamSearch.defaults()``); ``BeamSearch.preset(name)`` gives the
    named settings of ``PRESETS``.

    In a match (:meth:`choose_match`) the player also reads the ojama: it fires a chain that
    offsets an attack on its way when it has one big enough; its search sees the ojama on its way
    fall on the positions it reaches (so it keeps clear of the rows the ojama will fill); under
    the opponent's running chain it plays for the biggest chain that fires before that chain's
    ojama lands; and it fires early against an opponent who has spent its material or is about
    to top out. There it searches at most ``defaults()["match_queues"]`` futures.
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
        queues: int = _native.BEAM_QUEUES,
        threads: int = _native.BEAM_THREADS,
        discount: float = _native.BEAM_DISCOUNT,
        weights: dict[str, float] | None = None,
        legacy: bool = False,
        fixed_queues: bool = _native.BEAM_FIXED_QUEUES,
        settle_queues: int = _native.BEAM_SETTLE_QUEUES,
    ) -> None:
        if not (1 <= width <= 1 << 16 and 1 <= depth <= 256):
            raise ValueError(f"width must be in 1..65536 and depth in 1..256, not {width} and {depth}")
        if not time_budget_ms >= 0:  # NaN compares false: it is no budget at all
            raise ValueError(f"time_budget_ms must be a number >= 0, not {time_budget_ms}")
        self.width, self.depth, self.seed = width, depth, seed
        self.node_budget, self.time_budget_ms = node_budget, time_budget_ms
        if not 1 <= max_added <= 14:
            raise ValueError(f"max_added must be in 1..14, not {max_added}")
        if not (1 <= queues <= 64 and 1 <= threads <= 64):
            raise ValueError(f"queues and threads must be in 1..64, not {queues} and {threads}")
        if not 0 <= settle_queues <= 64:
            raise ValueError(f"settle_queues must be in 0..64, not {settle_queues}")
        if not 0 < discount <= 1:
            raise ValueError(f"discount must be in (0, 1], not {discount}")
        self.fire_score = fire_score
        self.last_turn, self.end_turn = last_turn, end_turn
        self.max_added, self.queues, self.threads, self.discount = max_added, queues, threads, discount
        self.weights = None if weights is None else dict(weights)
        self.legacy, self.fixed_queues, self.settle_queues = legacy, fixed_queues, settle_queues
        if self.weights is not None:
            _native.evaluate_features(_EMPTY_FIELD, 1, self.weights)  # a bad name or value fails here
        #: Children evaluated and depth reached by the last choice.
        self.last_nodes, self.last_depth = 0, 0

    @staticmethod
    def defaults() -> dict[str, Any]:
        """The core's default options and evaluation weights."""
        return _native.beam_defaults()

    @classmethod
    def preset(cls, name: str, **options: Any) -> BeamSearch:
        """The player of a named setting (``"fast"``, ``"default"``, ``"strong"``, ``"legacy"``);
        ``options`` override it (``seed``, ``end_turn``, ...; ``weights`` override the preset's
        weights by name)."""
        if name not in PRESETS:
            raise ValueError(f"unknown preset {name!r}; expected one of {', '.join(map(repr, PRESETS))}")
        setting = {**PRESETS[name], **options}
        if "weights" in PRESETS[name] and options.get("weights") is not None:
            setting["weights"] = {**PRESETS[name]["weights"], **options["weights"]}
        return cls(**setting)

    def _search(self, game: Game, seed: int, last_turn: int | None, end_turn: int | None, incoming: int = 0,
                incoming_level: int = 0, match: Match | None = None) -> int:
        move: int
        rules: dict[str, Any] = {} if match is None else {
            "target_points": _target_points(match), "max_ojama_per_fall": match.rules.max_ojama_per_fall, "in_match": True}
        move, self.last_nodes, self.last_depth = _native.beam_search_move(
            game, self.width, self.depth, seed, self.node_budget, self.time_budget_ms, self.fire_score,
            last_turn, end_turn, self.max_added, self.queues, self.threads, self.discount, self.weights, self.legacy,
            self.fixed_queues, self.settle_queues, incoming_ojama=incoming, incoming_level=incoming_level, **rules,
        )
        return move

    def choose(self, game: Game) -> int:
        """The chosen legal move; ``ValueError`` when the game is over."""
        _legal_or_raise(game)
        return self._search(game, self.seed, self.last_turn, self.end_turn)

    def choose_match(self, match: Match, index: int) -> int:
        """The chosen legal move for player ``index`` of ``match``; ``ValueError`` unless it is due.

        The search sees what the player sees: its field, current pair and visible next pairs,
        then sampled pairs, seeded by ``seed`` and the player's turn, so the choice depends only on
        the options and the match. ``end_turn`` and ``last_turn`` count that player's placements.
        The ojama pending against each player and the opponent's field decide when to fire
        (see the class's description).
        """
        game, turn = _match_view(match, index)
        seed = _derive_seed(self.seed, turn)
        last_turn = None if self.last_turn is None else max(self.last_turn - turn, 0)
        end_turn = None if self.end_turn is None else max(self.end_turn - turn, 1)
        incoming = 0
        incoming_level = 0
        if not self.legacy:
            move = _versus_move(match, index, game)
            if move is not None:
                return move
            # The ojama on its way falls on the fields the search reaches, at the placement it lands after.
            me, them = match.players[index], match.players[1 - index]
            incoming = me.pending_ojama + them.ojama_in_flight
            if incoming:
                landing = _placements_before_landing(match, index)
                incoming_level = landing - 1
                # A running chain that will bury the field: the chain to build is the biggest that
                # fires before its ojama lands, so the game ends, for the search, at the landing.
                if them.ojama_in_flight and incoming >= _native.THREAT_OJAMA:
                    end_turn = landing if end_turn is None else min(end_turn, landing)
        return self._search(game, seed, last_turn, end_turn, incoming, incoming_level, match)

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
