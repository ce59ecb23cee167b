"""
The native part of velmo_game: pair sequences and games over the velmo core.
"""

from collections.abc import Mapping, Sequence
from typing import ClassVar, Any, Literal, SupportsIndex

import numpy
import numpy.typing
import velmo


class PairSequence:
    """
    The pairs a game deals, for every index from 0 on.

    ``PairSequence(seed, colors=4, kind='balanced')`` deals the arcade's loop of 128 pairs
    (every chosen colour equally often, shuffled, the first two pairs in at most three
    colours), repeating; ``kind='uniform'`` draws every puyo independently. The same seed
    gives the same pairs on every machine and Python version. ``seq[i]`` is a
    ``velmo.Pair``; sequences compare with ``==``, copy and pickle.
    """

    def __init__(self, seed: int, *, colors: int = 4, kind: Literal['balanced', 'uniform'] = 'balanced') -> None:
        """
        Deal the sequence of ``seed`` (an int in 0..2**64-1) in ``colors`` colours (3 or 4).

        With 3 colours the seed also picks which of RED, BLUE, YELLOW and GREEN is left out.

        Raises:
            ValueError: a negative seed, colors other than 3 or 4, an unknown kind.
            TypeError: a seed or colors that is not an int.
        """

    @staticmethod
    def from_pairs(pairs: Sequence[velmo.Pair]) -> PairSequence:
        """
        A sequence that deals the given pairs (1 to 256) and then repeats them from the start.

        Raises:
            ValueError: no pairs, more than 256, or a pair holding PURPLE, OJAMA, WALL or EMPTY.
            TypeError: something that is not a sequence of ``velmo.Pair``.
        """

    def __getitem__(self, index: SupportsIndex, /) -> velmo.Pair:
        """
        The pair dealt at ``index`` (0 is the first), as a ``velmo.Pair``.

        Raises:
            IndexError: a negative index (a sequence has no end to count from).
        """

    def take(self, n: int, start: int = 0) -> list[velmo.Pair]:
        """The ``n`` pairs from index ``start`` on, as a list of ``velmo.Pair``."""

    def to_numpy(self, n: int, start: int = 0) -> numpy.typing.NDArray[numpy.uint8]:
        """
        The ``n`` pairs from index ``start`` on as an ``(n, 2)`` uint8 array of ``PuyoType``
        numbers, child then axis (RED 4, BLUE 5, YELLOW 6, GREEN 7).
        """

    @property
    def colors(self) -> tuple[int, ...]:
        """
        The colours in use as ``PuyoType`` numbers, in the order RED, BLUE, YELLOW, GREEN.
        """

    @property
    def kind(self) -> Literal['balanced', 'uniform', 'explicit']:
        """'balanced', 'uniform', or 'explicit' for a sequence of given pairs."""

    @property
    def seed(self) -> int:
        """The seed (0 for given pairs)."""

    def __eq__(self, other: object, /) -> bool:
        """Whether both deal the same pairs from the same recipe."""

    def __repr__(self) -> str: ...

    def __copy__(self) -> PairSequence:
        """A copy (sequences are values)."""

    def __deepcopy__(self, memo: dict[int, object], /) -> PairSequence:
        """A copy (sequences are values)."""

    def __getstate__(self) -> tuple[str, int, int, bytes]:
        """
        The pickle state: (kind, colors, seed, pairs), the pairs as bytes for given pairs only.
        """

    def __setstate__(self, state: tuple[str, int, int, bytes], /) -> None:
        """Restore a pickled sequence (ValueError for a state that is not one)."""

    __hash__: ClassVar[None]  # type: ignore[assignment]

    __iter__: None = None

class MoveResult:
    """
    What one move did: the chain it fired, its score, and how the game stands.
    """

    @property
    def move(self) -> int:
        """The move played (an index into velmo.Hand.enumerate())."""

    @property
    def chain(self) -> int:
        """The number of chain steps (0: no chain)."""

    @property
    def score(self) -> int:
        """This move's score: the whole chain's, and the all-clear bonus it used."""

    @property
    def all_clear_bonus(self) -> int:
        """
        Points a held all-clear bonus added to this move's chain (2,100, or 0).
        """

    @property
    def step_scores(self) -> tuple[int, ...]:
        """The score of each chain step, in order."""

    @property
    def all_clear(self) -> bool:
        """Whether the counted area is empty after the chain."""

    @property
    def game_over(self) -> bool:
        """Whether the move ended the game (the death cell is occupied)."""

    def __eq__(self, other: object, /) -> bool:
        """Whether both record the same move and outcome."""

    def __repr__(self) -> str: ...

    __hash__: ClassVar[None]  # type: ignore[assignment]

