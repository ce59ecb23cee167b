"""Pictures of play: fields, games and matches drawn the way Puyo Puyo is drawn.

Round puyos in their colours, joined to the same-coloured neighbours they touch; ojama as pale
ojama with eyes; the 13th and 14th rows (rows 1 and 0) on a darker ground below a line; the death
cell crossed; the current and next pairs beside the field; the score under it and the chain of
the last move beside it. A match shows both fields (player 0 on the left), the ojama pending
against each player above its field, and the match frame.

``draw(thing, cell=16)`` returns a ``PIL.Image.Image`` of a ``velmo.Field``, a ``(14, 6)``
array of ``PuyoType`` numbers, a ``Game``, a ``Match``, a :class:`Board` or a :class:`Scene`;
``rgb_array`` returns the same picture as a ``(height, width, 3)`` uint8 array. ``cell`` is the
side of one cell in pixels (4 to 128). Needs NumPy and Pillow (``pip install "velmo[render]"``);
no display is used.
"""

from __future__ import annotations

from dataclasses import dataclass, field as dataclass_field
from typing import Any, Sequence, Union

import numpy as np
import numpy.typing as npt
from PIL import Image, ImageDraw, ImageFont

import velmo
from velmo_game._native import Game, Match, death_cell

__all__ = ["Board", "Scene", "board_of_game", "boards_of_match", "draw", "rgb_array", "scene_of"]

ROWS, COLUMNS = 14, 6
#: Rows 0 and 1 are the 14th and 13th rows, above the visible field.
HIDDEN_ROWS = 2
MIN_CELL, MAX_CELL = 4, 128

# Colours by PuyoType number (RED 4 .. PURPLE 8).
PUYO_COLORS: dict[int, tuple[int, int, int]] = {
    4: (226, 52, 52), 5: (48, 108, 232), 6: (240, 196, 28), 7: (40, 176, 72), 8: (156, 72, 204),
}
OJAMA_COLOR = (222, 226, 236)
_OJAMA_EDGE = (110, 116, 132)
_BACKGROUND = (18, 20, 32)
_FIELD_GROUND = (38, 42, 64)
_HIDDEN_GROUND = (26, 28, 42)
_FRAME = (150, 156, 190)
_DEATH_MARK = (210, 60, 70)
_TEXT = (236, 236, 242)
_CHAIN_TEXT = (255, 214, 64)
_WHITE = (255, 255, 255)
_OJAMA_TYPE = 1

_CellArray = npt.NDArray[np.uint8]
Drawable = Union["Scene", "Board", Game, Match, velmo.Field, _CellArray]


@dataclass
class Board:
    """What one player's side of a picture shows."""

    #: ``(14, 6)`` ``PuyoType`` numbers, row 0 the 14th row.
    cells: _CellArray
    #: The current pair then the next ones, each as (child, axis) ``PuyoType`` numbers.
    pairs: Sequence[tuple[int, int]] = ()
    score: int | None = None
    #: The chain to show (0: none); during an animation the chain step being played.
    chain: int = 0
    #: ``(14, 6)`` bool: cells drawn as vanishing (a chain step's groups).
    vanishing: npt.NDArray[np.bool_] | None = None
    #: ``(14, 6)`` bool: cells outlined as just fallen (ojama).
    fallen: npt.NDArray[np.bool_] | None = None
    #: Ojama pending against the player; None draws no tray (one-player games).
    pending_ojama: int | None = None
    over: bool = False

    def __repr__(self) -> str:
        puyos = int(np.count_nonzero(np.asarray(self.cells)))
        extra = "" if self.pending_ojama is None else f", pending_ojama={self.pending_ojama}"
        return f"Board(<{puyos} puyos>, pairs={list(self.pairs)!r}, score={self.score}, chain={self.chain}{extra})"


@dataclass
class Scene:
    """One picture: one or two boards, and for a match its frame."""

    boards: list[Board] = dataclass_field(default_factory=list)
    frame: int | None = None
    #: A line under the picture (the animation names the move or chain step shown).
    caption: str = ""


def _cells_of(field: velmo.Field) -> _CellArray:
    return np.array([[field.get(x, y) for x in range(COLUMNS)] for y in range(ROWS)], dtype=np.uint8)


def _pairs_of(pairs: Any) -> list[tuple[int, int]]:
    return [(int(child), int(axis)) for child, axis in np.asarray(pairs).tolist()]


