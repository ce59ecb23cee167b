"""A fast Puyo Puyo field simulator.

velmo builds playing fields, drops single puyos and pairs into them, runs the
chain reaction that follows and scores it, searches a field for the chains
that removing one group would fire, compares, pickles and prints fields.

Two field classes share one set of methods: ``Field`` (a bitboard, four
colours, has ``find_chain_by_removal``) and ``ArrayField`` (one byte per cell,
five colours including purple). Columns ``x`` run 0..5 from the left, rows
``y`` run 0..13 from the top (row 13 is the lowest row). Puyo types are passed
in as the ints of ``PuyoType``.
"""

from typing import ClassVar, Final, Literal, Protocol, SupportsIndex, TypeVar, final, overload

__all__ = [
    "__doc__",
    "Field",
    "ArrayField",
    "PuyoType",
    "ChainResult",
    "Rotation",
    "Hand",
    "Pair",
    "FoundChain",
]

_T_co = TypeVar("_T_co", covariant=True)

_RotationName = Literal["top", "TOP", "left", "LEFT", "bottom", "BOTTOM", "right", "RIGHT"]
"""The eight spellings that ``put_pair`` accepts for a rotation."""

class _SequenceLike(Protocol[_T_co]):
    """Anything with a length and integer item access: a list, a tuple, a numpy array."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _T_co: ...

@final
class Field:
    """A playing field stored as a bitboard: fast, four colours, no purple.

    The field is a grid of 6 playable columns by 14 playable rows inside a
    wall. Columns ``x`` are numbered 0..5 from the left and rows ``y`` 0..13
    from the top, so row 13 is the lowest row, row 1 the 13th row from the
    bottom and row 0 the hidden 14th row. ``x == 6`` reaches the right wall
    and ``y == 14`` the bottom wall.

    Puyo types go in and come out as the Python numbers of ``PuyoType``
    (``PuyoType.RED == 4``). ``PuyoType.PURPLE`` is refused; use
    ``ArrayField`` for purple.

    ``Field()`` takes any arguments and ignores them. Fields compare with
    ``==`` and ``!=`` (whole grid, walls and hidden rows included); ordering
    raises ``PanicException``; comparing with anything but a ``Field`` raises
    ``TypeError``. Fields are unhashable, cannot be subclassed, and pickle,
    copy and deep-copy through ``__getstate__`` / ``__setstate__``.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __new__(cls) -> Field:
        """Return a new empty field: walls around, every playable cell EMPTY.

        Any arguments are accepted and ignored (``Field(1, x=2)`` is an empty
        field too).
        """

    @classmethod
    def from_str_array(cls, s: _SequenceLike[str]) -> Field:
        """Build a field from its text form, one string per row, top row first.

        The last string is the lowest row (``y == 13``), the one before it
        row 12, and so on; character ``i`` of a string is column ``i``. Rows
        and columns the strings do not reach stay empty, so a low field needs
        only its lowest rows. Characters: ``" "`` or ``"_"`` EMPTY, ``"O"``
        OJAMA, ``"W"`` WALL, ``"R"`` RED, ``"B"`` BLUE, ``"Y"`` YELLOW,
        ``"G"`` GREEN. Use at most 14 strings of at most 6 characters.

        Args:
            s: a sequence of strings (a list or tuple; a single ``str`` is
                taken as a sequence of one-character rows).

        Returns:
            A new ``Field``.

        Raises:
            TypeError: ``s`` is not a sequence or holds something that is
                not a ``str``.
            PanicException: a character is not in the table above (``"P"``
                and lower-case letters included); the message ends with
                ``InvalidPuyoTypeCharacter('P')`` for the character ``P``.
        """

    @classmethod
    def from_array(cls, s: _SequenceLike[_SequenceLike[SupportsIndex]]) -> Field:
        """Build a field from its array form: 6 columns of 14 puyo numbers.

        ``s[x][y]`` is the cell at column ``x`` (0..5, left to right) and row
        ``y`` (0..13, top to bottom), as a ``PuyoType`` number. A list of
        lists, a tuple of tuples and a numpy integer array of shape (6, 14)
        are all accepted. ``Field.from_array(f.to_array())`` rebuilds ``f``.

        Args:
            s: a sequence of 6 sequences of 14 integers.

        Returns:
            A new ``Field``.

        Raises:
            RuntimeError: "Invalid size of array" when there are not 6
                columns or a column does not hold 14 entries.
            PanicException: "not implemented" for a number that is no
                ``Field`` puyo type (3, 8 = PURPLE, or above 8).
            TypeError: ``s`` or a column is not a sequence, or an entry is
                not an integer.
            OverflowError: an entry is negative.
        """

    def clone(self) -> Field:
        """Return an independent copy of this field."""

    def get(self, x: SupportsIndex, y: SupportsIndex) -> int:
        """Return the puyo type at column ``x``, row ``y`` as a ``PuyoType`` number.

        ``Field.get`` reports the Python numbers (RED is 4), unlike
        ``ArrayField.get``. ``x == 6`` or ``y == 14`` read a wall (2).

        Raises:
            OverflowError: a negative coordinate.
        """

    def set(self, x: SupportsIndex, y: SupportsIndex, value: SupportsIndex) -> Field:
        """Write the puyo type ``value`` into the cell at ``x``, ``y``.

        Whatever the cell held is replaced; nothing falls. Returns this same
        field, so calls chain: ``f.set(0, 13, RED).set(1, 13, BLUE)``.

        Raises:
            PanicException: "not implemented" for a number that is no
                ``Field`` puyo type (3, 8 = PURPLE, or above 8).
        """

    def put(self, x: SupportsIndex, value: SupportsIndex) -> Field:
        """Drop one puyo of type ``value`` into column ``x``.

        It lands in the lowest empty cell of the column. A full column is
        left as it is, without an error. Nothing vanishes. Returns this same
        field.

        Raises:
            PanicException: "not implemented" for a number that is no
                ``Field`` puyo type (3, 8 = PURPLE, or above 8).
        """

    def to_array(self) -> list[list[int]]:
        """Return the array form: 6 lists (columns left to right) of 14 ints (rows top to bottom).

        ``f.to_array()[x][y] == f.get(x, y)``; walls are not included.
        """

    def get_height(self, x: SupportsIndex) -> int:
        """Return the height of column ``x``: the unbroken run of occupied cells from the bottom, 0..14."""

    def get_num_puyos(self) -> int:
        """Return the number of occupied cells among the 6 x 13 lowest playable cells.

        Colours, ojama and walls written into that area count; the hidden
        14th row (``y == 0``) does not.
        """

    def is_all_clear(self) -> bool:
        """Return ``True`` when no cell below the hidden 14th row is occupied."""

    def has_type(self, puyotype: SupportsIndex) -> bool:
        """Return whether any cell of the whole grid, walls included, holds ``puyotype``.

        So ``has_type(PuyoType.WALL)`` is true for every field with its walls.

        Raises:
            PanicException: "not implemented" for a number that is no
                ``Field`` puyo type.
        """

    def put_pair(self, x: SupportsIndex, rotation: _RotationName, pair: Pair) -> Field:
        """Place ``pair`` with its axis puyo in column ``x`` and its child at ``rotation``.

        ``rotation`` is "top", "left", "bottom" or "right" (or the same in
        upper case): where the child sits next to the axis. Both puyos drop
        to the lowest empty cell of their columns. Nothing vanishes: call
        ``chain()`` afterwards to play the move out. Returns this same field.

        Raises:
            RuntimeError: the placement is not possible; the field is
                unchanged. "Invalid put operation (left, 1)" for a child
                left of column 0 or right of column 5 (the number is
                ``x + 1``); "Invalid put operation (row=N)" with
                ``N == x + 1`` when the column is too high (top needs a
                height of at most 12, bottom at most 11, left and right at
                most 13 in both columns).
            PanicException: an unknown rotation text (such as "Top"), or a
                pair holding PURPLE.
            TypeError: ``rotation`` is not a ``str`` or ``pair`` not a
                ``Pair``.
        """

    def put_hand(self, hand: Hand, pair: Pair) -> Field:
        """Place ``pair`` as ``hand`` says: ``put_pair(hand.x, str(hand.rotation), pair)``.

        Returns this same field.

        Raises:
            RuntimeError: the placement is not possible (see ``put_pair``);
                the field is unchanged.
            PanicException: a pair holding PURPLE.
            TypeError: ``hand`` is not a ``Hand`` or ``pair`` not a ``Pair``.
        """

    def step_chain(self) -> None:
        """Run one chain step in place: remove every group of four or more, then let everything fall.

        No score is kept. A group formed by the fall stays until the next
        call.
        """

    def chain(self) -> ChainResult:
        """Run the whole chain reaction in place and return its length and score.

        Floating puyos settle first; then groups of four or more of one
        colour in the twelve lowest rows vanish, with the ojama touching
        them, everything above falls, and so on until nothing changes.
        Calling ``chain()`` again on the result returns chain 0, score 0.
        """

    def equals_without_fuzzy(self, other: Field) -> bool:
        """Compare the twelve lowest rows of the six playable columns with ``other``.

        Unlike ``==``, the 13th and 14th rows (``y`` 0 and 1) and the walls
        are ignored.

        Raises:
            TypeError: ``other`` is not a ``Field``.
        """

    def get_pretty_string(self) -> str:
        """Return a text picture of the playable area for printing.

        Fourteen lines, top row first, each of six two-character cells
        ("__" EMPTY, "R_" RED, "O_" OJAMA, ...) and a line feed, then one
        more line feed. Each non-empty cell may carry ANSI colours, decided
        once per process by ``CLICOLOR``, ``CLICOLOR_FORCE``, ``NO_COLOR``
        and whether standard output is a terminal.
        """

    def find_chain_by_removal(self) -> list[FoundChain]:
        """Search for the chains that removing one group would fire.

        For every group of one colour that touches an empty cell, a copy of
        the field loses that whole group, lets the rest fall and runs the
        complete chain; every trial that scores is reported. The field
        itself is not changed. The order is the search order: columns 3, 4,
        5, then 0, 1, 2, each from the bottom up, by the first cell of each
        group. Returns an empty list when nothing is found.
        """

    def __setstate__(self, state: bytes) -> None:
        """Replace this field by the one encoded in ``state`` (from ``__getstate__``).

        Raises:
            TypeError: ``state`` is not ``bytes``.
            PanicException: ``state`` is not a valid field state; the field
                is unchanged.
        """

    def __getstate__(self) -> bytes:
        """Return the field as a 56-byte state, used by pickle and copy."""

    def __eq__(self, other: object, /) -> bool:
        """Return whether every cell of the grid is the same in ``other``.

        Raises:
            TypeError: ``other`` is not a ``Field``.
        """

    def __ne__(self, other: object, /) -> bool:
        """Return whether some cell of the grid differs in ``other``.

        Raises:
            TypeError: ``other`` is not a ``Field``.
        """