class Game:
    """
    One player's game: a field, a pair sequence, a move per pair, a score and a game over.

    Moves are indices 0..21 into ``velmo.Hand.enumerate()``. A game is a plain value:
    ``clone()``, ``copy.copy``, ``copy.deepcopy`` and ``pickle`` give games that play on
    identically.
    """

    def __init__(self, seed: int = 0, *, colors: int = 4, visible: int = 2, field: velmo.Field | None = None, sequence: PairSequence | Sequence[velmo.Pair] | None = None) -> None:
        """
        A new game on ``field`` (an empty field by default) with ``visible`` next pairs shown.

        The pairs are ``PairSequence(seed, colors=colors)`` unless ``sequence`` is given: a
        ``PairSequence`` or a list of ``velmo.Pair`` (repeated from its start once used up);
        ``seed`` and ``colors`` are then not used.

        Raises:
            ValueError: a negative seed, colors other than 3 or 4, visible outside 0..128,
                a field no game can play on, an empty or PURPLE-holding list of pairs.
            TypeError: a field that is not a ``velmo.Field``, a sequence of something else.
        """

    @property
    def field(self) -> velmo.Field:
        """A copy of the field as a ``velmo.Field``."""

    @property
    def current_pair(self) -> velmo.Pair:
        """The pair to place now."""

    @property
    def next_pairs(self) -> tuple[velmo.Pair, ...]:
        """The ``visible`` pairs after the current one, nearest first."""

    @property
    def sequence(self) -> PairSequence:
        """The game's pair sequence (a copy)."""

    @property
    def visible(self) -> int:
        """How many next pairs are shown."""

    @property
    def score(self) -> int:
        """The total score so far."""

    @property
    def turn(self) -> int:
        """The number of pairs placed so far."""

    @property
    def is_over(self) -> bool:
        """Whether the game has ended."""

    @property
    def all_clear(self) -> bool:
        """Whether an all-clear bonus is held: the next chain scores 2,100 more."""

    def legal_moves(self) -> list[int]:
        """The legal moves, ascending (empty once the game is over)."""

    def action_mask(self) -> numpy.typing.NDArray[numpy.int8]:
        """A ``(22,)`` int8 array: 1 where the move is legal."""

    def is_legal(self, move: int) -> bool:
        """Whether ``move`` is legal now (ValueError for a move outside 0..21)."""

    def play(self, move: int) -> MoveResult:
        """
        Place the current pair by ``move``, run the chain, and deal the next pair.

        Raises:
            ValueError: a move outside 0..21, an illegal move, or any move once the game is
                over; the game is then unchanged.
            TypeError: a move that is not an int.
        """

    def observation(self) -> tuple[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint8]]:
        """
        The field as a ``(14, 6)`` uint8 array of ``PuyoType`` numbers (row 0 the 14th row,
        column 0 the left) and the current and next pairs as a ``(1 + visible, 2)`` uint8
        array (child, axis).
        """

    def clone(self) -> Game:
        """An independent copy (a game is a plain value)."""

    def __copy__(self) -> Game:
        """An independent copy."""

    def __deepcopy__(self, memo: dict[int, object], /) -> Game:
        """An independent copy."""

    def __getstate__(self) -> tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool, bool]:
        """
        The pickle state: (version, field state, sequence state, visible, turn, score, is_over,
        all_clear).
        """

    def __setstate__(self, state: tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool, bool], /) -> None:
        """
        Restore a pickled game (ValueError for a state that is not one; a state of version 1,
        written before the all-clear bonus, restores with no bonus held).
        """

    def __eq__(self, other: object, /) -> bool:
        """Whether both games stand exactly alike."""

    def __repr__(self) -> str: ...

    __hash__: ClassVar[None]  # type: ignore[assignment]

class EnvRules:
    """
    The rules of a single-game environment's step: what an illegal action does and when an
    episode is truncated (those of ``VecGame``, whose games step by the same native code).
    """

    def __init__(self, *, max_steps: int | None = None, illegal: str = 'raise', illegal_penalty: float = 0.0, reward: str = 'score') -> None:
        """
        ``max_steps`` truncates an episode after that many moves (None: never); ``illegal``
        ``'raise'`` refuses an illegal action, ``'substitute'`` plays the lowest legal move and
        subtracts ``illegal_penalty`` from the reward; ``reward`` is the move's ``'score'``,
        ``'log_score'`` (log(1 + score)) or ``'chain'`` (ValueError for other values).
        """

    @property
    def max_steps(self) -> int | None:
        """The episode length limit, or None."""

    @property
    def illegal(self) -> str:
        """``'raise'`` or ``'substitute'``."""

    @property
    def illegal_penalty(self) -> float:
        """What a substituted move costs (as float32)."""

    @property
    def reward(self) -> str:
        """The reward's form: ``'score'``, ``'log_score'`` or ``'chain'``."""

    def __repr__(self) -> str: ...

class ObservationBuffer:
    """
    Read-only arrays that ``fill`` rewrites in place with a game's observation and legal
    moves: what a single-game environment copies out on each step.
    """

    def __init__(self, visible: int = 2) -> None:
        """Arrays for games that show ``visible`` next pairs."""

    def __repr__(self) -> str: ...

    def fill(self, game: Game) -> None:
        """
        Write ``game``'s field, pairs and action mask (ValueError for another ``visible``).
        """

    def step(self, game: Game, action: int, rules: EnvRules) -> tuple[int, int, bool, bool, bool, float]:
        """
        One step of a single-game environment under ``rules``, as a batch steps each game:
        ``action`` played in ``game`` (an illegal one refused or replaced by the lowest legal
        move), the game's observation written, and its mask, all ones when the step ends the
        episode. Returns (chain, score, terminated, truncated, substituted, reward), the
        reward being the move's in the rules' form less the penalty of a substituted move.

        Raises:
            ValueError: the game is over, the rules refuse the action (the game is then
                unchanged), or the game shows another number of next pairs.
            TypeError: an action that is not an int.
        """

    @property
    def visible(self) -> int:
        """How many next pairs the buffer holds."""

    @property
    def field(self) -> numpy.typing.NDArray[numpy.uint8]:
        """``(14, 6)`` uint8, as ``Game.observation``."""

    @property
    def pairs(self) -> numpy.typing.NDArray[numpy.uint8]:
        """``(1 + visible, 2)`` uint8, as ``Game.observation``."""

    @property
    def action_mask(self) -> numpy.typing.NDArray[numpy.int8]:
        """``(22,)`` int8: 1 where the move is legal."""

