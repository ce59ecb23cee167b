"""Versus matches: ojama from score, leftover, offsetting, the all-clear bonus, how ojama falls,
game over and draws, the frames of every phase, bad input, and a match as a plain value."""

from __future__ import annotations

import copy
import inspect
import pickle
import random
from collections.abc import Callable

import numpy as np
import pytest

import velmo
import velmo_game
from velmo import Field, Pair, PuyoType
from velmo_game import Match, PairSequence, Rules, StepResult, Timing

R, B, Y, G = PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN
LETTERS = {"R": R, "B": B, "Y": Y, "G": G, "O": PuyoType.OJAMA}
MASK64 = 2**64 - 1

# A player that can never fire a chain: column x always takes a vertical pair of two colours
# alternating upwards, RED/BLUE in even columns and YELLOW/GREEN in odd ones, so no two
# neighbours ever match, ojama or not. Its move of turn t is t % 6 (x-top), its pairs alternate.
IDLE = [Pair(B, R), Pair(G, Y)]
# A chain that plays out in 19 frames: only the vanishing counts, one frame per step. (Native
# values are made inside the tests: one held by the module outlives the extension at exit.)
FAST_CHAINS = {"vanish_frames": 1, "chain_fall_frames_per_row": 0, "chain_landing_frames": 0}

# The two 19-chain fields of the benchmarks, with the puyos of the first group that the pair
# restores removed: (rows from the top, cells removed (x, y), pair, move, score).
FIRST_19 = ([".G.BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR", "BRBYBY", "RYYBYY", "BRBYBR", "BGBYRR",
             "YGBGBG", "RBGBGG"], [(2, 2), (2, 3)], Pair(R, Y), 2, 175_080)
SECOND_19 = (["B.YRGY", "BBBYRB", "GBYRGG", "BGYRGB", "GRGYRB", "RGYRYB", "GRGYRY", "GRGYRY", "GBBGYG", "BYRBGG", "GBYRBY",
              "GBYRBY", "GBYRBY"], [(2, 1), (2, 2)], Pair(Y, B), 2, 177_740)


def columns(*stacks: str) -> Field:
    """A field from six column stacks written bottom first ('RRB': two reds, a blue on top)."""
    field = Field()
    for x, stack in enumerate(stacks):
        for letter in stack:
            field.put(x, LETTERS[letter])
    return field


def nineteen(case: tuple[list[str], list[tuple[int, int]], Pair, int, int]) -> Field:
    rows, removed, _, _, _ = case
    field = Field.from_str_array([row.replace(".", "_") for row in rows])
    for x, y in removed:
        field.set(x, y, PuyoType.EMPTY)
    return field


def idle_move(match: Match, player: int) -> int:
    legal = match.players[player].legal_moves()
    wanted = match.players[player].turn % 6
    return wanted if wanted in legal else legal[0]


def drive(match: Match, scripts: dict[int, list[int]], until: Callable[[Match], bool] | None = None,
          limit: int = 400) -> list[StepResult]:
    """Steps the match: scripted players play their moves in order, then idle. Stops once every
    script is used up and player 0 is due again (or `until` holds, or the match ends)."""
    queues = {p: list(moves) for p, moves in scripts.items()}
    results = []
    for _ in range(limit):
        if match.is_over or (until(match) if until else not any(queues.values()) and 0 in match.to_move()):
            return results
        moves = {p: queues[p].pop(0) if queues.get(p) else idle_move(match, p) for p in match.to_move()}
        results.append(match.step(moves))
    raise AssertionError("the match did not get there")


def total(results: list[StepResult], player: int, name: str) -> int:
    return sum(getattr(r.players[player], name) for r in results)


def idle_match(field0: Field | None = None, pairs0: list[Pair] | None = None, *, field1: Field | None = None,
               pairs1: list[Pair] | None = None, **options: object) -> Match:
    return Match(fields=[field0 or Field(), field1 or Field()], sequences=[pairs0 or IDLE, pairs1 or IDLE], **options)


