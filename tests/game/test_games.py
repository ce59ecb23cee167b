"""One-player games: moves agree with velmo, the movement rule and game over hold, bad input
changes nothing, and a game is a plain value."""

from __future__ import annotations

import copy
import inspect
import pickle

import numpy as np
import pytest

import velmo
import velmo_game
from velmo_game import Game, MoveResult, PairSequence

HANDS = velmo.Hand.enumerate()


def splitmix64(seed: int):
    """The test's own move chooser: SplitMix64, independent of the library's."""
    state = seed
    while True:
        state = (state + 0x9E3779B97F4A7C15) & (2**64 - 1)
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & (2**64 - 1)
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & (2**64 - 1)
        yield z ^ (z >> 31)


def columns_of(hand: velmo.Hand) -> list[int]:
    """The Python columns a hand's pair occupies."""
    x = hand.x
    if hand.rotation == velmo.Rotation.LEFT:
        return [x, x - 1]
    if hand.rotation == velmo.Rotation.RIGHT:
        return [x, x + 1]
    return [x]


def reachable_by_rule(heights: list[int]) -> set[int]:
    """The movement rule restated as a search over (column, riding) states, where riding counts how
    many rows' worth of lift the pair still has: 2 on a ledge or after a kick, 1 over the one
    lower column a ride allows, 0 down at its spawn height."""
    if heights[2] > 11:
        return set()
    lift_at_spawn = heights[1] >= 12 and heights[3] >= 12 or heights[2] == 11
    start = (2, 2 if lift_at_spawn else 0)
    seen, todo = {start}, [start]
    while todo:
        column, riding = todo.pop()
        for nxt in (column - 1, column + 1):
            if not 0 <= nxt < 6 or abs(nxt - 2) < abs(column - 2) or heights[nxt] >= 13:
                continue
            if heights[nxt] == 12 and riding == 0:
                continue
            state = (nxt, 2 if heights[nxt] in (11, 12) else (1 if riding == 2 and heights[column] == 12 else 0))
            if state not in seen:
                seen.add(state)
                todo.append(state)
    return {column for column, _ in seen}


def puyos_in(field: velmo.Field) -> int:
    """Every puyo of the 14 playable rows, the 14th row included."""
    return sum(cell not in (velmo.PuyoType.EMPTY, velmo.PuyoType.WALL) for column in field.to_array() for cell in column)


def legal_by_rule(field: velmo.Field, pair: velmo.Pair) -> list[int]:
    """The movement rule restated: every column the pair occupies is reachable, a child below
    needs its column at most 11 high, and the placement adds both puyos."""
    if field.get(2, 2) != velmo.PuyoType.EMPTY:
        return []
    heights = [field.get_height(x) for x in range(6)]
    reachable = reachable_by_rule(heights)
    legal = []
    for move, hand in enumerate(HANDS):
        if not set(columns_of(hand)) <= reachable:
            continue
        if hand.rotation == velmo.Rotation.BOTTOM and heights[hand.x] > 11:
            continue
        placed = field.clone()
        try:
            placed.put_hand(hand, pair)
        except RuntimeError:
            continue
        if puyos_in(placed) == puyos_in(field) + 2:
            legal.append(move)
    return legal


def play_random_game(game: Game, chooser, moves: int):
    """Yields (field before, pair, move, result) for up to `moves` moves."""
    for _ in range(moves):
        if game.is_over:
            return
        legal = game.legal_moves()
        before, pair = game.field, game.current_pair
        move = legal[next(chooser) % len(legal)]
        yield before, pair, move, game.play(move)