def env_layout(kind: str, visible: int = 2) -> dict[str, Any]:
    """
    What an environment of ``kind`` ('game': one player, 'match': versus) with ``visible``
    next pairs shows and takes, as the batches write it: ``num_actions``, ``wait_action``
    (None for one player), ``arrays`` (each observation array's name to its shape, dtype
    name, lowest and highest value), and the ``PuyoType`` numbers of the one-hot
    ``plane_types`` (field) and ``pair_colours`` (pairs). Every Python space of the package
    is built from it.
    """

def episode_seed(seed: int, copy: int = 0, episode: int = 0) -> int:
    """
    The seed of episode ``episode`` (from 0) of environment copy ``copy`` run under ``seed``:
    every environment of the package plays ``Game(episode_seed(seed, copy, episode))`` (a
    versus one ``Match(...)`` of it). A single environment is copy 0; a batch's game ``i``
    is copy ``i``. Copies seeded ``s, s + 1, ...`` never share a game.
    """

class VecMatch:
    """
    A batch of two-player matches stepped together in native code without the interpreter
    lock.

    Match ``i`` is ``Match(seeds[i], colors=colors, visible=visible, rules=rules,
    timing=timing)``. The seeds derive from ``seed`` and the index only, so results never
    depend on ``num_threads``. Every output is a read-only NumPy array owned by the batch and
    rewritten in place by each ``step`` and ``reset``: copy what you keep. Every output row
    holds player 0, then player 1.
    """

    def __init__(self, num_envs: int, *, seed: int = 0, num_threads: int | None = None, colors: int = 4, visible: int = 2, autoreset: str = 'next_step', max_steps: int | None = None, rules: Rules | None = None, timing: Timing | None = None, illegal: str = 'raise', illegal_penalty: float = 0.0, first_copy: int = 0) -> None:
        """
        ``num_envs`` matches seeded from ``seed``, stepped by ``num_threads`` threads (default:
        the CPUs available).

        Args:
            autoreset: 'next_step', 'same_step' or 'disabled' (Gymnasium's meanings).
            max_steps: truncate an episode after that many steps (None: no limit).
            rules, timing: the matches' ``Rules`` and ``Timing`` (``Rules()`` and ``Timing()``
                by default).
            illegal: 'raise' refuses a step holding an action that does not fit (ValueError,
                nothing moves); 'substitute' plays the lowest legal move of a due player
                instead, subtracts ``illegal_penalty`` from its reward and marks it in
                ``substituted``.
            first_copy: the environment copy of match 0 (``episode_seed``'s ``copy``): match
                ``i`` plays ``episode_seed(seed, first_copy + i, episode)``.

        Raises:
            ValueError: a value out of range, an unknown mode, rules no batch can play.
            TypeError: an argument of the wrong type.
        """

    def step(self, actions: numpy.typing.ArrayLike) -> tuple[tuple[numpy.ndarray, ...], numpy.ndarray, numpy.ndarray, numpy.ndarray]:
        """
        Advance every match to its next decision, as ``Match.step`` does.

        ``actions[i, p]`` is player ``p``'s action in match ``i``: a move (0..21, an index into
        ``velmo.Hand.enumerate()``) of a due player or 22 (wait) of one who is not. Returns
        ((field, pairs, pending_ojama), rewards, terminated, truncated), the batch's own
        arrays. A match waiting for its reset ignores its actions (any value in range).

        Raises:
            ValueError: actions of the wrong shape or dtype, out of range, or (with
                ``illegal='raise'``) an action that does not fit anywhere; then nothing changes.
        """

    def reset(self, seed: int | Sequence[int] | numpy.ndarray | None = None) -> tuple[numpy.ndarray, ...]:
        """
        Start every match's next episode. With one ``seed`` the batch is reseeded as if new;
        with one seed per match, match ``i`` starts episode 0 of ``seed[i]``.

        Returns (field, pairs, pending_ojama).
        """

    @property
    def versus(self) -> bool:
        """True: the batch holds two-player matches."""

    @property
    def rules(self) -> Rules:
        """The matches' rules."""

    @property
    def timing(self) -> Timing:
        """The matches' timing."""

    def match(self, index: int) -> Match:
        """A copy of match ``index``."""

    def __repr__(self) -> str: ...

    @property
    def num_envs(self) -> int:
        """The number of matches."""

    @property
    def num_threads(self) -> int:
        """The worker threads (the caller's included)."""

    @property
    def seed(self) -> int:
        """The batch seed (after a reset with one seed per item: item 0's)."""

    @property
    def first_copy(self) -> int:
        """The environment copy of item 0."""

    @property
    def visible(self) -> int:
        """How many next pairs are shown."""

    @property
    def colors(self) -> int:
        """The number of colours."""

    @property
    def autoreset(self) -> str:
        """The auto-reset mode."""

    @property
    def max_steps(self) -> int | None:
        """The episode length limit, or None."""

    @property
    def illegal(self) -> str:
        """What an illegal action does: 'raise' or 'substitute'."""

    @property
    def illegal_penalty(self) -> float:
        """Subtracted from the reward of a substituted action."""

    def __len__(self) -> int: ...

    @property
    def field(self) -> numpy.ndarray:
        """(N, 2, 14, 6) uint8 fields."""

    @property
    def pairs(self) -> numpy.ndarray:
        """(N, 2, 1 + visible, 2) uint8 pairs (child, axis)."""

    @property
    def rewards(self) -> numpy.ndarray:
        """
        (N, 2) float32: +1 / -1 for the winner / loser in the step a match ends, else 0; less
        ``illegal_penalty`` where ``substituted``.
        """

    @property
    def terminated(self) -> numpy.ndarray:
        """(N,) bool: the match was won, or drawn by both topping out."""

    @property
    def truncated(self) -> numpy.ndarray:
        """
        (N,) bool: cut at ``max_steps`` or undecided at the rules' frame limit.
        """

    @property
    def action_masks(self) -> numpy.ndarray:
        """(N, 2, 23) int8: a due player's legal moves, else only 22 (wait)."""

    @property
    def chain(self) -> numpy.ndarray:
        """(N, 2) int32: the chain of the last move, 0 for a player who waited."""

    @property
    def score(self) -> numpy.ndarray:
        """(N, 2) int64: each player's total score."""

    @property
    def episode_steps(self) -> numpy.ndarray:
        """(N,) int64: steps in the episode."""

    @property
    def final_field(self) -> numpy.ndarray:
        """same_step mode: the last fields of the matches that ended this step."""

    @property
    def final_pairs(self) -> numpy.ndarray:
        """same_step mode: the last pairs of the matches that ended this step."""

    @property
    def final_pending_ojama(self) -> numpy.ndarray:
        """
        same_step mode: the last pending ojama of the matches that ended this step.
        """

    @property
    def seeds(self) -> numpy.ndarray:
        """
        (N,) uint64: the seed of each match's current episode (``Match(seeds[i])``).
        """

    @property
    def substituted(self) -> numpy.ndarray:
        """
        (N, 2) bool: the action did not fit and the lowest legal move was played
        (``illegal='substitute'``).
        """

    @property
    def pending_ojama(self) -> numpy.ndarray:
        """(N, 2) uint32 ojama pending against each player."""

    @property
    def due(self) -> numpy.ndarray:
        """(N, 2) bool: the player must move now (its action a move, not 22)."""

    @property
    def ojama_sent(self) -> numpy.ndarray:
        """
        (N, 2) uint32: ojama the player committed against the opponent in the step.
        """

    @property
    def ojama_received(self) -> numpy.ndarray:
        """(N, 2) uint32: ojama fallen on the player's field in the step."""

    @property
    def winner(self) -> numpy.ndarray:
        """
        (N,) int8: 0 or 1 for a match won (in the step, or waiting for its reset), -1 for a draw
        or a match in play.
        """

    @property
    def frame(self) -> numpy.ndarray:
        """(N,) int64: each current match's frame."""