# --- score to ojama --------------------------------------------------------------------------------


@pytest.mark.parametrize("case", [FIRST_19, SECOND_19], ids=["first", "second"])
def test_the_19_chains_send_their_score_over_70_and_keep_the_remainder(case):
    _, _, pair, move, score = case
    match = idle_match(nineteen(case), [pair], timing=Timing(**FAST_CHAINS))
    results = drive(match, {0: [move]})
    mover = results[0].players[0]
    assert (mover.chain, mover.score) == (19, score)
    assert mover.ojama_produced == score // 70
    assert match.players[0].leftover == score % 70 == 10
    assert total(results, 0, "ojama_sent") == score // 70
    assert match.players[1].pending_ojama + total(results, 1, "ojama_received") + total(results, 1, "ojama_discarded") == score // 70


def test_leftover_carries_from_step_to_step_and_from_chain_to_chain():
    # Four reds (40 points) leave 40; a 2-chain (40 + 320) then makes (40+40)//70 = 1 after
    # its first step and (320+10)//70 = 4 after its second, leaving 50.
    field = columns("RRR", "", "", "", "BBB", "YYY")
    pairs = [Pair(B, R), Pair(Y, B), Pair(G, G)]  # 1-top; 5-top; a filler
    match = idle_match(field, pairs)
    first = drive(match, {0: [0]})
    assert first[0].players[0].score == 40 and first[0].players[0].ojama_produced == 0
    assert match.players[0].leftover == 40
    second = drive(match, {0: [4]})
    events = second[0].players[0]
    assert events.step_scores == (40, 320)
    assert events.ojama_produced == 1 + 4 and match.players[0].leftover == 50


# --- offsetting ------------------------------------------------------------------------------------

# A 1-step chain of 8 puyos in two colours: 240 points, 3 ojama, ends at frame 42 + 50 = 92.
SHORT = (columns("RRR", "BBB", "", "", "", ""), [Pair(B, R)], 17)
# A 2-chain (40 + 320 = 360 points, 5 ojama), ends at frame 42 + 78 + 50 = 170.
LONG = (columns("RRR", "GGG", "", "", "", ""), [Pair(G, R)], 0)


@pytest.mark.parametrize("long_player", [0, 1])
def test_a_later_chain_offsets_the_pending_ojama_first_and_sends_the_rest(long_player):
    short_player = 1 - long_player
    fields, pairs, moves = [None, None], [None, None], {}
    for player, (field, pair, move) in ((long_player, LONG), (short_player, SHORT)):
        fields[player], pairs[player], moves[player] = field, pair + IDLE, [move]
    match = Match(fields=fields, sequences=pairs)
    results = drive(match, moves, until=lambda m: m.frame > 170)
    short_events = [r.players[short_player] for r in results]
    long_events = [r.players[long_player] for r in results]
    assert sum(e.ojama_sent for e in short_events) == 3 and sum(e.offset for e in short_events) == 0
    assert sum(e.offset for e in long_events) == 3 and sum(e.ojama_sent for e in long_events) == 2
    assert match.players[long_player].pending_ojama == 0
    assert match.players[short_player].pending_ojama + total(results, short_player, "ojama_received") == 2


def test_without_offsetting_both_players_keep_what_they_receive():
    match = Match(fields=[LONG[0], SHORT[0]], sequences=[LONG[1] + IDLE, SHORT[1] + IDLE], rules=Rules(offsetting=False))
    results = drive(match, {0: [LONG[2]], 1: [SHORT[2]]}, until=lambda m: m.frame > 170)
    assert total(results, 0, "offset") == 0 and total(results, 0, "ojama_sent") == 5
    assert match.players[0].pending_ojama + total(results, 0, "ojama_received") == 3


