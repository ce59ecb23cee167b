"""Pictures, replays and animations: cells drawn where they are, replays that reach every state
again, and the web page working in a real browser."""

from __future__ import annotations

import json
import os
import random
import shutil
import subprocess
import sys

import numpy as np
import pytest

pytest.importorskip("PIL")

import velmo
from velmo_game import Game, Match, Rules, Timing, render
from velmo_game.animate import Clip, chain_phases, hand_text, scenes
from velmo_game.evaluate import game_view
from velmo_game.players import make_player
from velmo_game.replay import Recorder, Replay, main as replay_main, record, replays_from_selfplay

CELL = 8


def cell_center(image, left: int, top: int, x: int, y: int, cell: int = CELL) -> tuple[int, int, int]:
    return image.getpixel((left + x * cell + cell // 2, top + y * cell + cell // 2))


def field_origin(cell: int = CELL, *, tray: bool = False) -> tuple[int, int]:
    """Where the field of a one-board picture (or a match's left board) starts."""
    margin = cell // 2
    return margin, margin + (cell + margin if tray else 0)


# --- the renderer ---------------------------------------------------------------------------------


@pytest.mark.parametrize("cell", [4, 8, 23])
def test_cells_are_drawn_in_their_colours_where_they_are(cell):
    field = velmo.Field.from_str_array(["O", "RB", "YGO"])  # the three lowest rows
    image = render.draw(field, cell=cell)
    left, top = field_origin(cell)
    # Colours fill the cell centres except where the shine sits (upper left, not the centre).
    assert cell_center(image, left, top, 0, 13, cell) == render.PUYO_COLORS[velmo.PuyoType.YELLOW]
    assert cell_center(image, left, top, 1, 13, cell) == render.PUYO_COLORS[velmo.PuyoType.GREEN]
    assert cell_center(image, left, top, 0, 12, cell) == render.PUYO_COLORS[velmo.PuyoType.RED]
    assert cell_center(image, left, top, 1, 12, cell) == render.PUYO_COLORS[velmo.PuyoType.BLUE]
    assert cell_center(image, left, top, 2, 13, cell) == render.OJAMA_COLOR
    assert cell_center(image, left, top, 3, 13, cell) not in (*render.PUYO_COLORS.values(), render.OJAMA_COLOR)


def test_same_colours_are_joined_and_others_are_not():
    cell = 16
    field = velmo.Field.from_str_array(["RRB"])
    image = render.draw(field, cell=cell)
    left, top = field_origin(cell)
    y = top + 13 * cell + cell // 2
    assert image.getpixel((left + cell, y)) == render.PUYO_COLORS[velmo.PuyoType.RED]  # between the reds
    assert image.getpixel((left + 2 * cell, y)) != render.PUYO_COLORS[velmo.PuyoType.RED]  # red | blue: a gap


def test_picture_sizes_follow_the_cell_and_the_kind_of_thing():
    game, match = Game(1), Match(1)
    one, two = render.rgb_array(game, cell=CELL), render.rgb_array(match, cell=CELL)
    assert one.dtype == np.uint8 and one.shape[2] == 3
    assert one.shape[0] >= 14 * CELL and one.shape[1] >= 6 * CELL + 2 * CELL  # field and pairs beside it
    assert two.shape[1] > 2 * one.shape[1] - CELL and two.shape[0] > one.shape[0]  # two boards, trays
    assert render.rgb_array(game, cell=2 * CELL).shape[0] == pytest.approx(2 * one.shape[0], abs=4)


def test_pairs_beside_the_field_are_the_games_pairs():
    game = Game(5)
    image = render.draw(game, cell=CELL)
    left, top = field_origin()
    side = left + 6 * CELL + (round(CELL * 2.5) - CELL) // 2
    child, axis = game.observation()[1][0]
    assert cell_center(image, side, top, 0, 0) == render.PUYO_COLORS[child]
    assert cell_center(image, side, top, 0, 1) == render.PUYO_COLORS[axis]


def test_vanishing_cells_are_marked_and_hidden_rows_drawn_apart():
    cells = np.zeros((14, 6), np.uint8)
    cells[13, :2] = velmo.PuyoType.RED
    vanishing = np.zeros((14, 6), bool)
    vanishing[13, 0] = True
    image = render.draw(render.Board(cells, vanishing=vanishing), cell=CELL)
    left, top = field_origin()
    assert cell_center(image, left, top, 0, 13) != cell_center(image, left, top, 1, 13)
    assert cell_center(image, left, top, 5, 0) != cell_center(image, left, top, 5, 5)  # 14th row vs field


@pytest.mark.parametrize("count, icons", [(0, []), (5, [1] * 5), (37, [30, 6, 1]), (1000, [720, 180, 30, 30, 30, 6])])
def test_pending_ojama_tray(count, icons):
    assert render.tray_icons(count) == icons


@pytest.mark.parametrize("thing, error", [(np.zeros((13, 6)), ValueError), ("field", ValueError)])
def test_bad_things_to_draw_are_refused(thing, error):
    with pytest.raises(error):
        render.draw(thing)


@pytest.mark.parametrize("cell", [3, 129, 8.0, True])
def test_bad_cell_sizes_are_refused(cell):
    with pytest.raises(ValueError, match="cell"):
        render.draw(Game(0), cell=cell)


# --- replays --------------------------------------------------------------------------------------


def play_random_match(match, seed: int, steps: int | None = None):
    rng, greedy = random.Random(seed), make_player("greedy")
    while not match.is_over and (steps is None or len(match.replay.moves) < steps):
        match.step({p: greedy.choose(game_view(match.game, p)) if p else rng.choice(match.legal_moves(p))
                    for p in match.to_move()})
    return match


def test_a_seeded_matchs_replay_reproduces_every_state():
    recorder = record(Match(11, rules=Rules(target_points=40), timing=Timing(vanish_frames=30)), ["random", "greedy"])
    states = [recorder.game.clone()]
    while not recorder.is_over:
        play_random_match(recorder, 11, steps=len(recorder.replay.moves) + 1)
        states.append(recorder.game.clone())
    replay = Replay.loads(recorder.replay.dumps())
    assert replay.rules["target_points"] == 40 and replay.timing["vanish_frames"] == 30
    assert list(replay.states()) == states
    assert replay.final().winner == recorder.winner


def test_a_games_replay_with_its_own_pairs_and_field_reproduces_it(tmp_path):
    pairs = [velmo.Pair(velmo.PuyoType.RED, velmo.PuyoType.BLUE), velmo.Pair(velmo.PuyoType.GREEN, velmo.PuyoType.GREEN)]
    start = velmo.Field.from_str_array(["Y", "YY"])
    recorder = Recorder(Game(field=start, sequence=pairs, visible=1))
    for _ in range(12):
        recorder.play(recorder.legal_moves()[-1])
    recorder.replay.save(tmp_path / "game.json")
    replay = Replay.load(tmp_path / "game.json")
    assert replay.final() == recorder.game and replay.start().field == start


@pytest.mark.parametrize("text, message", [
    ("{", "not a velmo replay"),
    ('{"format": "velmo-replay", "version": 99}', "version 99"),
    ('{"format": "velmo-replay", "version": 1, "kind": "game", "seed": -1, "moves": []}', "seed"),
    ('{"format": "velmo-replay", "version": 1, "kind": "game", "seed": 1, "moves": ["x"]}', "move 0"),
    ('{"format": "velmo-replay", "version": 1, "kind": "cup", "seed": 1, "moves": []}', "kind"),
    ('{"format": "velmo-replay", "version": 1, "kind": "match", "seed": 1, "moves": [[0]]}', "move 0"),
    ('{"format": "velmo-replay", "version": 1, "kind": "match", "seed": 1, "rules": {"bogus": 1}, "moves": []}',
     "settings make no match"),
    ('{"format": "velmo-replay", "version": 1, "kind": "game", "seed": 1, "fields": [[[3] * 14] * 6], "moves": []}'
     .replace("[[3] * 14] * 6", str([[3] * 14] * 6)), "starting field"),
])
def test_broken_replays_are_refused_clearly(text, message):
    with pytest.raises(ValueError, match=message):
        Replay.loads(text).final()


def test_an_illegal_move_in_a_replay_names_the_move():
    replay = Replay("game", 1, moves=[0] * 40)  # the same column again and again tops out
    with pytest.raises(ValueError, match=r"replay move \d+"):
        replay.final()


@pytest.mark.parametrize("state", [lambda: Game(1), lambda: Match(1)])
def test_a_recorder_starts_at_the_start(state):
    started = state()
    if isinstance(started, Game):
        started.play(started.legal_moves()[0])
    else:
        started.step({p: started.legal_moves(p)[0] for p in started.to_move()})
    with pytest.raises(ValueError, match="new"):
        record(started)


def test_self_play_records_give_replays_of_their_games(tmp_path):
    from velmo_game import selfplay

    path = tmp_path / "data.npz"
    selfplay.generate("greedy", 2, path, seed=4, opponent="random")
    replays = replays_from_selfplay(selfplay.load(path))
    assert len(replays) == 2 and all(r.final().is_over for r in replays)


# --- animations -----------------------------------------------------------------------------------


def test_a_chain_is_drawn_step_by_step_with_its_vanishing_groups():
    field = velmo.Field.from_str_array(["B", "RBB", "RRRB"])
    pair = velmo.Pair(velmo.PuyoType.RED, velmo.PuyoType.GREEN)
    move = next(i for i, hand in enumerate(velmo.Hand.enumerate()) if hand.x == 0 and str(hand.rotation) == "top")
    phases = chain_phases(field, move, pair)
    assert [kind for kind, *_ in phases] == ["place", "vanish", "fall", "vanish", "fall"]
    _, cells, vanishing, step = phases[1]
    assert step == 1 and vanishing.sum() == 4 and set(cells[vanishing]) == {velmo.PuyoType.RED}
    assert vanishing[13, :3].all()
    game = Game(field=field, sequence=[pair])
    assert game.play(move).chain == phases[-1][3]


def test_a_match_animation_shows_ojama_falling_and_ends_where_the_match_ends():
    recorder = play_random_match(record(Match(2)), 2)
    frames = list(scenes(recorder.replay))
    kinds = {frame.kind for frame in frames}
    assert {"start", "place", "vanish", "fall", "ojama", "settled"} <= kinds
    last = frames[-1].scene
    assert last.frame == recorder.frame
    assert [b.score for b in last.boards] == [p.score for p in recorder.players]
    assert any(frame.scene.boards[0].fallen is not None and frame.scene.boards[0].fallen.any()
               or frame.scene.boards[1].fallen is not None and frame.scene.boards[1].fallen.any() for frame in frames)


@pytest.fixture(scope="module")
def short_game_replay():
    recorder = record(Game(3), ["greedy"])
    greedy = make_player("greedy")
    for _ in range(16):
        recorder.play(greedy.choose(recorder.game))
    return recorder.replay


def test_gif_has_a_picture_per_frame(tmp_path, short_game_replay):
    from PIL import Image

    clip = Clip.of(short_game_replay, cell=4)
    clip.save_gif(tmp_path / "game.gif")
    with Image.open(tmp_path / "game.gif") as gif:
        assert gif.n_frames == len(clip.images) and gif.size == clip.images[0].size


def test_mp4_is_written(tmp_path, short_game_replay):
    pytest.importorskip("imageio_ffmpeg", reason="MP4 needs imageio-ffmpeg (pip install imageio-ffmpeg)")
    Clip.of(short_game_replay, cell=5).save_mp4(tmp_path / "game.mp4")  # odd sides are padded
    assert (tmp_path / "game.mp4").read_bytes()[4:8] == b"ftyp"


def test_page_is_self_contained(short_game_replay):
    page = Clip.of(short_game_replay, cell=4).html()
    assert "http://" not in page and "https://" not in page
    data = json.loads(page.split('type="application/json">')[1].split("</script>")[0])
    assert len(data["moves"]) == 16 and all(f["src"].startswith("data:image/png;base64,") for f in data["frames"])


# The browser is not ours to instrument: under the sanitized build the sanitizer runtime is
# preloaded into every child, and Chromium hangs with it.
BROWSER_ENV = {k: v for k, v in os.environ.items()
               if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")}


def chromium() -> str | None:
    return next((path for name in ("chromium", "chromium-browser") if (path := shutil.which(name))), None)


@pytest.mark.skipif(chromium() is None, reason="no Chromium on PATH (apt-get install chromium; .ci/run installs it)")
def test_page_plays_steps_and_shows_the_frame_in_a_real_browser(tmp_path, short_game_replay):
    from PIL import Image

    clip = Clip.of(short_game_replay, cell=8)
    path = tmp_path / "page.html"
    clip.save_html(path, zoom=1)
    browser = [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--mute-audio",
               "--virtual-time-budget=4000"]

    def dom(fragment: str) -> str:
        done = subprocess.run([*browser, "--dump-dom", f"{path.as_uri()}#{fragment}"], capture_output=True,
                              text=True, timeout=120, env=BROWSER_ENV)
        assert done.returncode == 0, done.stderr
        return done.stdout

    frame = 7
    stepped = dom(str(frame))
    assert f'data-frame="{frame}"' in stepped and f"{frame + 1} / {len(clip.images)}" in stepped
    label = hand_text(short_game_replay.moves[clip.frames[frame].move])
    assert f'<li class="current">{label}</li>' in stepped
    played = dom("play")  # four seconds of the page's time: many frames further on
    assert int(played.split('data-frame="')[1].split('"')[0]) > 5

    shot = tmp_path / "shot.png"
    done = subprocess.run([*browser, "--window-size=800,600", f"--screenshot={shot}", f"{path.as_uri()}#{frame}"],
                          capture_output=True, text=True, timeout=120, env=BROWSER_ENV)
    assert done.returncode == 0, done.stderr
    expected = np.asarray(clip.images[frame].convert("RGB"), dtype=np.int16)
    with Image.open(shot) as picture:
        seen = np.asarray(picture.convert("RGB"), dtype=np.int16)[: expected.shape[0], : expected.shape[1]]
    assert np.abs(seen - expected).mean() < 4  # the page shows the picture of that frame, top left


# --- the commands ---------------------------------------------------------------------------------


def run_module(module: str, *args: str, cwd=None) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", module, *args], capture_output=True, text=True, timeout=300, cwd=cwd)


@pytest.mark.parametrize("module", ["velmo_game.replay", "velmo_game.watch"])
def test_commands_answer_help(module):
    done = run_module(module, "--help")
    assert done.returncode == 0 and "usage:" in done.stdout and "--html" in done.stdout


def test_watch_then_replay(tmp_path):
    done = run_module("velmo_game.watch", "--player", "greedy", "--versus", "--opponent", "random", "--seed", "3",
                      "--moves", "12", "--json", "m.json", "--html", "m.html", "--cell", "4", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert "greedy vs random, seed 3" in done.stdout and (tmp_path / "m.html").stat().st_size > 1000
    assert replay_main([str(tmp_path / "m.json"), "--gif", str(tmp_path / "m.gif"), "--cell", "4"]) == 0
    assert (tmp_path / "m.gif").read_bytes()[:6] == b"GIF89a"


@pytest.mark.parametrize("args, code", [([], 2), (["missing.json", "--gif", "x.gif"], 1), (["--bogus"], 2)])
def test_replay_command_exit_codes(tmp_path, args, code):
    assert run_module("velmo_game.replay", *args, cwd=tmp_path).returncode == code