class VecGame:
    """
    A batch of one-player games stepped together in native code without the interpreter lock.

    Game ``i`` is ``Game(seeds[i], colors=colors, visible=visible)``. The seeds derive from
    ``seed`` and the index only, so results never depend on ``num_threads``. Every output is a
    read-only NumPy array owned by the batch and rewritten in place by each ``step`` and
    ``reset``: copy what you keep. ``VecGame(n, versus=True, ...)`` makes a ``VecMatch``, the
    batch of two-player matches.
    """

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        """Nothing: ``__new__`` makes the batch whole."""

    def step(self, actions: numpy.typing.ArrayLike) -> tuple[tuple[numpy.ndarray, ...], numpy.ndarray, numpy.ndarray, numpy.ndarray]:
        """
        Play one move in every game: ``actions[i]`` (an index into ``velmo.Hand.enumerate()``) is
        game ``i``'s. Returns ((field, pairs), rewards, terminated, truncated), the batch's own
        arrays. A game waiting for its reset ignores its action (any value in range).

        Raises:
            ValueError: actions of the wrong shape or dtype, out of range, or (with
                ``illegal='raise'``) an illegal action anywhere; then nothing changes.
        """

    def sample_actions(self) -> numpy.ndarray:
        """
        A random legal action for every game, drawn in native code: uniform over the moves
        ``action_masks`` allows (any of the 22 for a game waiting for its reset).

        Game ``i`` draws from its own seeded stream, restarted by ``reset(seed=...)``, so the
        draws never depend on ``num_threads``. Returns the batch's own read-only (N,) int64
        array, rewritten by the next call: ``step(batch.sample_actions())`` plays them.
        """

    def reset(self, seed: int | Sequence[int] | numpy.ndarray | None = None) -> tuple[numpy.ndarray, ...]:
        """
        Start every game's next episode. With one ``seed`` the batch is reseeded as if new; with
        one seed per game, game ``i`` starts episode 0 of ``seed[i]``, the game a single
        environment of its copy plays after ``reset(seed=seed[i])``.

        Returns (field, pairs).
        """

    @property
    def versus(self) -> bool:
        """False: the batch holds one-player games (see VecMatch)."""

    @property
    def reward(self) -> str:
        """The form of each move's reward: 'score', 'log_score' or 'chain'."""

    def game(self, index: int) -> Game:
        """A copy of game ``index``."""

    def __repr__(self) -> str: ...

    @property
    def num_envs(self) -> int:
        """The number of games."""

    @property
    def num_threads(self) -> int:
        """The worker threads (the caller's included)."""

    @property
    def seed(self) -> int:
        """The batch seed (after a reset with one seed per item: item 0's)."""

    @property
    def first_copy(self) -> int:
        """The environment copy of item 0."""

    @property
    def visible(self) -> int:
        """How many next pairs are shown."""

    @property
    def colors(self) -> int:
        """The number of colours."""

    @property
    def autoreset(self) -> str:
        """The auto-reset mode."""

    @property
    def max_steps(self) -> int | None:
        """The episode length limit, or None."""

    @property
    def illegal(self) -> str:
        """What an illegal action does: 'raise' or 'substitute'."""

    @property
    def illegal_penalty(self) -> float:
        """Subtracted from the reward of a substituted action."""

    def __len__(self) -> int: ...

    @property
    def field(self) -> numpy.ndarray:
        """(N, 14, 6) uint8 fields."""

    @property
    def pairs(self) -> numpy.ndarray:
        """(N, 1 + visible, 2) uint8 pairs (child, axis)."""

    @property
    def rewards(self) -> numpy.ndarray:
        """
        (N,) float32: each move's reward (its score unless ``reward`` says otherwise), less
        ``illegal_penalty`` where ``substituted``.
        """

    @property
    def terminated(self) -> numpy.ndarray:
        """(N,) bool: the game is over."""

    @property
    def truncated(self) -> numpy.ndarray:
        """(N,) bool: cut at ``max_steps``."""

    @property
    def action_masks(self) -> numpy.ndarray:
        """
        (N, 22) int8: 1 for the legal moves (all 1 for a game waiting for its reset, whose
        action is ignored).
        """

    @property
    def chain(self) -> numpy.ndarray:
        """(N,) int32: the chain of the last move."""

    @property
    def score(self) -> numpy.ndarray:
        """(N,) int64: each game's total score."""

    @property
    def move_score(self) -> numpy.ndarray:
        """
        (N,) int64: the score of each game's last move (0 for a game reset in the step).
        """

    @property
    def episode_steps(self) -> numpy.ndarray:
        """(N,) int64: steps in the episode."""

    @property
    def final_field(self) -> numpy.ndarray:
        """same_step mode: the last field of the games that ended this step."""

    @property
    def final_pairs(self) -> numpy.ndarray:
        """same_step mode: the last pairs of the games that ended this step."""

    @property
    def seeds(self) -> numpy.ndarray:
        """
        (N,) uint64: the seed of each game's current episode (``Game(seeds[i])``).
        """

    @property
    def substituted(self) -> numpy.ndarray:
        """
        (N,) bool: the action was illegal and the lowest legal move was played
        (``illegal='substitute'``).
        """