def test_seeded_random_games_agree_with_velmo_move_for_move():
    moves, all_bonuses = 0, 0
    for seed in range(40):
        game = Game(seed, colors=3 + seed % 2)
        chooser = splitmix64(seed)
        total, held, bonuses = 0, False, 0
        for before, pair, move, result in play_random_game(game, chooser, 400):
            assert game.legal_moves() == legal_by_rule(game.field, game.current_pair) or game.is_over
            assert legal_by_rule(before, pair).count(move) == 1
            replay = before.clone()
            replay.put_hand(HANDS[move], pair)
            chain = replay.chain()
            bonus = 2100 if held and chain.chain > 0 else 0
            held = (held and chain.chain == 0) or replay.is_all_clear()
            bonuses += bonus > 0
            assert (result.chain, result.score, result.all_clear_bonus) == (chain.chain, chain.score + bonus, bonus)
            assert game.all_clear == held
            assert sum(result.step_scores) == chain.score and len(result.step_scores) == chain.chain
            assert replay == game.field
            assert result.all_clear == replay.is_all_clear()
            assert result.game_over == (replay.get(2, 2) != velmo.PuyoType.EMPTY) == game.is_over
            total += result.score
            moves += 1
        assert game.score == total
        all_bonuses += bonuses
    assert moves > 2000 and all_bonuses > 0


def test_the_pairs_dealt_follow_the_sequence():
    game = Game(4, visible=3)
    sequence = PairSequence(4)
    for turn in range(6):
        assert game.turn == turn
        assert game.current_pair == sequence[turn]
        assert list(game.next_pairs) == sequence.take(3, start=turn + 1)
        game.play(game.legal_moves()[0])


def field_of(*rows: str) -> velmo.Field:
    return velmo.Field.from_str_array(list(rows))