def test_pending_ojama_waits_for_the_end_of_the_receivers_own_chain():
    match = Match(fields=[LONG[0], SHORT[0]], sequences=[LONG[1] + IDLE, SHORT[1] + IDLE], rules=Rules(offsetting=False))
    match.step({0: LONG[2], 1: SHORT[2]})
    assert match.frame == 92 + 12 and match.players[0].pending_ojama == 3
    assert ojama_heights(match.players[0].field) == [0] * 6
    results = drive(match, {}, until=lambda m: 0 in m.to_move())
    fell = [r.players[0] for r in results if r.players[0].ojama_received]
    assert len(fell) == 1 and fell[0].ojama_received == 3
    # 3 ojama fall 13 rows onto the cleared field (48 frames) and land in 8.
    assert fell[0].ojama_fall_frames == 48 + 8 and match.frame == 170 + 56 + 12
    assert sum(ojama_heights(match.players[0].field)) == 3


def test_ojama_committed_at_the_chain_end_not_before():
    match = Match(fields=[LONG[0], Field()], sequences=[LONG[1] + IDLE, IDLE])
    drive(match, {0: [LONG[2]]}, until=lambda m: m.frame >= 42)
    assert match.players[0].chain_end_frame == 170 and match.players[0].ojama_in_flight == 5
    assert match.players[1].pending_ojama == 0
    drive(match, {}, until=lambda m: m.frame >= 170)
    assert match.players[0].ojama_in_flight == 0 and match.players[0].chain_end_frame is None


# --- the all-clear bonus ---------------------------------------------------------------------------


def test_the_all_clear_bonus_adds_2100_points_to_the_next_chain_only():
    field = columns("RRR", "", "", "", "", "")
    pairs = [Pair(R, R), Pair(Y, B), Pair(B, B), Pair(G, B), Pair(Y, Y), Pair(R, Y)]
    match = idle_match(field, pairs)
    cleared = drive(match, {0: [0]})[0].players[0]
    assert cleared.all_clear and cleared.score == 100 and cleared.ojama_produced == 1  # 100 // 70, 30 left
    assert match.players[0].all_clear
    building = drive(match, {0: [0, 1]})
    assert not any(r.players[0].all_clear_bonus_used for r in building) and match.players[0].all_clear
    bonus = drive(match, {0: [2]})[0].players[0]
    assert bonus.score == 40 + 2100 and bonus.all_clear_bonus == 2100 and bonus.all_clear_bonus_used and not bonus.all_clear
    assert bonus.ojama_produced == (40 + 30 + 2100) // 70 == 31  # the bonus is 30 ojama at 70
    assert match.players[0].score == 100 + 40 + 2100
    assert not match.players[0].all_clear
    drive(match, {0: [0]})
    after = drive(match, {0: [0]})[0].players[0]
    assert after.chain == 1 and not after.all_clear_bonus_used and after.all_clear_bonus == 0 and after.ojama_produced == 0


# --- how ojama falls ------------------------------------------------------------------------------


def splitmix64(state: int):
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        yield z ^ (z >> 31)


def below(draws, n: int) -> int:
    """Lemire's multiply-and-reject, as documented for SplitMix64.below."""
    product = next(draws) * n
    if product & MASK64 < n:
        threshold = (2**64 - n) % n
        while product & MASK64 < threshold:
            product = next(draws) * n
    return product >> 64


def derive_seed(seed: int, index: int) -> int:
    z = (seed + 0x9E3779B97F4A7C15 * (index + 1)) & MASK64
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
    return z ^ (z >> 31)


def expected_extra_columns(seed: int, count: int) -> list[int]:
    draws, order = splitmix64(derive_seed(seed, 1)), list(range(6))
    for i in range(count):
        j = i + below(draws, 6 - i)
        order[i], order[j] = order[j], order[i]
    return sorted(order[:count])


def ojama_heights(field: Field) -> list[int]:
    return [sum(field.get(x, y) == PuyoType.OJAMA for y in range(14)) for x in range(6)]