def detect_chains(field: velmo.Field, max_added: int, build_fields: bool) -> list[tuple[int, int, int, int, int, velmo.Field | None]]:
    """
    The potential chains of a field as (column, color, added, chain, score, field) tuples, by column then colour (velmo_game.search.detect_chains shapes them).
    """

def best_chain(field: velmo.Field, max_added: int) -> tuple[int, int, int, int, int] | None:
    """
    The best potential chain as (column, color, added, chain, score), or None.
    """

def expand(field: velmo.Field, pair: velmo.Pair) -> tuple[tuple[int, ...], tuple[velmo.Field, ...], tuple[int, ...], tuple[int, ...], tuple[bool, ...]]:
    """
    The legal children of a pair placement as (moves, fields, chains, scores, game_over) tuples.
    """

def expand_batch_planes(fields: numpy.typing.NDArray[numpy.uint64], pairs: numpy.typing.NDArray[numpy.uint8], out_fields: numpy.typing.NDArray[numpy.uint64], out_legal: numpy.typing.NDArray[numpy.bool_], out_chains: numpy.typing.NDArray[numpy.uint32], out_scores: numpy.typing.NDArray[numpy.uint32], out_game_over: numpy.typing.NDArray[numpy.bool_]) -> int:
    """
    Expands every row into the output buffers with the interpreter lock released; returns -1, or the first row whose field or pair is invalid (that row and later ones are not written). Every array must already have its dtype and be C-contiguous (TypeError otherwise).
    """

def beam_search_move(game: Game, width: int, depth: int, seed: int, node_budget: int, time_budget_ms: float, fire_score: int, last_turn: int | None, end_turn: int | None, max_added: int, queues: int, threads: int, discount: float, weights: dict[str, float] | None, legacy: bool, fixed_queues: bool, settle_queues: int = ..., incoming_ojama: int = 0, incoming_level: int = 0, target_points: int = ..., max_ojama_per_fall: int = ..., in_match: bool = False) -> tuple[int, int, int]:
    """
    The beam-search player's move for a game (-1 when none), the children evaluated and the depth reached; runs without the interpreter lock and stops early on Ctrl-C. In a match, ``incoming_ojama`` fall after the placement ``incoming_level`` placements from now (0: this one), less what chains fired before then offset at ``target_points`` each, at most ``max_ojama_per_fall`` at once; ``in_match`` weighs the spawn column's costs by the ``match_spawn`` weight.
    """

def beam_defaults() -> dict[str, Any]:
    """The beam player's default options and evaluation weights."""

def evaluate_features(field: velmo.Field, max_added: int, weights: dict[str, float] | None) -> dict[str, float]:
    """
    The beam player's evaluation of a quiet field, feature by feature, with its value.
    """

BEAM_WIDTH: int = 96

BEAM_DEPTH: int = 12

BEAM_SEED: int = 0

BEAM_NODE_BUDGET: int = 0

BEAM_TIME_BUDGET_MS: float = 0.0

BEAM_FIRE_SCORE: int = 90000

BEAM_MAX_ADDED: int = 3

BEAM_QUEUES: int = 4

BEAM_THREADS: int = 1

BEAM_DISCOUNT: float = 0.97

BEAM_FIXED_QUEUES: bool = False

BEAM_SETTLE_QUEUES: int = 2

SPAWN_COLUMN: int = 2

DEATH_HEIGHT: int = 12

OJAMA_PER_ROW: int = 6

SPAWN_DROP_MOVE: int = 2

THREAT_OJAMA: int = 12

SPENT_OJAMA: int = 12

def field_hash(field: velmo.Field) -> int:
    """The stable 64-bit hash of a field's planes."""