def tower(column: int, height: int) -> list[str]:
    """Rows (top first) with a stack of `height` alternating colours in `column`, no groups."""
    rows = []
    for r in range(height):
        row = [" "] * 6
        row[column] = "RB"[(r // 2) % 2] if r % 4 < 2 else "GY"[(r // 2) % 2]
        rows.append("".join(row).rstrip())
    return rows


def field_of_heights(heights: list[int], fourteenth: tuple[int, ...] = ()) -> velmo.Field:
    """Columns stacked to `heights` without groups, and a puyo left in the 14th row of each column
    in `fourteenth`."""
    field = velmo.Field()
    for x, height in enumerate(heights):
        for r in range(height):
            field.put(x, (velmo.PuyoType.RED, velmo.PuyoType.BLUE, velmo.PuyoType.GREEN)[(r + x) % 3])
    for x in fourteenth:
        field.set(x, 0, velmo.PuyoType.YELLOW)
    return field


def moves_within(columns: set[int]) -> set[int]:
    return {m for m, hand in enumerate(HANDS) if set(columns_of(hand)) <= columns}


@pytest.mark.parametrize(
    "heights, reachable",
    [
        ([0, 12, 0, 0, 0, 0], {2, 3, 4, 5}),  # an isolated 12-high column is a wall at spawn height
        ([0, 0, 0, 12, 0, 0], {0, 1, 2}),
        ([0, 0, 0, 0, 12, 0], {0, 1, 2, 3}),
        ([0, 0, 0, 11, 12, 0], {0, 1, 2, 3, 4, 5}),  # 11-then-12 stairs: a floor kick lifts it over
        ([12, 11, 0, 0, 0, 0], {0, 1, 2, 3, 4, 5}),
        ([0, 0, 11, 12, 0, 0], {0, 1, 2, 3, 4, 5}),  # the kick at the spawn column itself
        ([0, 0, 0, 11, 5, 12], {0, 1, 2, 3, 4}),  # a kick serves only the 12-high column next to it
        ([0, 0, 11, 10, 12, 0], {0, 1, 2, 3}),  # kick, then a lower column: back down
        ([0, 0, 11, 12, 5, 12], {0, 1, 2, 3, 4, 5}),  # one lower column between two 12-high ones
        ([0, 0, 11, 12, 12, 12], {0, 1, 2, 3, 4, 5}),  # riding high over several
        ([0, 12, 5, 12, 0, 0], {0, 1, 2, 3, 4, 5}),  # the quick turn between two 12-high neighbours
        ([0, 12, 5, 12, 5, 12], {0, 1, 2, 3, 4, 5}),
        ([0, 13, 5, 12, 0, 0], {2, 3, 4, 5}),  # quick turn against a wall: the 12-high side opens
        ([0, 12, 5, 11, 12, 0], {2, 3, 4, 5}),  # no quick turn unless both neighbours are 12 or more
        ([0, 13, 0, 0, 0, 0], {2, 3, 4, 5}),  # 13 high is a wall, riding high or not
        ([0, 0, 11, 13, 0, 0], {0, 1, 2}),
        ([0, 0, 11, 12, 13, 0], {0, 1, 2, 3}),
        ([14, 0, 0, 0, 0, 14], {1, 2, 3, 4}),
        ([0, 0, 12, 0, 0, 0], set()),  # the spawn column must be at most 11 high
    ],
)
def test_the_arcade_movement_rule(heights, reachable):
    game = Game(field=field_of_heights(heights))
    assert reachable_by_rule(heights) == reachable
    expected = {m for m in moves_within(reachable) if not (HANDS[m].rotation == velmo.Rotation.BOTTOM and heights[HANDS[m].x] > 11)}
    assert set(game.legal_moves()) == expected
    assert game.legal_moves() == legal_by_rule(game.field, game.current_pair)


@pytest.mark.parametrize(
    "heights, fourteenth, column, rotation, legal",
    [
        ([12, 11, 0, 0, 0, 0], (0,), 0, velmo.Rotation.TOP, False),  # the child would land on the 14th-row puyo
        ([12, 11, 0, 0, 0, 0], (), 0, velmo.Rotation.TOP, True),
        ([12, 11, 0, 0, 0, 0], (0,), 1, velmo.Rotation.LEFT, True),  # one puyo fits in the 13th row
        ([12, 11, 0, 0, 0, 0], (), 0, velmo.Rotation.BOTTOM, False),  # a child below needs at most 11
        ([0, 11, 0, 0, 0, 0], (), 1, velmo.Rotation.BOTTOM, True),
        ([0, 11, 0, 0, 0, 0], (1,), 1, velmo.Rotation.TOP, True),  # 13th row and the stack top still free
    ],
)
def test_a_placement_adds_both_puyos(heights, fourteenth, column, rotation, legal):
    game = Game(field=field_of_heights(heights, fourteenth), sequence=[velmo.Pair(4, 5)])
    move = HANDS.index(velmo.Hand(column, rotation))
    assert game.is_legal(move) == legal
    if legal:
        before = puyos_in(game.field)
        placed = game.field.clone()
        placed.put_hand(HANDS[move], game.current_pair)
        assert puyos_in(placed) == before + 2


def test_no_legal_move_loses_a_puyo_on_random_high_fields():
    chooser = splitmix64(77)
    checked = 0
    for _ in range(600):
        heights = [[0, 9, 10, 11, 12, 13][next(chooser) % 6] for _ in range(6)]
        heights[2] = min(heights[2], 11)
        fourteenth = tuple(x for x in range(6) if next(chooser) % 3 == 0)
        field = field_of_heights(heights, fourteenth)
        game = Game(field=field, sequence=[velmo.Pair(4, 5)])
        assert game.legal_moves() == legal_by_rule(field, game.current_pair)
        for move in game.legal_moves():
            placed = field.clone()
            placed.put_hand(HANDS[move], game.current_pair)
            assert puyos_in(placed) == puyos_in(field) + 2
            checked += 1
    assert checked > 3000


def test_filling_the_death_cell_ends_the_game():
    game = Game(field=field_of(*tower(2, 10)), sequence=[velmo.Pair(4, 5)])
    assert not game.is_over
    result = game.play(2)  # top in Python column 2: the stack reaches 12
    assert result.game_over and game.is_over
    assert game.legal_moves() == [] and not game.action_mask().any()
    before = pickle.dumps(game)
    with pytest.raises(ValueError, match="the game is over"):
        game.play(0)
    assert pickle.dumps(game) == before


def test_a_game_starting_on_an_occupied_death_cell_is_over():
    assert Game(field=field_of(*tower(2, 12))).is_over


def test_an_all_clear_is_reported():
    game = Game(field=field_of("RR"), sequence=[velmo.Pair(4, 4)])
    result = game.play(HANDS.index(next(h for h in HANDS if h.x == 2 and h.rotation == velmo.Rotation.LEFT)))
    assert result.chain == 1 and result.score == 40 and result.all_clear and result.step_scores == (40,)
    assert game.field.is_all_clear() and game.score == 40 and game.all_clear


def test_the_all_clear_bonus_goes_to_the_next_chain_once():
    game = Game(field=field_of("RR"), sequence=[velmo.Pair(4, 4), velmo.Pair(5, 6), velmo.Pair(5, 5), velmo.Pair(5, 5)])
    left_in_2 = HANDS.index(velmo.Hand(2, velmo.Rotation.LEFT))
    game.play(left_in_2)  # the all clear
    quiet = game.play(HANDS.index(velmo.Hand(0, velmo.Rotation.TOP)))  # two other colours, no chain
    assert quiet.score == 0 and quiet.all_clear_bonus == 0 and game.all_clear
    game.play(HANDS.index(velmo.Hand(5, velmo.Rotation.TOP)))  # two of one colour in column 5
    state = game.__getstate__()
    fired = game.play(HANDS.index(velmo.Hand(4, velmo.Rotation.TOP)))  # two more next to them: four vanish
    assert fired.chain == 1 and fired.all_clear_bonus == 2100 == velmo_game.ALL_CLEAR_BONUS
    assert fired.score == fired.step_scores[0] + 2100 and not game.all_clear
    assert game.score == 40 + fired.score
    old = Game.__new__(Game)
    old.__setstate__((1, *state[1:7]))  # a state written before the bonus: restored with none held
    assert not old.all_clear and old.play(HANDS.index(velmo.Hand(4, velmo.Rotation.TOP))).all_clear_bonus == 0


@pytest.mark.parametrize(
    "move, error, message",
    [
        (22, ValueError, r"move must be in 0..21 .*not 22"),
        (-1, ValueError, "move must be in 0..21"),
        (2**70, ValueError, "move must be in 0..21"),
        ("3", TypeError, "move must be an int, not str"),
        (True, TypeError, "move must be an int"),
        (1.0, TypeError, "move must be an int"),
    ],
)
def test_bad_moves_raise_and_change_nothing(move, error, message):
    game = Game(1)
    before = pickle.dumps(game)
    with pytest.raises(error, match=message):
        game.play(move)
    assert pickle.dumps(game) == before


def test_an_illegal_move_raises_and_changes_nothing():
    game = Game(field=field_of(*tower(1, 13)))
    illegal = next(m for m in range(22) if not game.is_legal(m))
    before = pickle.dumps(game)
    with pytest.raises(ValueError, match=f"move {illegal} \\({HANDS[illegal].x + 1}-"):
        game.play(illegal)
    assert pickle.dumps(game) == before
    game.play(game.legal_moves()[0])  # still usable


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"seed": -1}, ValueError, "seed must be in"),
        ({"colors": 5}, ValueError, "colors must be 3 or 4"),
        ({"visible": 129}, ValueError, "visible must be in 0..128"),
        ({"visible": -1}, ValueError, "visible must be in 0..128"),
        ({"field": [[0] * 14] * 6}, TypeError, "field must be a velmo.Field, not list"),
        ({"field": velmo.ArrayField()}, TypeError, "field must be a velmo.Field, not velmo.ArrayField"),
        ({"sequence": []}, ValueError, "sequence must hold 1 to 256 pairs"),
        ({"sequence": [velmo.Pair(8, 8)]}, ValueError, "PURPLE"),
        ({"sequence": 5}, TypeError, "sequence must be a PairSequence or a sequence of velmo.Pair"),
    ],
)
def test_bad_game_arguments_are_refused(options, error, message):
    with pytest.raises(error, match=message):
        Game(**options)