def first_fall(seed: int, rules: Rules) -> tuple[Match, StepResult]:
    """Player 1 fires the first 19-chain; player 0 idles until ojama falls on it."""
    match = Match(seed, fields=[Field(), nineteen(FIRST_19)], sequences=[IDLE, [FIRST_19[2]] + IDLE], rules=rules,
                  timing=Timing(**FAST_CHAINS))
    results = drive(match, {1: [FIRST_19[3]]}, until=lambda m: m.players[0].field.get_num_puyos() > 2 * m.players[0].turn)
    return match, results[-1]


def test_at_most_30_fall_at_once_in_five_whole_rows():
    match, result = first_fall(0, Rules())
    assert result.players[0].ojama_received == 30
    assert ojama_heights(match.players[0].field) == [5] * 6
    assert match.players[0].pending_ojama == 2501 - 30


@pytest.mark.parametrize("seed", [0, 1, 7, 2024])
def test_whole_rows_first_then_distinct_columns_drawn_from_the_seed(seed):
    match, result = first_fall(seed, Rules(max_ojama_per_fall=10))
    assert result.players[0].ojama_received == 10
    heights = ojama_heights(match.players[0].field)
    assert sorted(heights) == [1, 1, 2, 2, 2, 2]
    assert [x for x in range(6) if heights[x] == 2] == expected_extra_columns(seed, 4)


def test_ojama_stacks_up_to_the_13th_row_and_the_rest_is_discarded():
    # Player 0's columns stand 12, 13, 0, 12, 12, 12 high, in colours that never connect.
    wall = "RBRBRBRBRBRB"
    field = columns(wall, "YGYGYGYGYGYGY", "", wall, "YGYGYGYGYGYG", wall)
    match = Match(fields=[field, nineteen(FIRST_19)], sequences=[IDLE, [FIRST_19[2]] + IDLE], timing=Timing(**FAST_CHAINS))
    results = drive(match, {0: [2], 1: [FIRST_19[3]]}, until=lambda m: ojama_heights(m.players[0].field) != [0] * 6)
    events = results[-1].players[0]
    assert ojama_heights(match.players[0].field) == [1, 0, 5, 1, 1, 1]
    assert (events.ojama_received, events.ojama_discarded) == (9, 21)
    assert match.players[0].pending_ojama == 2501 - 30
    # The chain ended at frame 22 + 19, before the pair landed at 42: the fall follows that
    # placement. The longest fall is from the 14th row onto the column 2 high, 11 rows, and 9
    # ojama land in 24 frames.
    assert events.ojama_fall_frames == Timing().slow_fall_frames[11] + 24
    assert not match.is_over


# --- game over and draws ---------------------------------------------------------------------------

NEAR_DEATH = columns("", "", "RBRBRBRBRB", "", "", "")  # the third column 10 high


@pytest.mark.parametrize(("moves", "winner"), [
    ({0: 2, 1: 2}, None),  # both top out at frame 22: a draw
    ({0: 2, 1: 13}, 0),  # 3-bottom lands in 20 frames, 3-top in 22: player 1 is out first
    ({0: 0, 1: 2}, 0),
    ({0: 2, 1: 0}, 1),
])
def test_a_topped_out_player_loses_and_a_same_frame_double_top_out_is_a_draw(moves, winner):
    match = Match(fields=[NEAR_DEATH, NEAR_DEATH], sequences=[[Pair(G, Y)], [Pair(G, Y)]])
    result = match.step(moves)
    assert match.is_over and result.is_over
    assert match.winner == result.winner == winner
    assert [p.lost for p in match.players] == [winner != 0, winner != 1]
    assert match.to_move() == [] and match.players[0].legal_moves() == []