def vanish_groups(field: velmo.Field) -> velmo.Field:
    """
    A copy of the field with the groups of its next chain step (and the ojama they touch) emptied, before anything falls.
    """

def death_cell() -> tuple[int, int]:
    """
    The cell whose filling ends a game, as (x, y) of velmo.Field (y = 0 is the 14th row).
    """

class Rules:
    """
    The rules of a match; the defaults are the arcade's versus rule.

    A frozen value: compare with ``==``, hash, copy and pickle it.
    """

    def __init__(self, *, target_points: int = 70, all_clear_bonus: int = 2100, max_ojama_per_fall: int = 30, offsetting: bool = True, frame_limit: int | None = 36000, margin_time: int | None = 5760, margin_interval: int = 960) -> None:
        """
        Rules with the given values (every count at most 1,000,000).

        Args:
            target_points: points per ojama: a chain step's score plus the leftover, divided
                by the target points in force, is the ojama it produces; the remainder is the
                new leftover (>= 1).
            all_clear_bonus: points added to the first chain step fired after an all clear,
                converted to ojama with it.
            max_ojama_per_fall: at most this many pending ojama fall at once (>= 1).
            offsetting: whether produced ojama first cancels the producer's own pending ojama.
            frame_limit: the match is a draw when no one has lost before this frame (None: no
                limit; the default is ten minutes at 60 frames per second).
            margin_time: from this frame on, the target points fall every ``margin_interval``
                frames through ``MARGIN_TARGET_POINTS`` (None: never).
            margin_interval: frames between two falls of the target points (>= 1).

        Raises:
            ValueError: a count out of range.
            TypeError: a value of the wrong type.
        """

    @property
    def target_points(self) -> int:
        """Points per ojama before margin time."""

    @property
    def all_clear_bonus(self) -> int:
        """Points added to the first chain step after an all clear."""

    @property
    def max_ojama_per_fall(self) -> int:
        """At most this many ojama fall at once."""

    @property
    def offsetting(self) -> bool:
        """Whether produced ojama cancels pending ojama first."""

    @property
    def frame_limit(self) -> int | None:
        """The frame at which an undecided match is a draw (None: no limit)."""

    @property
    def margin_time(self) -> int | None:
        """
        The frame from which the target points fall (None: margin time is off).
        """

    @property
    def margin_interval(self) -> int:
        """Frames between two falls of the target points."""

    def target_points_at(self, frame: int) -> int:
        """
        The target points in force at ``frame``: ``target_points`` before margin time, then
        the smaller of it and the entry of ``MARGIN_TARGET_POINTS`` for the intervals begun.
        """

    def __eq__(self, other: object, /) -> bool:
        """Whether both rules are alike."""

    def __hash__(self) -> int:
        """A hash of the values."""

    def __repr__(self) -> str: ...

    def __copy__(self) -> Rules:
        """A copy."""

    def __deepcopy__(self, memo: dict[int, object], /) -> Rules:
        """A copy."""

    def __getstate__(self) -> tuple[int, int, int, bool, int | None, int | None, int]:
        """The pickle state: the values in constructor order."""

    def __setstate__(self, state: tuple[int, int, int, bool, int | None, int | None, int], /) -> None:
        """Restore pickled rules (ValueError for a state that is not one)."""

MARGIN_TARGET_POINTS: tuple[int, ...] = (70, 52, 34, 25, 16, 12, 8, 6, 4, 3, 2, 1)

ALL_CLEAR_BONUS: int = 2100

class Timing:
    """
    The frame counts of a match (60 frames per second). The defaults are the commonly used
    measurements of the arcade's timing: approximate, and meant to be replaced at will.

    A frozen value: compare with ``==``, hash, copy and pickle it.
    """

    def __init__(self, *, spawn_delay: int = 12, move_frames: Sequence[int] = (0, 4, 6, 8, 10, 12), drop_frames_per_row: int = 2, landing_frames: int = 20, slow_fall_frames: Sequence[int] = (0, 10, 16, 22, 24, 28, 32, 34, 36, 40, 42, 44, 46, 48, 50, 52), vanish_frames: int = 50, chain_fall_frames_per_row: int = 2, chain_landing_frames: int = 20, ojama_landing_thresholds: Sequence[int] = (3, 18), ojama_landing_frames: Sequence[int] = (8, 24, 32)) -> None:
        """
        Frame counts with the given values (each 0..1,000,000).

        Args:
            spawn_delay: frames from a turn's settling to the next pair's appearance.
            move_frames: 6 counts: moving the pair 0..5 columns sideways.
            drop_frames_per_row: per row of the pair's fall with the drop button held.
            landing_frames: a landing (grounding): the pair's, and a split pair's second puyo's.
            slow_fall_frames: 16 counts: a lone puyo's fall of 0..15 rows (the second puyo of
                a split pair, falling ojama).
            vanish_frames: the vanishing of a chain step.
            chain_fall_frames_per_row: per row of the longest fall after a vanishing.
            chain_landing_frames: the landing after that fall, if anything fell.
            ojama_landing_thresholds: 2 ascending counts splitting the ojama landings.
            ojama_landing_frames: 3 counts: landing of up to the first threshold of ojama, up
                to the second, more.

        Raises:
            ValueError: a count out of range, thresholds out of order.
            TypeError: a value of the wrong type or a sequence of the wrong length.
        """

    @property
    def spawn_delay(self) -> int:
        """Frames from settling to the next pair."""

    @property
    def move_frames(self) -> tuple[int, ...]:
        """Frames of 0..5 columns of sideways travel."""

    @property
    def drop_frames_per_row(self) -> int:
        """Frames per row of a pair's drop."""

    @property
    def landing_frames(self) -> int:
        """Frames of a pair's landing."""

    @property
    def slow_fall_frames(self) -> tuple[int, ...]:
        """Frames of a lone puyo's fall of 0..15 rows."""

    @property
    def vanish_frames(self) -> int:
        """Frames of a chain step's vanishing."""

    @property
    def chain_fall_frames_per_row(self) -> int:
        """Frames per row of the longest fall in a chain step."""

    @property
    def chain_landing_frames(self) -> int:
        """Frames of a chain step's landing, if anything fell."""

    @property
    def ojama_landing_thresholds(self) -> tuple[int, ...]:
        """The ojama counts splitting the landings."""

    @property
    def ojama_landing_frames(self) -> tuple[int, ...]:
        """Frames of the three ojama landings."""

    def placement_frames(self, field: velmo.Field, move: int) -> int:
        """
        The frames a placement of ``move`` takes on ``field``: sideways travel, the drop,
        the landing, and on a split the second puyo's fall and landing (ValueError for an
        illegal move).
        """

    def __eq__(self, other: object, /) -> bool:
        """Whether both timings are alike."""

    def __hash__(self) -> int:
        """A hash of the values."""

    def __repr__(self) -> str: ...

    def __copy__(self) -> Timing:
        """A copy."""

    def __deepcopy__(self, memo: dict[int, object], /) -> Timing:
        """A copy."""

    def __getstate__(self) -> tuple[int, tuple[int, ...], int, int, tuple[int, ...], int, int, int, tuple[int, ...], tuple[int, ...]]:
        """The pickle state: the values in constructor order."""

    def __setstate__(self, state: tuple[int, tuple[int, ...], int, int, tuple[int, ...], int, int, int, tuple[int, ...], tuple[int, ...]], /) -> None:
        """Restore a pickled timing (ValueError for a state that is not one)."""