def test_a_field_with_broken_walls_is_refused():
    state = bytearray(velmo.Field().__getstate__())
    state[24] = 0  # plane 1 starts at byte 24; its first two bytes are the left wall's lowest cells
    state[25] = 0
    walls_gone = velmo.Field.__new__(velmo.Field)
    walls_gone.__setstate__(bytes(state))
    with pytest.raises(ValueError, match="broken walls"):
        Game(field=walls_gone)


def test_copies_and_pickles_play_identically():
    game = Game(21, colors=3, visible=4)
    chooser = splitmix64(5)
    for _ in play_random_game(game, chooser, 30):
        pass
    twins = [game.clone(), copy.copy(game), copy.deepcopy(game), pickle.loads(pickle.dumps(game))]
    assert all(twin == game for twin in twins)
    moves = [next(chooser) for _ in range(60)]

    def play_on(g: Game) -> list[MoveResult]:
        results = []
        for draw in moves:
            if g.is_over:
                break
            legal = g.legal_moves()
            results.append(g.play(legal[draw % len(legal)]))
        return results

    expected = play_on(game)
    assert expected and all(play_on(twin) == expected for twin in twins)
    assert all(twin == game for twin in twins)


def test_a_clone_is_independent():
    game = Game(2)
    twin = game.clone()
    twin.play(0)
    assert game.turn == 0 and twin.turn == 1 and game != twin


