"""Animations of replays: every placement, every chain step with its vanishing groups, ojama falling.

``Clip.of(replay, cell=16)`` draws the pictures of a :class:`velmo_game.replay.Replay`;
``save_gif``, ``save_mp4`` (needs imageio-ffmpeg) and ``save_html`` write them. The web page is
one file with the pictures inside it (no network needed) and a small script: play and pause,
step back and forth, a slider and the list of moves. ``page.html#12`` opens at picture 12 and
``page.html#play`` starts playing.
"""

from __future__ import annotations

import base64
import io
import json
from dataclasses import dataclass, field as dataclass_field
from html import escape
from pathlib import Path
from typing import Any, Iterator

import numpy as np
import numpy.typing as npt
from PIL import Image

import velmo
from velmo_game import render
from velmo_game._native import Game, Match, vanish_groups
from velmo_game.replay import Replay, progress_bar

__all__ = ["Clip", "Frame", "scenes"]

# How long each kind of picture stays, in milliseconds.
_HOLD_MS = {"start": 600, "place": 260, "vanish": 320, "fall": 220, "ojama": 300, "settled": 300, "end": 1500}
_HANDS = velmo.Hand.enumerate()


def hand_text(move: int) -> str:
    """A move in velmo's text form of a hand, columns counted from 1: ``"3-top"``."""
    hand = _HANDS[move]
    return f"{hand.x + 1}-{hand.rotation}"


@dataclass
class Frame:
    """One picture of an animation: what it shows, how long, and the move it belongs to."""

    scene: render.Scene
    kind: str
    move: int  # -1: before the first move

    def __repr__(self) -> str:
        return f"Frame({self.kind!r}, move={self.move}, caption={self.scene.caption!r})"


def _cells(field: velmo.Field) -> npt.NDArray[np.uint8]:
    return render.scene_of(field).boards[0].cells


def chain_phases(field: velmo.Field, move: int, pair: velmo.Pair) -> list[tuple[str, npt.NDArray[np.uint8], Any, int]]:
    """The pictures of one placement and its chain as (kind, cells, vanishing mask, chain step):
    the placed pair, then per chain step the vanishing groups and the field after the fall."""
    placed = field.clone().put_hand(_HANDS[move], pair)
    phases: list[tuple[str, npt.NDArray[np.uint8], Any, int]] = [("place", _cells(placed), None, 0)]
    step = 0
    while True:
        emptied = vanish_groups(placed)
        if emptied == placed:
            return phases
        step += 1
        before = _cells(placed)
        phases.append(("vanish", before, (before != 0) & (_cells(emptied) == 0), step))
        placed.step_chain()
        phases.append(("fall", _cells(placed), None, step))


def _game_frames(replay: Replay) -> Iterator[Frame]:
    game = replay.start()
    assert isinstance(game, Game)
    yield Frame(render.Scene([render.board_of_game(game)], caption=_caption("start")), "start", -1)
    for index in range(len(replay.moves)):
        before = game.clone()
        result = replay.apply(game, index)
        board = render.board_of_game(before)
        label = f"move {index + 1}: {hand_text(result.move)}"
        for kind, cells, vanishing, step in chain_phases(before.field, result.move, before.current_pair):
            shown = render.Board(cells, board.pairs[1:], score=before.score, chain=step, vanishing=vanishing)
            yield Frame(render.Scene([shown], caption=_caption(label, step)), kind, index)
        yield Frame(render.Scene([render.board_of_game(game, chain=result.chain)], caption=_caption(label)),
                    "settled", index)


def _match_frames(replay: Replay) -> Iterator[Frame]:
    match = replay.start()
    assert isinstance(match, Match)
    yield Frame(render.Scene(render.boards_of_match(match), frame=0, caption=_caption("start")), "start", -1)
    for index in range(len(replay.moves)):
        before = match.clone()
        boards = render.boards_of_match(before)
        result = replay.apply(match, index)
        phases = []
        for player, view in enumerate(before.players):
            events = result.players[player]
            if events.moved and events.move is not None:
                phases.append(chain_phases(view.field, events.move, view.current_pair))
                boards[player].pairs = boards[player].pairs[1:]
            else:
                phases.append([("place", boards[player].cells, None, 0)])
        label = f"step {index + 1}: " + " | ".join(
            hand_text(e.move) if e.moved and e.move is not None else "-" for e in result.players)
        # Both players' placements and chain steps side by side; the shorter chain waits at its end.
        for k in range(max(len(p) for p in phases)):
            shown, kind, steps = [], "place", []
            for player, board in enumerate(boards):
                kind_p, cells, vanishing, step = phases[player][min(k, len(phases[player]) - 1)]
                if k < len(phases[player]) and kind_p != "place":
                    kind = kind_p
                steps.append(step)
                shown.append(render.Board(cells, board.pairs, score=board.score, chain=step, vanishing=vanishing,
                                          pending_ojama=board.pending_ojama))
            yield Frame(render.Scene(shown, frame=before.frame, caption=_caption(label, max(steps))), kind, index)
        after = render.boards_of_match(match, chains=[e.chain for e in result.players])
        kind = "settled"
        for player, board in enumerate(after):
            if result.players[player].ojama_received:
                chained = phases[player][-1][1]
                board.fallen = (board.cells == 1) & (chained != 1)
                kind = "ojama"
        yield Frame(render.Scene(after, frame=match.frame, caption=_caption(label)), kind, index)