def test_ojama_that_fills_the_death_cell_loses_once_the_fall_has_landed():
    near = columns("", "", "RBRBRBRBR", "", "", "")  # the third column 9 high: room for 4 more
    match = Match(fields=[near, nineteen(FIRST_19)], sequences=[IDLE, [FIRST_19[2]] + IDLE], timing=Timing(**FAST_CHAINS))
    results = drive(match, {0: [0], 1: [FIRST_19[3]]}, until=lambda m: False)
    assert (total(results, 0, "ojama_received"), total(results, 0, "ojama_discarded")) == (29, 1)
    assert results[-1].players[0].lost and not any(r.players[0].lost for r in results[:-1])
    # 1-top lands at 48; the 30 ojama fall 13 rows (48 frames) and 29 land in 32.
    assert match.is_over and match.winner == 1 and match.frame == 48 + 48 + 32


def test_the_frame_limit_ends_the_match_as_a_draw():
    match = Match(3, rules=Rules(frame_limit=200))
    drive(match, {}, until=lambda m: False)
    assert match.is_over and match.winner is None and match.frame == 200
    assert not any(p.lost for p in match.players)
    with pytest.raises(ValueError, match="over"):
        match.step({})


def test_a_starting_field_is_settled_and_a_dead_one_loses_at_once():
    floating = Field().set(0, 5, R).set(1, 13, B).set(1, 12, B).set(1, 11, B).set(1, 10, B)
    match = Match(fields=[floating, Field()])
    field = match.players[0].field
    assert field.get(0, 13) == R and field.get_num_puyos() == 1 and match.players[0].score == 0
    dead = Match(fields=[Field(), columns("", "", "RBRBRBRBRBRB", "", "", "")])
    assert dead.is_over and dead.winner == 0 and dead.frame == 0


# --- frames ----------------------------------------------------------------------------------------


@pytest.mark.parametrize(("field", "move", "frames"), [
    (Field(), 2, 0 + 2 * 11 + 20),  # 3-top: no travel, 11 rows
    (Field(), 0, 6 + 2 * 11 + 20),  # 1-top: two columns of travel
    (Field(), 5, 8 + 2 * 11 + 20),  # 6-top: three
    (Field(), 13, 0 + 2 * 10 + 20),  # 3-bottom: the child starts in the 11th row
    (Field(), 7, 0 + 2 * 11 + 20),  # 3-left: both in the 12th row, no split
    (columns("RBR", "", "", "", "", ""), 17, 6 + 2 * 8 + 20 + 22 + 20),  # 1-right: a split of 3 rows, landing twice
    (columns("", "", "", "RBRBRBRBRBR", "", ""), 3, 4 + 0 + 20),  # 4-top on 11: lands at once
])
def test_the_frames_of_a_placement(field, move, frames):
    assert Timing().placement_frames(field, move) == frames
    match = Match(fields=[field, Field()], sequences=[[Pair(G, Y)], IDLE])
    events = match.step({0: move, 1: 2}).players[0]
    assert events.placement_frames == frames and events.chain_frames == 0
    drive(match, {}, until=lambda m: 0 in m.to_move())
    assert match.frame == frames + 12


def test_the_frames_of_each_chain_step_and_of_the_turn():
    match = Match(fields=[LONG[0], Field()], sequences=[LONG[1] + IDLE, IDLE])
    events = match.step({0: LONG[2], 1: 2}).players[0]
    # The first step: 50 vanishing, the green falls 4 rows (8), lands (20); the second: nothing falls.
    assert events.chain_step_frames == (78, 50) and events.chain_frames == 128
    assert events.placement_frames == 42
    drive(match, {}, until=lambda m: 0 in m.to_move())
    assert match.frame == 42 + 128 + 12