def board_of_game(game: Game, *, chain: int = 0) -> Board:
    """The board of a one-player game; ``chain`` is the chain to show (the last move's)."""
    cells, pairs = game.observation()
    return Board(cells.copy(), _pairs_of(pairs), score=game.score, chain=chain, over=game.is_over)


def boards_of_match(match: Match, *, chains: Sequence[int] = (0, 0)) -> list[Board]:
    """The boards of both players of a match, player 0 first."""
    observation = match.observation(0)
    own = Board(observation["field"].copy(), _pairs_of(observation["pairs"]))
    other = Board(observation["opponent_field"].copy(), _pairs_of(observation["opponent_pairs"]))
    for board, view, chain in zip((own, other), match.players, chains):
        board.score, board.pending_ojama, board.chain, board.over = view.score, view.pending_ojama, chain, view.lost
    return [own, other]


def scene_of(thing: Drawable) -> Scene:
    """The scene a picture of ``thing`` shows (see the module's documentation)."""
    if isinstance(thing, Scene):
        return thing
    if isinstance(thing, Board):
        return Scene([thing])
    if isinstance(thing, Match):
        return Scene(boards_of_match(thing), frame=thing.frame)
    if isinstance(thing, Game):
        return Scene([board_of_game(thing)])
    if isinstance(thing, velmo.Field):
        return Scene([Board(_cells_of(thing))])
    cells = np.asarray(thing)
    if cells.shape != (ROWS, COLUMNS):
        raise ValueError(f"a field array must have shape ({ROWS}, {COLUMNS}), not {cells.shape}")
    return Scene([Board(cells.astype(np.uint8))])


def draw(thing: Drawable, *, cell: int = 16) -> Image.Image:
    """A picture of ``thing`` with cells of ``cell`` pixels (see the module's documentation)."""
    if isinstance(cell, bool) or not isinstance(cell, int) or not MIN_CELL <= cell <= MAX_CELL:
        raise ValueError(f"cell must be an int from {MIN_CELL} to {MAX_CELL}, not {cell!r}")
    return _Painter(scene_of(thing), cell).paint()


def rgb_array(thing: Drawable, *, cell: int = 16) -> npt.NDArray[np.uint8]:
    """``draw(thing, cell=cell)`` as a ``(height, width, 3)`` uint8 array."""
    return np.asarray(draw(thing, cell=cell).convert("RGB"), dtype=np.uint8)


def _blend(color: tuple[int, int, int], other: tuple[int, int, int], share: float) -> tuple[int, int, int]:
    r, g, b = (round(a + (o - a) * share) for a, o in zip(color, other))
    return r, g, b


# The usual tray of pending ojama: each icon stands for this many, largest first, at most six icons.
_TRAY_UNITS = (720, 360, 180, 30, 6, 1)
_TRAY_ICONS = 6


def tray_icons(count: int) -> list[int]:
    """The units of the icons that show ``count`` pending ojama (largest first, at most six)."""
    icons: list[int] = []
    for unit in _TRAY_UNITS:
        while count >= unit and len(icons) < _TRAY_ICONS:
            icons.append(unit)
            count -= unit
    return icons