def _caption(label: str, step: int = 0) -> str:
    return f"{label} · chain {step}" if step else label


def scenes(replay: Replay) -> Iterator[Frame]:
    """The pictures of a replay, in order (see the module's documentation)."""
    return _game_frames(replay) if replay.kind == "game" else _match_frames(replay)


@dataclass
class Clip:
    """The drawn pictures of a replay, with their holding times and the moves they show."""

    images: list[Image.Image]
    frames: list[Frame]
    replay: Replay
    cell: int = 16
    durations: list[int] = dataclass_field(default_factory=list)

    @classmethod
    def of(cls, replay: Replay, *, cell: int = 16, progress: bool | None = None) -> Clip:
        frames, images = [], []
        for frame in _by_move(scenes(replay), len(replay.moves), progress):
            frames.append(frame)
            images.append(render.draw(frame.scene, cell=cell))
        frames[-1] = Frame(frames[-1].scene, "end", frames[-1].move)
        return cls(images, frames, replay, cell, [_HOLD_MS[frame.kind] for frame in frames])

    def __repr__(self) -> str:
        width, height = self.images[0].size
        return f"Clip({self.replay!r}, cell={self.cell}, frames=<{len(self.images)} of {width}x{height}>)"

    def save_gif(self, path: str | Path) -> None:
        """An animated GIF that loops."""
        first, *rest = self.images
        first.save(path, save_all=True, append_images=rest, duration=self.durations, loop=0, optimize=False)

    def save_mp4(self, path: str | Path, fps: int = 20) -> None:
        """An H.264 video at ``fps`` frames a second (needs imageio-ffmpeg: ``pip install imageio-ffmpeg``)."""
        try:
            import imageio_ffmpeg  # type: ignore[import-untyped, import-not-found, unused-ignore]
        except ImportError:
            raise ImportError("writing MP4 needs imageio-ffmpeg: pip install imageio-ffmpeg") from None
        width, height = self.images[0].size
        # The encoder's colour format needs even sides: pad with the background's colour.
        even = (width + width % 2, height + height % 2)
        writer = imageio_ffmpeg.write_frames(str(path), even, fps=fps, macro_block_size=1, quality=8)
        writer.send(None)
        try:
            for image, ms in zip(self.images, self.durations):
                canvas = Image.new("RGB", even, image.getpixel((0, 0)))
                canvas.paste(image, (0, 0))
                data = np.ascontiguousarray(np.asarray(canvas, dtype=np.uint8))
                for _ in range(max(1, round(ms * fps / 1000))):
                    writer.send(data)
        finally:
            writer.close()

    def html(self, title: str | None = None, zoom: int | None = None) -> str:
        """The web page's text (see the module's documentation); the pictures are shown ``zoom``
        times their size (default: twice for cells under 20 pixels)."""
        pictures = []
        for image in self.images:
            buffer = io.BytesIO()
            image.save(buffer, format="PNG", optimize=True)
            pictures.append("data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode("ascii"))
        data = {
            "frames": [{"src": src, "ms": ms, "move": frame.move, "caption": frame.scene.caption}
                       for src, ms, frame in zip(pictures, self.durations, self.frames)],
            "moves": _move_labels(self.replay),
        }
        title = title or _title(self.replay)
        zoom = zoom or (2 if self.cell < 20 else 1)
        width, height = (side * zoom for side in self.images[0].size)
        # "</" cannot end the script early: JSON may escape the slash.
        payload = json.dumps(data).replace("</", "<\\/")
        return (_PAGE.replace("__TITLE__", escape(title)).replace("__DATA__", payload)
                .replace("__WIDTH__", str(width)).replace("__HEIGHT__", str(height)))

    def save_html(self, path: str | Path, title: str | None = None, zoom: int | None = None) -> None:
        Path(path).write_text(self.html(title, zoom), encoding="utf-8")


def _by_move(frames: Iterator[Frame], moves: int, progress: bool | None) -> Iterator[Frame]:
    """The frames, advancing a progress bar once per move."""
    bar = progress_bar(moves, progress, unit="move", desc="drawing")
    last = -1
    for frame in frames:
        if bar is not None and frame.move > last:
            bar.update(frame.move - last)
        last = max(last, frame.move)
        yield frame
    if bar is not None:
        bar.close()


def _title(replay: Replay) -> str:
    who = " vs ".join(replay.players) or ("a game" if replay.kind == "game" else "a match")
    return f"velmo · {who} · seed {replay.seed}"


def _move_labels(replay: Replay) -> list[str]:
    if replay.kind == "game":
        return [hand_text(move) for move in replay.moves]
    return [" | ".join("-" if m is None else hand_text(m) for m in step) for step in replay.moves]


_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>__TITLE__</title>
<style>
body { margin: 0; background: #121420; color: #ececf2; font: 14px system-ui, sans-serif; }
#stage { display: flex; gap: 16px; align-items: flex-start; }
#picture { display: block; width: __WIDTH__px; height: __HEIGHT__px; image-rendering: pixelated; }
#side { padding: 8px; min-width: 220px; }
#controls { display: flex; gap: 6px; align-items: center; flex-wrap: wrap; margin-bottom: 8px; }
button { background: #2a2e48; color: #ececf2; border: 1px solid #5a6090; border-radius: 4px; padding: 3px 10px; }
#slider { width: 100%; }
#moves { max-height: 360px; overflow-y: auto; margin: 8px 0 0; padding-left: 2.5em; }
#moves li { cursor: pointer; }
#moves li.current { background: #3a3f66; font-weight: bold; }
</style></head>
<body>
<div id="stage">
<img id="picture" alt="the game at this point">
<div id="side">
<h1 style="font-size:16px;margin:4px 0">__TITLE__</h1>
<div id="controls">
<button id="back" title="step back (left arrow)">&#9664;</button>
<button id="play" title="play or pause (space)">play</button>
<button id="forward" title="step forward (right arrow)">&#9654;</button>
<span id="position"></span>
</div>
<input id="slider" type="range" min="0" value="0">
<div id="caption"></div>
<ol id="moves"></ol>
</div></div>
<script id="replay-data" type="application/json">__DATA__</script>
<script>
"use strict";
const data = JSON.parse(document.getElementById("replay-data").textContent);
const frames = data.frames;
const picture = document.getElementById("picture"), slider = document.getElementById("slider");
const position = document.getElementById("position"), caption = document.getElementById("caption");
const playButton = document.getElementById("play"), list = document.getElementById("moves");
const firstFrameOf = [];
frames.forEach((f, i) => { if (f.move >= 0 && firstFrameOf[f.move] === undefined) firstFrameOf[f.move] = i; });
data.moves.forEach((label, i) => {
  const item = document.createElement("li");
  item.textContent = label;
  item.addEventListener("click", () => { pause(); show(firstFrameOf[i]); });
  list.appendChild(item);
});
slider.max = frames.length - 1;
let current = 0, timer = null;
function show(i) {
  current = Math.max(0, Math.min(frames.length - 1, i));
  const f = frames[current];
  picture.src = f.src;
  slider.value = current;
  position.textContent = (current + 1) + " / " + frames.length;
  caption.textContent = f.caption;
  document.body.dataset.frame = current;
  list.querySelectorAll("li.current").forEach(li => li.classList.remove("current"));
  if (f.move >= 0) {
    const item = list.children[f.move];
    item.classList.add("current");
    item.scrollIntoView({block: "nearest"});
  }
}
function tick() {
  if (current >= frames.length - 1) { pause(); return; }
  show(current + 1);
  timer = setTimeout(tick, frames[current].ms);
}
function play() {
  if (timer !== null) return;
  if (current >= frames.length - 1) show(0);
  playButton.textContent = "pause";
  document.body.dataset.playing = "1";
  timer = setTimeout(tick, frames[current].ms);
}
function pause() {
  if (timer !== null) clearTimeout(timer);
  timer = null;
  playButton.textContent = "play";
  document.body.dataset.playing = "0";
}
playButton.addEventListener("click", () => timer === null ? play() : pause());
document.getElementById("back").addEventListener("click", () => { pause(); show(current - 1); });
document.getElementById("forward").addEventListener("click", () => { pause(); show(current + 1); });
slider.addEventListener("input", () => { pause(); show(Number(slider.value)); });
document.addEventListener("keydown", e => {
  if (e.key === "ArrowLeft") { pause(); show(current - 1); }
  else if (e.key === "ArrowRight") { pause(); show(current + 1); }
  else if (e.key === " ") { e.preventDefault(); timer === null ? play() : pause(); }
});
function fromHash() {
  const hash = location.hash.slice(1);
  if (hash === "play") { show(0); play(); }
  else if (/^[0-9]+$/.test(hash)) { pause(); show(Number(hash)); }
}
window.addEventListener("hashchange", fromHash);
show(0);
fromHash();
</script>
</body></html>
"""