def test_custom_timing_is_used_throughout():
    timing = Timing(spawn_delay=0, move_frames=(1, 1, 1, 1, 1, 1), drop_frames_per_row=0, landing_frames=5, vanish_frames=7,
                    chain_landing_frames=0, chain_fall_frames_per_row=1)
    match = Match(fields=[LONG[0], Field()], sequences=[LONG[1] + IDLE, IDLE], timing=timing)
    events = match.step({0: LONG[2], 1: 2}).players[0]
    assert events.placement_frames == 6 and events.chain_step_frames == (7 + 4, 7)
    drive(match, {}, until=lambda m: 0 in m.to_move())
    assert match.frame == 6 + 18


# --- moves and bad input ---------------------------------------------------------------------------


def test_both_players_are_due_at_first_and_then_whoever_is_next():
    match = Match(1)
    assert match.to_move() == [0, 1] and match.frame == 0
    match.step({0: 2, 1: 0})  # 42 frames against 48
    assert match.to_move() == [0] and match.frame == 54
    assert match.players[1].next_decision_frame == 60 and match.players[1].legal_moves() == []


@pytest.mark.parametrize(("moves", "error", "message"), [
    ({0: 2}, ValueError, "player 1 must move"),
    ({0: 2, 1: 30}, ValueError, "player 1's move must be in 0..21"),
    ({0: 2, 1: -1}, ValueError, "0..21"),
    ({0: 2, 2: 2}, ValueError, "player must be in 0..1"),
    ({0: 2, 1: "2"}, TypeError, "must be an int"),
    ([2, 2], TypeError, "mapping"),
])
def test_bad_moves_raise_and_change_nothing(moves, error, message):
    match = Match(4)
    before = match.clone()
    with pytest.raises(error, match=message):
        match.step(moves)
    assert match == before


def test_a_move_of_a_player_not_due_or_an_illegal_one_changes_nothing():
    match = Match(fields=[Field(), columns("", "RBRBRBRBRBRBR", "", "", "", "")])
    match.step({0: 2, 1: 5})  # due again at 54 and 62
    before = match.clone()
    with pytest.raises(ValueError, match="player 1 is not due"):
        match.step({0: 2, 1: 2})
    assert match == before
    drive(match, {}, until=lambda m: 1 in m.to_move())
    before = match.clone()
    illegal = 0  # 1-top: the second column is a wall of 13
    assert illegal not in match.players[1].legal_moves()
    due = {p: 2 for p in match.to_move()}
    with pytest.raises(ValueError, match="not legal"):
        match.step({**due, 1: illegal})
    assert match == before


def test_constructor_arguments_are_checked():
    with pytest.raises(TypeError, match="one value per player"):
        Match(fields=[Field()])
    with pytest.raises(TypeError, match="velmo.Field"):
        Match(fields=[Field(), "field"])
    with pytest.raises(TypeError, match="Rules"):
        Match(rules=Timing())
    with pytest.raises(ValueError, match="seed"):
        Match(-1)
    with pytest.raises(ValueError, match="target_points"):
        Rules(target_points=0)
    with pytest.raises(TypeError, match="6 ints"):
        Timing(move_frames=(1, 2))
    with pytest.raises(ValueError, match="ascending"):
        Timing(ojama_landing_thresholds=(5, 2))


# --- records, views, observations ------------------------------------------------------------------


@pytest.mark.parametrize("make", [Rules, lambda: Rules(target_points=120, offsetting=False, frame_limit=None), Timing,
                                  lambda: Timing(spawn_delay=0, ojama_landing_frames=(1, 2, 3))])
def test_rules_and_timing_are_frozen_values(make):
    value = make()
    assert pickle.loads(pickle.dumps(value)) == value == copy.deepcopy(value)
    assert eval(repr(value), vars(velmo_game)) == value
    assert hash(value) == hash(copy.copy(value))
    with pytest.raises(AttributeError):
        value.spawn_delay = 3 if isinstance(value, Timing) else None  # type: ignore[misc]