class MatchPlayer:
    """
    One player of a match, read live from it (``match.players[i]``); the match holds the state.
    """

    @property
    def index(self) -> int:
        """The player's index, 0 or 1."""

    @property
    def field(self) -> velmo.Field:
        """
        A copy of the field as a ``velmo.Field`` (during a chain: the field after the whole chain).
        """

    @property
    def current_pair(self) -> velmo.Pair:
        """The pair the player places next."""

    @property
    def next_pairs(self) -> tuple[velmo.Pair, ...]:
        """The visible pairs after the current one, nearest first."""

    @property
    def sequence(self) -> PairSequence:
        """The player's pair sequence (a copy)."""

    @property
    def turn(self) -> int:
        """The number of pairs placed."""

    @property
    def score(self) -> int:
        """The total score."""

    @property
    def leftover(self) -> int:
        """Score not yet converted to ojama (less than the target points)."""

    @property
    def pending_ojama(self) -> int:
        """Ojama committed against this player that has not fallen yet."""

    @property
    def ojama_in_flight(self) -> int:
        """
        Ojama the player's running chain has produced; committed when the chain ends.
        """

    @property
    def all_clear(self) -> bool:
        """Whether the player holds an all-clear bonus for its next chain."""

    @property
    def lost(self) -> bool:
        """Whether the player has topped out."""

    @property
    def is_due(self) -> bool:
        """Whether the player must move now."""

    @property
    def next_decision_frame(self) -> int | None:
        """
        The frame the player next needs a move (the current frame when due), or None while
        its chain or ojama fall is still to come (or once the match is over).
        """

    @property
    def chain_end_frame(self) -> int | None:
        """
        The frame the player's running chain ends and its ojama is committed, or None.
        """

    def legal_moves(self) -> list[int]:
        """The legal moves now, ascending (empty unless the player is due)."""

    def action_mask(self) -> numpy.typing.NDArray[numpy.int8]:
        """
        A ``(22,)`` int8 array: 1 where the move is legal now (all 0 unless due).
        """

    def __repr__(self) -> str: ...

class PlayerEvents:
    """
    What happened to one player during one ``Match.step``: its move, if it moved, resolved
    at once (placement and whole chain, with their frames), and whatever of its turns fell in
    the step's time: ojama committed (offset, sent) and ojama fallen on its field.
    """

    @property
    def player(self) -> int:
        """The player's index."""

    @property
    def moved(self) -> bool:
        """Whether the player moved in the step."""

    @property
    def move(self) -> int | None:
        """The move made, or None."""

    @property
    def placement_frames(self) -> int:
        """Frames of the placement: sideways travel, drop, landing, split."""

    @property
    def chain(self) -> int:
        """Chain steps the move fired (0: none)."""

    @property
    def score(self) -> int:
        """The move's score: the chain's, and the all-clear bonus it used."""

    @property
    def step_scores(self) -> tuple[int, ...]:
        """The score of each chain step."""

    @property
    def chain_step_frames(self) -> tuple[int, ...]:
        """Frames of each chain step: vanishing, the longest fall, landing."""

    @property
    def chain_frames(self) -> int:
        """Frames of the whole chain."""

    @property
    def all_clear(self) -> bool:
        """Whether the move left the counted area empty (earning the bonus)."""

    @property
    def all_clear_bonus_used(self) -> bool:
        """Whether the move's chain used a held all-clear bonus."""

    @property
    def all_clear_bonus(self) -> int:
        """Points a held all-clear bonus added to the move's chain (0 if none)."""

    @property
    def ojama_produced(self) -> int:
        """
        Ojama the move's chain produced, bonus included; committed when the chain ends.
        """

    @property
    def offset(self) -> int:
        """
        Ojama committed in the step that cancelled the player's own pending ojama.
        """

    @property
    def ojama_sent(self) -> int:
        """Ojama committed in the step that went to the opponent's pending count."""

    @property
    def ojama_received(self) -> int:
        """Ojama that fell on the player's field in the step."""

    @property
    def ojama_discarded(self) -> int:
        """Ojama of a fall that found no room below the 14th row."""

    @property
    def ojama_fall_frames(self) -> int:
        """Frames of the ojama fall."""

    @property
    def lost(self) -> bool:
        """Whether the player topped out in the step."""

    def __repr__(self) -> str: ...

