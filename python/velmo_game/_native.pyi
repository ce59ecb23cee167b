"""
The native part of velmo_game: pair sequences and games over the velmo core.
"""

from collections.abc import Sequence
from typing import ClassVar, Literal, SupportsIndex

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
        """This move's score: the whole chain's."""

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

    def legal_moves(self) -> list[int]:
        """The legal moves, ascending (empty once the game is over)."""

    def action_mask(self) -> numpy.typing.NDArray[numpy.bool_]:
        """A ``(22,)`` bool array: True where the move is legal."""

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

    def __getstate__(self) -> tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool]:
        """
        The pickle state: (version, field state, sequence state, visible, turn, score, is_over).
        """

    def __setstate__(self, state: tuple[int, bytes, tuple[str, int, int, bytes], int, int, int, bool], /) -> None:
        """Restore a pickled game (ValueError for a state that is not one)."""

    def __eq__(self, other: object, /) -> bool:
        """Whether both games stand exactly alike."""

    def __repr__(self) -> str: ...

    __hash__: ClassVar[None]  # type: ignore[assignment]