def test_defaults_are_the_documented_constants():
    r = Rules()
    assert (r.target_points, r.all_clear_bonus, r.max_ojama_per_fall, r.frame_limit) == (70, 2100, 30, 36000)
    assert (r.margin_time, r.margin_interval) == (5760, 960)
    assert velmo_game.MARGIN_TARGET_POINTS == (70, 52, 34, 25, 16, 12, 8, 6, 4, 3, 2, 1)
    assert Match(0).rules == Rules() and Match(0).timing == Timing()
    versus = velmo_game.VecGame(2, versus=True)
    assert versus.rules == Rules() and versus.timing == Timing()
    for cls in (Rules, Timing):  # the signature's defaults are the values a bare instance holds
        defaults = {name: p.default for name, p in inspect.signature(cls).parameters.items()}
        assert cls(**defaults) == cls() and all(getattr(cls(), name) == value for name, value in defaults.items())
    t = Timing()
    assert (t.spawn_delay, t.move_frames, t.drop_frames_per_row, t.landing_frames) == (12, (0, 4, 6, 8, 10, 12), 2, 20)
    assert t.slow_fall_frames == (0, 10, 16, 22, 24, 28, 32, 34, 36, 40, 42, 44, 46, 48, 50, 52)
    assert (t.vanish_frames, t.chain_fall_frames_per_row, t.chain_landing_frames) == (50, 2, 20)
    assert (t.ojama_landing_thresholds, t.ojama_landing_frames) == ((3, 18), (8, 24, 32))


def test_views_read_the_live_match_and_observations_hold_both_sides():
    match = Match(9, visible=3)
    view = match.players[1]
    sequence = PairSequence(9)
    assert view.current_pair == sequence[0] and view.next_pairs == tuple(sequence.take(3, 1))
    match.step({0: 2, 1: 0})
    assert view.turn == 1 and view.current_pair == sequence[1]
    assert view.field == match.players[1].field and view.field.get(0, 13) != PuyoType.EMPTY
    obs = match.observation(0)
    assert obs["field"].shape == obs["opponent_field"].shape == (14, 6) and obs["field"].dtype == np.uint8
    assert obs["pairs"].shape == (4, 2) and obs["pending_ojama"].tolist() == [0, 0]
    assert obs["opponent_field"][13, 0] == view.field.get(0, 13)
    assert obs["opponent_pairs"].tolist() == sequence.to_numpy(4, 1).tolist()
    assert match.players[0].action_mask().tolist() == [m in match.players[0].legal_moves() for m in range(22)]
    assert match.legal_moves(0) == match.players[0].legal_moves() and match.legal_moves(1) == []


# --- a match is a plain value -----------------------------------------------------------------------


def random_match(seed: int, moves: int, match: Match | None = None, chooser: random.Random | None = None) -> Match:
    match = match or Match(seed)
    chooser = chooser or random.Random(seed)
    for _ in range(moves):
        if match.is_over:
            break
        match.step({p: chooser.choice(match.players[p].legal_moves()) for p in match.to_move()})
    return match


@pytest.mark.parametrize("seed", [0, 1, 2, 3])
def test_seeded_random_matches_are_reproducible_and_copies_play_on_identically(seed):
    assert random_match(seed, 60) == random_match(seed, 60)
    halfway = random_match(seed, 25)
    chooser = random.Random(99)
    copies = [halfway.clone(), copy.copy(halfway), copy.deepcopy(halfway), pickle.loads(pickle.dumps(halfway))]
    assert all(c == halfway for c in copies)
    state = chooser.getstate()
    finished = random_match(seed, 2000, halfway, chooser)
    for other in copies:
        chooser.setstate(state)
        assert random_match(seed, 2000, other, chooser) == finished
    assert finished.is_over


def test_random_matches_keep_the_invariants():
    rng = random.Random(5)
    for seed in range(20):
        match, frame = Match(seed), 0
        while not match.is_over:
            result = match.step({p: rng.choice(match.players[p].legal_moves()) for p in match.to_move()})
            assert result.frame >= frame and result.frame_before == frame
            frame = result.frame
            pending = [p.pending_ojama for p in match.players]
            assert min(pending) == 0  # offsetting leaves ojama pending against one side at most
            assert all(p.leftover < 70 for p in match.players)
        assert match.winner is None or match.players[match.winner].lost is False