def test_observation_shows_the_field_and_the_visible_pairs():
    game = Game(8, visible=2, field=field_of("Y", "GB", "RRO"))
    field, pairs = game.observation()
    assert field.shape == (14, 6) and field.dtype == np.uint8
    assert pairs.shape == (3, 2) and pairs.dtype == np.uint8
    expected = np.array([[game.field.get(x, y) for x in range(6)] for y in range(14)], dtype=np.uint8)
    np.testing.assert_array_equal(field, expected)
    assert field[13].tolist() == [4, 4, 1, 0, 0, 0] and field[11, 0] == 6
    shown = [game.current_pair, *game.next_pairs]
    assert pairs.tolist() == [[p.child + 1, p.axis + 1] for p in shown]
    mask = game.action_mask()
    assert mask.shape == (22,) and mask.dtype == np.int8 and np.flatnonzero(mask).tolist() == game.legal_moves()


def test_a_state_that_is_not_a_game_is_refused():
    game = Game.__new__(Game)
    good = Game(3).__getstate__()
    for state in [(), (3, *good[1:]), (2, b"\0" * 56, *good[2:]), good[:7], (1, *good[1:])]:
        with pytest.raises((ValueError, TypeError)):
            game.__setstate__(state)


@pytest.mark.parametrize("cls", [Game, PairSequence, MoveResult])
def test_every_class_and_public_method_has_a_docstring_and_a_signature(cls):
    assert cls.__doc__
    for name, member in vars(cls).items():
        if name.startswith("_") and name != "__init__":
            continue
        function = member.__func__ if isinstance(member, staticmethod) else member
        if isinstance(member, property):
            assert member.__doc__, name
            continue
        assert function.__doc__, name
        inspect.signature(function)


def test_signatures_name_the_real_parameters():
    assert str(inspect.signature(Game)).startswith("(seed: 'int' = 0, *, colors: 'int' = 4, visible: 'int' = 2, field:")
    assert list(inspect.signature(Game.play).parameters) == ["self", "move"]
    assert list(inspect.signature(PairSequence.from_pairs).parameters) == ["pairs"]
    assert velmo_game.NUM_MOVES == len(HANDS) == 22