class StepResult:
    """
    What one ``Match.step`` did: per-player events and the time it covered.
    """

    @property
    def players(self) -> tuple[PlayerEvents, PlayerEvents]:
        """The events of player 0 and player 1."""

    def __getitem__(self, player: int, /) -> PlayerEvents:
        """The events of one player."""

    @property
    def frame_before(self) -> int:
        """The match frame the step started at."""

    @property
    def frame(self) -> int:
        """The match frame after the step."""

    @property
    def frames(self) -> int:
        """The frames the step covered."""

    @property
    def is_over(self) -> bool:
        """Whether the match ended in the step."""

    @property
    def winner(self) -> int | None:
        """The winner once the match is over (None: a draw, or not over)."""

    def __repr__(self) -> str: ...

    __iter__: None = None

class Match:
    """
    A versus match of two players in frames of time: ojama, offsetting, the all-clear bonus.

    ``to_move()`` names the players who must choose now; ``step({player: move})`` takes a
    move (an index into ``velmo.Hand.enumerate()``) for exactly those, advances time to the
    next decision and returns a ``StepResult``. A match is a plain value: ``clone()``,
    ``copy``, ``deepcopy`` and ``pickle`` reproduce it exactly.
    """

    def __init__(self, seed: int = 0, *, rules: Rules | None = None, timing: Timing | None = None, fields: Sequence[velmo.Field] | None = None, sequences: Sequence[PairSequence | Sequence[velmo.Pair]] | None = None, colors: int = 4, visible: int = 2) -> None:
        """
        A new match at frame 0, both players due.

        Args:
            seed: seeds both players' pairs, ``PairSequence(seed, colors=colors)`` (the pairs of
                ``Game(seed)``), and the columns of falling ojama.
            rules, timing: ``Rules()`` and ``Timing()`` by default.
            fields: one ``velmo.Field`` per player to start from (empty fields by default); a
                field that is not settled is settled first: gravity, then any chain it holds
                runs unscored.
            sequences: one ``PairSequence`` or list of ``velmo.Pair`` per player.
            visible: how many next pairs the views and observations show.

        Raises:
            ValueError: a negative seed, colors other than 3 or 4, visible outside 0..128, a
                field no game can play on.
            TypeError: arguments of the wrong type, or not one per player.
        """

    @property
    def players(self) -> tuple[MatchPlayer, MatchPlayer]:
        """The two players, as live read-only views."""

    @property
    def frame(self) -> int:
        """The current frame (60 per second)."""

    @property
    def is_over(self) -> bool:
        """Whether the match has ended."""

    @property
    def winner(self) -> int | None:
        """0 or 1 once a player has won; None for a draw or a match not over."""

    @property
    def rules(self) -> Rules:
        """The match's rules."""

    @property
    def timing(self) -> Timing:
        """The match's timing."""

    @property
    def visible(self) -> int:
        """How many next pairs are shown."""

    def to_move(self) -> list[int]:
        """
        The players who must move now, ascending (empty once the match is over).
        """

    def legal_moves(self, player: int) -> list[int]:
        """
        Player ``player``'s legal moves now, ascending (empty unless it is due); the same as
        ``match.players[player].legal_moves()``.
        """

    def step(self, moves: Mapping[int, int]) -> StepResult:
        """
        Make the moves ``{player: move}`` of exactly the players in ``to_move()`` and advance
        to the next decision or the end.

        Raises:
            ValueError: a move for a player not due, a missing move, a move outside 0..21, an
                illegal move, or any move once the match is over; the match is then unchanged.
            TypeError: moves that are not a mapping of ints.
        """

    def observation(self, player: int) -> dict[str, numpy.typing.NDArray[Any]]:
        """
        Player ``player``'s view as NumPy arrays: ``field`` and ``opponent_field`` ``(14, 6)``
        uint8 (``PuyoType`` numbers, row 0 the 14th row), ``pairs`` and ``opponent_pairs``
        ``(1 + visible, 2)`` uint8 (child, axis), ``pending_ojama`` ``(2,)`` uint32 (against
        the player, against the opponent).
        """

    def clone(self) -> Match:
        """An independent copy (a match is a plain value)."""

    def __copy__(self) -> Match:
        """An independent copy."""

    def __deepcopy__(self, memo: dict[int, object], /) -> Match:
        """An independent copy."""

    def __getstate__(self) -> tuple[int, tuple[object, ...], tuple[object, ...], int, int, bool, int | None, int, tuple[tuple[object, ...], tuple[object, ...]]]:
        """
        The pickle state: (version, rules, timing, visible, frame, is_over, winner, ojama
        generator state, the two players' states).
        """

    def __setstate__(self, state: tuple[int, tuple[object, ...], tuple[object, ...], int, int, bool, int | None, int, tuple[tuple[object, ...], tuple[object, ...]]], /) -> None:
        """Restore a pickled match (ValueError for a state that is not one)."""

    def __eq__(self, other: object, /) -> bool:
        """Whether both matches stand exactly alike."""

    def __repr__(self) -> str: ...

    __hash__: ClassVar[None]  # type: ignore[assignment]