@final
class ArrayField:
    """A playing field stored one byte per cell: all five colours, purple included.

    The geometry and coordinates are those of ``Field``: columns ``x``
    0..5 from the left, rows ``y`` 0..13 from the top. Puyo types go in as
    the Python numbers of ``PuyoType`` (``PuyoType.RED == 4``,
    ``PuyoType.PURPLE == 8``), but ``get`` and ``to_array`` report array
    codes, one lower for the colours: RED 3, BLUE 4, YELLOW 5, GREEN 6,
    PURPLE 7 (EMPTY 0, OJAMA 1, WALL 2 are the same).

    ``ArrayField()`` takes any arguments and ignores them. It offers the
    same methods as ``Field`` except ``find_chain_by_removal``; it compares,
    pickles and copies the same way (compared only with array fields).
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __new__(cls) -> ArrayField:
        """Return a new empty field: walls around, every playable cell EMPTY.

        Any arguments are accepted and ignored.
        """

    @classmethod
    def from_str_array(cls, s: _SequenceLike[str]) -> ArrayField:
        """Build a field from its text form, one string per row, top row first.

        As ``Field.from_str_array``, and ``"P"`` is PURPLE.

        Raises:
            TypeError: ``s`` is not a sequence of ``str``.
            PanicException: a character outside " _OWRBYGP".
        """

    @classmethod
    def from_array(cls, s: _SequenceLike[_SequenceLike[SupportsIndex]]) -> ArrayField:
        """Build a field from its array form: 6 columns of 14 ``PuyoType`` numbers.

        As ``Field.from_array``; 8 (PURPLE) is accepted. The entries are
        Python numbers, so the array codes of ``to_array`` must be mapped
        back before they can be fed in again.

        Raises:
            RuntimeError: "Invalid size of array" when there are not 6
                columns or a column does not hold 14 entries.
            PanicException: "not implemented" for 3 or a number above 8.
            TypeError: ``s`` or a column is not a sequence, or an entry is
                not an integer.
            OverflowError: an entry is negative.
        """

    def clone(self) -> ArrayField:
        """Return an independent copy of this field."""

    def get(self, x: SupportsIndex, y: SupportsIndex) -> int:
        """Return the puyo type at column ``x``, row ``y`` as an array code.

        Array codes: EMPTY 0, OJAMA 1, WALL 2, RED 3, BLUE 4, YELLOW 5,
        GREEN 6, PURPLE 7 (one lower than the ``PuyoType`` number for the
        colours).

        Raises:
            PanicException: "index out of bounds: ..." for ``x`` above 6 or
                ``y`` above 14.
        """

    def set(self, x: SupportsIndex, y: SupportsIndex, value: SupportsIndex) -> ArrayField:
        """Write the puyo type ``value`` (a ``PuyoType`` number) into the cell at ``x``, ``y``.

        Returns this same field.

        Raises:
            PanicException: "not implemented" for 3 or a number above 8;
                "index out of bounds: ..." for ``x`` above 6 or ``y`` above
                14.
        """

    def put(self, x: SupportsIndex, value: SupportsIndex) -> ArrayField:
        """Drop one puyo of type ``value`` (a ``PuyoType`` number) into column ``x``.

        It lands in the lowest empty cell; a full column is left as it is.
        Returns this same field.

        Raises:
            PanicException: "not implemented" for 3 or a number above 8;
                "index out of bounds: ..." for ``x`` above 6.
        """

    def to_array(self) -> list[list[int]]:
        """Return the array form: 6 lists (columns left to right) of 14 array codes (rows top to bottom).

        ``a.to_array()[x][y] == a.get(x, y)``: the entries are array codes
        (RED 3), not ``PuyoType`` numbers.
        """

    def get_height(self, x: SupportsIndex) -> int:
        """Return the height of column ``x``: the unbroken run of occupied cells from the bottom, 0..14.

        Raises:
            PanicException: "index out of bounds: ..." for ``x`` above 6.
        """

    def get_num_puyos(self) -> int:
        """Return the number of occupied cells among the 6 x 13 lowest playable cells."""

    def is_all_clear(self) -> bool:
        """Return ``True`` when no cell below the hidden 14th row is occupied."""

    def has_type(self, puyotype: SupportsIndex) -> bool:
        """Return whether a playable cell holds ``puyotype`` (a ``PuyoType`` number).

        Only the 6 x 14 playable cells are looked at, so
        ``has_type(PuyoType.WALL)`` is false for a new field.

        Raises:
            PanicException: "not implemented" for 3 or a number above 8.
        """

    def put_pair(self, x: SupportsIndex, rotation: _RotationName, pair: Pair) -> ArrayField:
        """Place ``pair`` with its axis puyo in column ``x`` and its child at ``rotation``.

        As ``Field.put_pair``; a pair holding PURPLE is placed too.
        Returns this same field.

        Raises:
            RuntimeError: the placement is not possible; the field is
                unchanged.
            PanicException: an unknown rotation text (such as "Top").
            TypeError: ``rotation`` is not a ``str`` or ``pair`` not a
                ``Pair``.
        """

    def put_hand(self, hand: Hand, pair: Pair) -> ArrayField:
        """Place ``pair`` as ``hand`` says. Returns this same field.

        Raises:
            RuntimeError: the placement is not possible; the field is
                unchanged.
            TypeError: ``hand`` is not a ``Hand`` or ``pair`` not a ``Pair``.
        """

    def step_chain(self) -> None:
        """Run one chain step in place: remove every group of four or more, then let everything fall."""

    def chain(self) -> ChainResult:
        """Run the whole chain reaction in place and return its length and score."""

    def equals_without_fuzzy(self, other: ArrayField) -> bool:
        """Compare the twelve lowest rows of the six playable columns with ``other``.

        Raises:
            TypeError: ``other`` is not an ``ArrayField``.
        """

    def get_pretty_string(self) -> str:
        """Return a text picture of the playable area for printing (purple shows as "P_")."""

    def __setstate__(self, state: bytes) -> None:
        """Replace this field by the one encoded in ``state`` (from ``__getstate__``).

        Raises:
            TypeError: ``state`` is not ``bytes``.
            PanicException: ``state`` is not a valid field state; the field
                is unchanged.
        """

    def __getstate__(self) -> bytes:
        """Return the field as a 512-byte state, used by pickle and copy."""

    def __eq__(self, other: object, /) -> bool:
        """Return whether every cell of the grid is the same in ``other``.

        Raises:
            TypeError: ``other`` is not an ``ArrayField``.
        """

    def __ne__(self, other: object, /) -> bool:
        """Return whether some cell of the grid differs in ``other``.

        Raises:
            TypeError: ``other`` is not an ``ArrayField``.
        """

@final
class PuyoType:
    """The puyo types as the Python numbers that every method takes.

    A namespace of eight int constants; it cannot be instantiated. There is
    no type numbered 3: the colours are 4..8. ``Field`` reports these same
    numbers; ``ArrayField.get``, ``ArrayField.to_array`` and ``Pair``
    report array codes instead, one lower for the colours (RED 3 ...
    PURPLE 7).
    """

    EMPTY: Final = 0
    """No puyo (0)."""
    OJAMA: Final = 1
    """A garbage puyo (1): vanishes when a group next to it vanishes."""
    WALL: Final = 2
    """A wall cell (2)."""
    RED: Final = 4
    """Red (4; array code 3)."""
    BLUE: Final = 5
    """Blue (5; array code 4)."""
    YELLOW: Final = 6
    """Yellow (6; array code 5)."""
    GREEN: Final = 7
    """Green (7; array code 6)."""
    PURPLE: Final = 8
    """Purple (8; array code 7). ``ArrayField`` only: ``Field`` refuses it."""

@final
class ChainResult:
    """The outcome of ``Field.chain()`` or ``ArrayField.chain()``.

    Instances come only from ``chain()``; the class cannot be instantiated.
    """

    @property
    def chain(self) -> int:
        """The number of chain steps (0 when nothing vanished)."""

    @property
    def score(self) -> int:
        """The total score of the chain (0 when nothing vanished)."""

@final
class Rotation:
    """Where the child puyo of a pair sits next to its axis puyo.

    The four values are the class attributes ``TOP``, ``LEFT``, ``BOTTOM``
    and ``RIGHT``; the class cannot be instantiated. ``str(r)`` is the
    lower-case name ("top"), which is also what ``put_pair`` takes.
    Rotations compare with ``==`` and ``!=`` only, and only with rotations
    (anything else raises ``TypeError``); they are unhashable.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    TOP: ClassVar[Rotation]
    """The child sits above the axis (0)."""
    LEFT: ClassVar[Rotation]
    """The child sits one column left of the axis (1)."""
    BOTTOM: ClassVar[Rotation]
    """The child sits below the axis (2)."""
    RIGHT: ClassVar[Rotation]
    """The child sits one column right of the axis (3)."""

    def __eq__(self, other: object, /) -> bool:
        """Return whether ``other`` is the same rotation.

        Raises:
            TypeError: ``other`` is not a ``Rotation``.
        """

    def __ne__(self, other: object, /) -> bool:
        """Return whether ``other`` is a different rotation.

        Raises:
            TypeError: ``other`` is not a ``Rotation``.
        """

    def __str__(self) -> str:
        """Return the name: "top", "left", "bottom" or "right"."""

    def __repr__(self) -> str:
        """Return ``<Rotation object NAME>``, as ``<Rotation object left>``."""