def test_an_invalid_state_is_refused():
    state = list(Match(0).__getstate__())
    state[0] = 99
    with pytest.raises(ValueError, match="invalid Match state"):
        Match.__new__(Match).__setstate__(tuple(state))
    players = Match(0).__getstate__()[8]
    broken = list(players[0])
    broken[0] = b"\x00" * 56
    good = list(Match(0).__getstate__())
    good[8] = (tuple(broken), players[1])
    with pytest.raises(ValueError, match="invalid Match state"):
        Match.__new__(Match).__setstate__(tuple(good))


def test_the_same_sequence_for_both_players_unless_told_otherwise():
    match = Match(11, colors=3)
    assert match.players[0].sequence == match.players[1].sequence == PairSequence(11, colors=3)
    other = Match(11, sequences=[PairSequence(1), [Pair(R, R)]])
    assert other.players[0].sequence == PairSequence(1) and other.players[1].current_pair == Pair(R, R)
    assert isinstance(velmo.Hand.enumerate()[0], velmo.Hand)


# --- margin time -----------------------------------------------------------------------------------


@pytest.mark.parametrize(("rules", "frame", "expected"), [
    (Rules(), 5759, 70), (Rules(), 5760, 52), (Rules(), 6719, 52), (Rules(), 6720, 34),
    (Rules(), 5760 + 9 * 960, 2), (Rules(), 5760 + 10 * 960, 1), (Rules(), 10**12, 1),
    (Rules(margin_time=None), 10**12, 70),
    (Rules(target_points=30), 5760 + 960, 30), (Rules(target_points=30), 5760 + 2 * 960, 25),  # never above the base rate
    (Rules(margin_time=0, margin_interval=1), 3, 16),
])
def test_target_points_follow_the_margin_table(rules, frame, expected):
    assert rules.target_points_at(frame) == expected


@pytest.mark.parametrize("rules", [Rules(), Rules(margin_time=1000, margin_interval=100), Rules(margin_time=None)])
def test_each_chain_step_converts_at_the_rate_in_force_as_it_vanishes(rules):
    # Pairs of one colour: two upright pairs in the spawn column vanish, so both players keep
    # firing small chains well past margin time.
    match = Match(0, rules=rules, sequences=[[Pair(R, R)], [Pair(R, R)]])
    checked_late = 0
    while not match.is_over and match.frame < 9000:
        leftover = [p.leftover for p in match.players]
        moves = {p: 2 if 2 in match.legal_moves(p) else match.legal_moves(p)[0] for p in match.to_move()}
        result = match.step(moves)
        for events in result.players:
            if not events.chain:
                continue
            frame, rest, produced = result.frame_before + events.placement_frames, leftover[events.player], 0
            bonus = [events.all_clear_bonus] + [0] * events.chain
            for score, frames, extra in zip(events.step_scores, events.chain_step_frames, bonus):
                score += extra
                rate = rules.target_points_at(frame)
                produced, rest = produced + (score + rest) // rate, (score + rest) % rate
                frame += frames
            assert (events.ojama_produced, match.players[events.player].leftover) == (produced, rest)
            checked_late += result.frame_before > 5760
    assert not match.is_over and checked_late > 20


def test_old_match_and_rules_pickles_are_refused_clearly():
    state = Match(0).__getstate__()
    with pytest.raises(ValueError, match="version 1 was written before margin time"):
        Match.__new__(Match).__setstate__((1, *state[1:]))
    with pytest.raises(ValueError, match="pickled before margin time"):
        Rules.__new__(Rules).__setstate__(Rules().__getstate__()[:5])
    assert pickle.loads(pickle.dumps(Match(0))) == Match(0)