class _Painter:
    """Lays a scene out and paints it. Geometry, in cells: a margin of 1/2 around everything;
    per board a tray row (matches), the 6 x 14 field, a side column of 2.5 for the pairs, and a
    text row under the field; a match puts both side columns between the fields."""

    def __init__(self, scene: Scene, cell: int) -> None:
        self.scene, self.c = scene, cell
        self.margin = cell // 2
        self.font = ImageFont.load_default(size=max(8, round(cell * 0.8)))
        self.small_font = ImageFont.load_default(size=max(7, round(cell * 0.6)))
        self.side = round(cell * 2.5)
        self.has_tray = any(board.pending_ojama is not None for board in scene.boards)
        self.tray = cell + self.margin if self.has_tray else 0
        self.text_rows = 2 if scene.frame is not None or scene.caption else 1

    def paint(self) -> Image.Image:
        c, m = self.c, self.margin
        boards = self.scene.boards
        board_width = COLUMNS * c + self.side
        width = 2 * m + len(boards) * board_width + (len(boards) - 1) * m
        height = 2 * m + self.tray + ROWS * c + round(self.text_rows * 1.1 * c) + m
        image = Image.new("RGB", (width, height), _BACKGROUND)
        pen = ImageDraw.Draw(image)
        top = m + self.tray
        for index, board in enumerate(boards):
            # Player 1 of a match mirrors player 0: its side column faces the middle.
            mirrored = index == 1
            left = m + index * (board_width + m)
            field_left = left + self.side if mirrored else left
            side_left = left if mirrored else left + COLUMNS * c
            self._field(pen, board, field_left, top)
            self._pairs(pen, board, side_left, top)
            if board.pending_ojama is not None:
                self._tray(pen, board.pending_ojama, field_left, m)
            score = "" if board.score is None else f"{board.score:,}"
            pen.text((field_left + COLUMNS * c, top + ROWS * c + m // 2), score, fill=_TEXT, font=self.font, anchor="ra")
        lines = [text for text in (self._frame_text(), self.scene.caption) if text]
        for row, text in enumerate(lines):
            y = top + ROWS * c + round((row + 1) * 1.1 * c) + m // 2
            pen.text((width // 2, y), text, fill=_TEXT, font=self.small_font, anchor="ma")
        return image

    def _frame_text(self) -> str:
        frame = self.scene.frame
        return "" if frame is None else f"frame {frame:,} ({frame // 3600}:{frame // 60 % 60:02d})"

    # --- the field ------------------------------------------------------------------------------

    def _field(self, pen: ImageDraw.ImageDraw, board: Board, left: int, top: int) -> None:
        c = self.c
        pen.rectangle([left, top, left + COLUMNS * c - 1, top + ROWS * c - 1], fill=_FIELD_GROUND)
        pen.rectangle([left, top, left + COLUMNS * c - 1, top + HIDDEN_ROWS * c - 1], fill=_HIDDEN_GROUND)
        line = top + HIDDEN_ROWS * c
        for x in range(left, left + COLUMNS * c, max(2, c // 4)):  # a dashed line under the 13th row
            pen.line([x, line, x + max(1, c // 8), line], fill=_FRAME)
        pen.rectangle([left - 1, top - 1, left + COLUMNS * c, top + ROWS * c], outline=_FRAME)
        self._death_mark(pen, left, top)
        cells = np.asarray(board.cells)
        self._joins(pen, cells, left, top)
        for y in range(ROWS):
            for x in range(COLUMNS):
                kind = int(cells[y, x])
                if kind == 0:
                    continue
                vanishing = board.vanishing is not None and bool(board.vanishing[y, x])
                fallen = board.fallen is not None and bool(board.fallen[y, x])
                self._puyo(pen, kind, left + x * c, top + y * c, c, vanishing=vanishing, fallen=fallen)
        if board.chain > 0:
            text = f"{board.chain} chain!"
            pen.text((left + COLUMNS * c // 2, top + ROWS * c // 2), text, fill=_CHAIN_TEXT, font=self.font,
                     anchor="mm", stroke_width=max(1, c // 10), stroke_fill=_BACKGROUND)
        if board.over:
            pen.text((left + COLUMNS * c // 2, top + ROWS * c // 3), "game over", fill=_WHITE, font=self.font,
                     anchor="mm", stroke_width=max(1, c // 10), stroke_fill=_DEATH_MARK)

    def _death_mark(self, pen: ImageDraw.ImageDraw, left: int, top: int) -> None:
        c, (x, y) = self.c, death_cell()
        inset, width = c // 5, max(1, c // 8)
        x0, y0 = left + x * c + inset, top + y * c + inset
        x1, y1 = left + (x + 1) * c - 1 - inset, top + (y + 1) * c - 1 - inset
        pen.line([x0, y0, x1, y1], fill=_DEATH_MARK, width=width)
        pen.line([x0, y1, x1, y0], fill=_DEATH_MARK, width=width)

    def _joins(self, pen: ImageDraw.ImageDraw, cells: _CellArray, left: int, top: int) -> None:
        """Bridges between touching puyos of one colour, drawn under the puyos. The hidden rows are
        drawn apart from the field below them."""
        c = self.c
        half = max(1, round(c * 0.3))
        for y in range(HIDDEN_ROWS, ROWS):
            for x in range(COLUMNS):
                kind = int(cells[y, x])
                if kind not in PUYO_COLORS:
                    continue
                color = PUYO_COLORS[kind]
                cx, cy = left + x * c + c // 2, top + y * c + c // 2
                if x + 1 < COLUMNS and cells[y, x + 1] == kind:
                    pen.rectangle([cx, cy - half, cx + c, cy + half], fill=color)
                if y + 1 < ROWS and cells[y + 1, x] == kind:
                    pen.rectangle([cx - half, cy, cx + half, cy + c], fill=color)

    def _puyo(self, pen: ImageDraw.ImageDraw, kind: int, x: int, y: int, size: int, *,
              vanishing: bool = False, fallen: bool = False) -> None:
        inset = max(1, size // 16)
        box = [x + inset, y + inset, x + size - 1 - inset, y + size - 1 - inset]
        edge_width = max(1, size // 12)
        outlined = size >= 8  # below that an outline would leave no colour inside
        if kind == _OJAMA_TYPE:
            pen.ellipse(box, fill=OJAMA_COLOR, outline=_OJAMA_EDGE if outlined else None, width=edge_width)
            eye = size // 10
            for ex in (x + size * 3 // 8, x + size * 5 // 8) if outlined else ():  # small ones have no room for eyes
                ey = y + size * 9 // 20
                pen.ellipse([ex - eye, ey - eye, ex + eye, ey + eye], fill=_OJAMA_EDGE)
        else:
            color = PUYO_COLORS.get(kind, (90, 90, 90))
            pen.ellipse(box, fill=color, outline=_blend(color, (0, 0, 0), 0.35) if outlined else None, width=edge_width)
            shine = size // 5
            if shine >= 2:
                sx, sy = x + size * 3 // 10, y + size * 3 // 10
                pen.ellipse([sx, sy, sx + shine, sy + shine * 3 // 4], fill=_blend(color, _WHITE, 0.55))
        if vanishing:
            # A vanishing group flashes: a white ring over a washed-out puyo.
            pen.ellipse(box, fill=_blend(PUYO_COLORS.get(kind, OJAMA_COLOR), _WHITE, 0.6), outline=_WHITE,
                        width=max(2, size // 6))
        elif fallen:
            pen.ellipse(box, outline=_CHAIN_TEXT, width=max(1, size // 10))

    # --- beside the field -----------------------------------------------------------------------

    def _pairs(self, pen: ImageDraw.ImageDraw, board: Board, left: int, top: int) -> None:
        """The current pair at full size, then the next ones smaller, child above axis."""
        c = self.c
        y = top
        for index, (child, axis) in enumerate(board.pairs):
            size = c if index == 0 else max(MIN_CELL, c * 3 // 4)
            x = left + (self.side - size) // 2
            self._puyo(pen, child, x, y, size)
            self._puyo(pen, axis, x, y + size, size)
            y += 2 * size + c // 3
            if y + 2 * size > top + ROWS * c - 2 * c:
                break
        if board.pending_ojama is None and board.score is not None:
            pen.text((left + self.side // 2, top + ROWS * c - c), f"chain {board.chain}", fill=_TEXT,
                     font=self.small_font, anchor="ms")

    def _tray(self, pen: ImageDraw.ImageDraw, count: int, left: int, top: int) -> None:
        c = self.c
        icons = tray_icons(count)
        for index, unit in enumerate(icons):
            self._tray_icon(pen, unit, left + index * c, top, c)
        if count and len(icons) < _TRAY_ICONS - 1:  # the number goes where icons leave room
            pen.text((left + COLUMNS * c, top + c // 2), str(count), fill=_TEXT, font=self.small_font, anchor="rm")

    def _tray_icon(self, pen: ImageDraw.ImageDraw, unit: int, x: int, y: int, c: int) -> None:
        if unit == 1:
            quarter = c // 4
            self._puyo(pen, _OJAMA_TYPE, x + quarter, y + quarter, max(MIN_CELL, c // 2))
        elif unit == 6:
            self._puyo(pen, _OJAMA_TYPE, x, y, c)
        elif unit == 30:
            pen.rounded_rectangle([x + 1, y + 1, x + c - 2, y + c - 2], radius=max(1, c // 5), fill=(120, 104, 92),
                                  outline=(70, 60, 52), width=max(1, c // 12))
        else:
            colors = {180: (250, 214, 60), 360: (200, 200, 255), 720: (255, 150, 40)}
            half, cx, cy = c // 2 - 1, x + c // 2, y + c // 2
            points = [(cx + half * (1.0 if k % 2 == 0 else 0.45) * np.sin(k * np.pi / 5),
                       cy - half * (1.0 if k % 2 == 0 else 0.45) * np.cos(k * np.pi / 5)) for k in range(10)]
            pen.polygon(points, fill=colors[unit], outline=_WHITE)