@final
class Hand:
    """A placement of a pair: the axis column ``x`` and a ``Rotation``.

    ``Hand.enumerate()`` lists the 22 placements that fit the field.
    Hands compare with ``==`` and ``!=`` (column and rotation), are
    unhashable, and pickle and copy.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    @overload
    def __new__(cls) -> Hand:
        """Return the hand at column 0 with rotation top."""

    @overload
    def __new__(cls, x: SupportsIndex, rotation: Rotation, /) -> Hand:
        """Return the hand with the axis in column ``x`` and the child at ``rotation``.

        Arguments are positional only. ``x`` is not range-checked here;
        ``put_hand`` judges it.

        Raises:
            PanicException: not 0 or 2 arguments, a negative or non-integer
                ``x``, or a ``rotation`` that is not a ``Rotation``.
        """

    @property
    def x(self) -> int:
        """The column of the axis puyo, 0..5."""

    @property
    def rotation(self) -> Rotation:
        """Where the child sits next to the axis (a new ``Rotation`` object)."""

    @classmethod
    def enumerate(cls) -> list[Hand]:
        """Return the 22 hands that fit a field, in this order.

        Top at columns 0..5, left at columns 1..5, bottom at columns 0..5,
        right at columns 0..4. For a pair of two equal colours some of them
        place the same puyos; removing such duplicates is up to the caller.
        """

    def __setstate__(self, state: bytes) -> None:
        """Replace this hand by the one encoded in ``state`` (from ``__getstate__``).

        Raises:
            TypeError: ``state`` is not ``bytes``.
            PanicException: ``state`` is not a valid hand state.
        """

    def __getstate__(self) -> bytes:
        """Return the hand as a 12-byte state, used by pickle and copy."""

    def __eq__(self, other: object, /) -> bool:
        """Return whether ``other`` has the same column and rotation.

        Raises:
            TypeError: ``other`` is not a ``Hand``.
        """

    def __ne__(self, other: object, /) -> bool:
        """Return whether ``other`` differs in column or rotation.

        Raises:
            TypeError: ``other`` is not a ``Hand``.
        """

    def __repr__(self) -> str:
        """Return ``<Hand object C-ROTATION>`` with ``C == x + 1``: ``Hand(0, Rotation.TOP)`` is ``<Hand object 1-top>``."""

@final
class Pair:
    """A falling piece of two puyos: the axis and the child next to it.

    Built from ``PuyoType`` numbers, a pair reports array codes (RED 3,
    BLUE 4, YELLOW 5, GREEN 6, PURPLE 7). ``pair[0]`` is the child and
    ``pair[1]`` the axis; any other index raises ``RuntimeError``, so a
    pair cannot be iterated or unpacked. Pairs compare with ``==`` and
    ``!=`` (child and axis in order), are unhashable, and pickle and copy.
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]

    @overload
    def __new__(cls) -> Pair:
        """Return the pair RED (child) / RED (axis)."""

    @overload
    def __new__(cls, child: SupportsIndex, axis: SupportsIndex, /) -> Pair:
        """Return the pair of ``child`` and ``axis``, given as ``PuyoType`` numbers.

        Arguments are positional only: first the child, then the axis.

        Raises:
            PanicException: not 0 or 2 arguments, an argument that is not a
                non-negative integer, or 3 or a number above 8.
        """

    @property
    def axis(self) -> int:
        """The axis puyo as an array code (RED 3 ... PURPLE 7)."""

    @property
    def child(self) -> int:
        """The child puyo as an array code (RED 3 ... PURPLE 7)."""

    def __getitem__(self, index: SupportsIndex, /) -> int:
        """Return the child (index 0) or the axis (index 1) as an array code.

        Raises:
            RuntimeError: "Invalid index N" for any other index, negative
                ones included.
        """

    def __setstate__(self, state: bytes) -> None:
        """Replace this pair by the one encoded in ``state`` (from ``__getstate__``).

        Raises:
            TypeError: ``state`` is not ``bytes``.
            PanicException: ``state`` is not a valid pair state.
        """

    def __getstate__(self) -> bytes:
        """Return the pair as an 8-byte state, used by pickle and copy."""

    def __eq__(self, other: object, /) -> bool:
        """Return whether ``other`` has the same child and the same axis.

        Raises:
            TypeError: ``other`` is not a ``Pair``.
        """

    def __ne__(self, other: object, /) -> bool:
        """Return whether ``other`` differs in child or axis.

        Raises:
            TypeError: ``other`` is not a ``Pair``.
        """

    def __repr__(self) -> str:
        """Return ``<Pair object Pair { colors: [CHILD, AXIS] }>``, as ``<Pair object Pair { colors: [Red, Blue] }>``."""

@final
class FoundChain:
    """One chain found by ``Field.find_chain_by_removal()``.

    Instances come only from that search; the class cannot be instantiated.
    """

    @property
    def chain(self) -> int:
        """The number of chain steps the removal fires (at least 1)."""

    @property
    def score(self) -> int:
        """The total score of that chain (at least 40)."""

    def __repr__(self) -> str:
        """Return ``<FoundChain object PyFoundChain { chain: C, score: S }>``."""
