"""The beam player: its evaluation's features on hand-built fields, its choice of the first move by
the chains reached, futures and threads, budgets, Ctrl-C, presets and its reading of the ojama."""

import _thread
import threading

import pytest
import velmo

import velmo_game
from velmo_game.players import PRESETS, BeamSearch, _placements_before_landing
from velmo_game.search import evaluate_features, expand

from conftest import needs_ctrl_c

P = velmo.Pair
# Stairs (R, then B, then Y): one more R in the first column fires three links.
STAIRS = ["_BY___", "_BY___", "RBY___", "RRBY__"]
# The same with the last step's colour broken (G where Y belongs): two links.
BROKEN_STAIRS = ["_BY___", "_BY___", "RBY___", "RRBG__"]
# A GTR-style base at the left (R fires into B) and the same with B and Y mixed.
BASE = ["B_____", "RRB___", "RBB___"]
MIXED_BASE = ["B_____", "RRY___", "RBB___"]
# Alternating colours 13 high in the first column: one puyo in the 13th row.
TALL = ["R_____", "B_____", "Y_____", "G_____"] * 3 + ["R_____"]


# A triple in the sixth column, and the same behind a fourth column 13 high that no pair crosses.
RIGHT_TRIPLE = ["______"] * 10 + ["_____R"] * 3
WALLED_TRIPLE = [f"___{'RBYG'[row % 4]}_{cell}" for row, cell in enumerate("_" * 10 + "RRR")]


def features(rows, max_added=2):
    return evaluate_features(velmo.Field.from_str_array(rows), max_added=max_added)


@pytest.mark.parametrize(
    ("rows", "max_added", "expected"),
    [
        (STAIRS, 2, {"chain": 3, "added": 1, "trigger_height": 2, "trigger_room": 8, "wells": 1, "bumps": 3}),
        (BROKEN_STAIRS, 2, {"chain": 2, "added": 1}),
        (["B_G___", "B_G___"], 1, {"chain": 0, "link2": 2, "link3": 0}),  # two puyos short: nothing fires
        (["R_B___", "R_B___", "R_B___"], 1, {"chain": 1, "link2": 0, "link3": 1, "left": 3}),  # the triple left over
        (["R_R___", "B_B___", "R_R___", "B_B___"], 1, {"wells": 3, "bumps": 9}),
        (TALL, 1, {"hidden": 1, "chain": 0}),
        (RIGHT_TRIPLE, 1, {"chain": 1, "link3": 0}),
        (WALLED_TRIPLE, 1, {"chain": 0, "link3": 1}),  # its trigger is out of reach
    ],
    ids=["stairs", "broken-stairs", "pairs", "triples", "well", "13th-row", "reachable-trigger", "unreachable-trigger"],
)
def test_features_of_hand_built_fields(rows, max_added, expected):
    found = features(rows, max_added)
    assert {name: found[name] for name in expected} == expected


@pytest.mark.parametrize(("good", "bad"), [(STAIRS, BROKEN_STAIRS), (BASE, MIXED_BASE)], ids=["stairs", "base"])
def test_templates_want_consistent_colours(good, bad):
    assert features(good)["template_match"] > features(bad)["template_match"]
    assert features(good)["value"] > features(bad)["value"]


def test_a_longer_chain_outweighs_its_score_and_weights_change_the_value():
    stairs = velmo.Field.from_str_array(STAIRS)
    plain = evaluate_features(stairs)["value"]
    assert evaluate_features(stairs, weights={"chain": 10_000})["value"] > plain
    with pytest.raises(ValueError, match="unknown weight"):
        evaluate_features(stairs, weights={"nonsense": 1.0})
    with pytest.raises(ValueError, match="finite"):
        evaluate_features(stairs, weights={"chain": float("nan")})


def moves_of(player, seed=8, moves=12):
    game = velmo_game.Game(seed)
    chosen = []
    while not game.is_over and game.turn < moves:
        move = player.choose(game)
        assert move in game.legal_moves()
        chosen.append(move)
        game.play(move)
    return chosen


@pytest.mark.parametrize(("queues", "fixed_queues", "settle"), [(1, False, 0), (3, False, 0), (3, True, 0), (4, False, 2)])
def test_the_move_is_the_same_for_a_seed_whatever_the_thread_count(queues, fixed_queues, settle):
    runs = [moves_of(BeamSearch(12, 5, seed=2, queues=queues, threads=threads, fixed_queues=fixed_queues,
                                settle_queues=settle))
            for threads in (1, 2, 1)]
    assert runs[0] == runs[1] == runs[2]
    if fixed_queues:  # no pair is drawn, so the seed plays no part
        assert moves_of(BeamSearch(12, 5, seed=9, queues=queues, fixed_queues=True, settle_queues=settle)) == runs[0]


def test_the_later_futures_are_searched_only_where_the_first_ones_differ():
    game = velmo_game.Game(8)
    outcomes = set()
    while game.turn < 14:
        settled = BeamSearch(12, 6, seed=3, queues=4, settle_queues=2)
        first, every = BeamSearch(12, 6, seed=3, queues=2), BeamSearch(12, 6, seed=3, queues=4, settle_queues=0)
        chosen = settled.choose(game), settled.last_nodes
        by_first, by_every = (first.choose(game), first.last_nodes), (every.choose(game), every.last_nodes)
        assert chosen in (by_first, by_every)
        outcomes.add(chosen == by_first)
        game.play(chosen[0])
    assert outcomes == {True, False}  # both happened: the two futures agreed on some turns, not on others


@pytest.mark.parametrize(("budget", "queues"), [(300, 1), (600, 3)])
def test_the_node_budget_holds_on_a_loaded_field(budget, queues):
    game = velmo_game.Game(4)
    while game.field.get_num_puyos() < 40:
        game.play(BeamSearch(4, 2).choose(game))
    player = BeamSearch(256, 12, node_budget=budget, queues=queues)
    player.choose(game)
    # Each future checks its share between expansions: one expansion (22 children) over it at most.
    assert 0 < player.last_nodes <= budget + 22 * (queues + 1)


@needs_ctrl_c
def test_ctrl_c_stops_a_long_search():
    player = BeamSearch(65536, 256, queues=4)  # minutes of work unless stopped
    timer = threading.Timer(0.05, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            player.choose(velmo_game.Game(1))
    finally:
        timer.cancel()


def test_the_biggest_chain_below_a_move_chooses_it():
    """Two placements before the end: firing the stairs now (1,060) loses to the quiet move whose
    next pair fires more (1,500), which the player finds and then fires."""
    game = velmo_game.Game(field=velmo.Field.from_str_array(STAIRS), sequence=[P(4, 4), P(5, 6), P(7, 7)], visible=2)
    player = BeamSearch(8, 3, end_turn=2)
    first = game.play(player.choose(game))
    second = game.play(player.choose(game))
    assert (first.score, second.score) == (0, 1500)


def test_stacking_a_column_to_the_top_buys_no_chain():
    """Any chain is worth firing from a field near the top, but only from the one the player
    moves from: R R on the 11-high fourth column (to 13) would otherwise let B B's 40 points
    outrank every quiet move."""
    column = "YG" * 6
    rows = [("B" if row >= 9 else "_") + f"__{column[row]}__" for row in range(11)]
    game = velmo_game.Game(field=velmo.Field.from_str_array(rows), sequence=[P(4, 4), P(5, 5), P(7, 6)], visible=2)
    game.play(BeamSearch(32, 2).choose(game))
    assert game.field.get_height(3) == 11


@pytest.mark.parametrize("leaf_chain", [0, 1])
def test_a_potential_chain_held_at_the_horizon_outweighs_a_smaller_one_fired_now(leaf_chain):
    """Any chain is worth firing; B B pops the stairs' middle (100 points) and breaks them. With
    the stairs counted as held at the horizon the player keeps them."""
    game = velmo_game.Game(field=velmo.Field.from_str_array(STAIRS), sequence=[P(5, 5), P(7, 6), P(7, 6)], visible=2)
    move = BeamSearch(8, 1, fire_score=1, weights={"leaf_chain": leaf_chain}).choose(game)
    children = expand(game.field, P(5, 5))
    assert (children.scores[children.moves.index(move)] > 0) == (leaf_chain == 0)


@pytest.mark.parametrize("drawn", [0.01, 1])
def test_a_chain_on_drawn_pairs_counts_its_drawn_share(drawn):
    """With no pair shown past the current one, the stairs held at the horizon lie on drawn
    pairs: at a hundredth of their score they weigh less than B B's 100 points now."""
    game = velmo_game.Game(field=velmo.Field.from_str_array(STAIRS), sequence=[P(5, 5), P(7, 6)], visible=0)
    move = BeamSearch(8, 1, fire_score=1, weights={"drawn": drawn}).choose(game)
    children = expand(game.field, P(5, 5))
    assert (children.scores[children.moves.index(move)] > 0) == (drawn < 1)


def test_presets_and_defaults():
    assert set(PRESETS) >= {"fast", "default", "strong", "legacy"}
    defaults = BeamSearch.defaults()
    assert BeamSearch().width == defaults["width"] and BeamSearch().depth == defaults["depth"]
    assert BeamSearch.preset("strong", seed=5).seed == 5
    # Weights given to a preset override its own by name, not all of them.
    assert BeamSearch.preset("strong", weights={"popped": 1}).weights == PRESETS["strong"]["weights"] | {"popped": 1}
    # The strong preset searches every future on every move; the default skips some.
    strong, default, game = BeamSearch.preset("strong", width=8), BeamSearch(width=8), velmo_game.Game(5)
    costs = set()
    for _ in range(6):
        strong.choose(game)
        game.play(default.choose(game))
        assert strong.last_nodes >= default.last_nodes
        costs.add(strong.last_nodes > default.last_nodes)
    assert True in costs
    assert moves_of(BeamSearch.preset("legacy", width=8, depth=2), moves=4)
    with pytest.raises(ValueError, match="unknown preset"):
        BeamSearch.preset("perfect")
    for bad in ({"queues": 0}, {"settle_queues": 65}):
        with pytest.raises(ValueError):
            BeamSearch(**bad)


def stairs_match(opponent_fires):
    """Both players on the stairs; player 0 places a quiet pair, player 1 fires its stairs (or
    not); player 0 is then due with a pair of R that fires its own."""
    field = velmo.Field.from_str_array(STAIRS)
    match = velmo_game.Match(0, fields=[field, field],
                             sequences=[[P(7, 7), P(4, 4), P(5, 6)], [P(4, 4), P(7, 7), P(5, 6)]])

    def away_from_the_stairs(pair, fires):
        children = expand(field, pair)
        for move, child, score in zip(children.moves, children.fields, children.scores):
            if (score > 0) == fires and (fires or all(child.get_height(x) == field.get_height(x) for x in range(4))):
                return move
        raise AssertionError("no such move")

    match.step({0: away_from_the_stairs(P(7, 7), False), 1: away_from_the_stairs(P(4, 4), opponent_fires)})
    return match


@pytest.mark.parametrize("opponent_fires", [True, False], ids=["attacked", "quiet"])
def test_fires_the_chain_that_offsets_an_incoming_attack(opponent_fires):
    match = stairs_match(opponent_fires)
    me, them = match.players
    assert 0 in match.to_move() and (them.ojama_in_flight > 0) == opponent_fires
    move = BeamSearch(8, 2).choose_match(match, 0)
    children = expand(me.field, me.current_pair)
    score = children.scores[children.moves.index(move)]
    if opponent_fires:
        assert score // match.rules.target_points >= them.ojama_in_flight
    else:
        assert score == 0  # nothing threatens: it keeps building


@pytest.mark.parametrize("opponent_fires", [True, False], ids=["attacked", "quiet"])
def test_counts_the_placements_before_the_ojama_lands(opponent_fires):
    match = stairs_match(opponent_fires)
    landing = _placements_before_landing(match, 0)
    for placed in range(1, landing + 1):
        # Quiet placements away from the stairs: the ojama falls after the last counted one.
        children = expand(match.players[0].field, match.players[0].current_pair)
        move = next(m for m, s in zip(children.moves, children.scores) if s == 0 and m >= 3)
        puyos = match.players[0].field.get_num_puyos()
        match.step({p: move if p == 0 else match.legal_moves(p)[-1] for p in match.to_move()})
        fell = match.players[0].field.get_num_puyos() > puyos + 2
        assert fell == (opponent_fires and placed == landing)
    assert (landing > 1) if opponent_fires else (landing == 0)


# The stairs with the spawn column nine high: three rows of ojama on it end the game.
CROWDED_STAIRS = ["__R___", "__G___", "__R___", "__G___", "__R___", *STAIRS]


@pytest.mark.parametrize("depth", [2, 4])
@pytest.mark.parametrize("incoming", [0, 18])
def test_the_search_sees_the_ojama_fall_on_the_fields_it_reaches(depth, incoming):
    """18 ojama falling after this placement bury every quiet move; the stairs (15 ojama) offset
    them. Without them the player keeps building."""
    field = velmo.Field.from_str_array(CROWDED_STAIRS)
    game = velmo_game.Game(field=field, sequence=[P(4, 4), P(5, 6), P(7, 7)], visible=2)
    move = velmo_game._native.beam_search_move(game, 8, depth, 0, 0, 0.0, 90000, None, None, 2, 1, 1, 0.97, None,
                                               False, False, incoming_ojama=incoming, incoming_level=0)[0]
    children = expand(field, P(4, 4))
    assert (children.scores[children.moves.index(move)] > 0) == bool(incoming)


# Every column 11 high but the spawn column, 8, in colours no two neighbours share: the pair fits
# on the spawn column, which a match's spawn costs forbid.
NARROW = ["".join("RGBY"[(x + 2 * y) % 4] if y <= (8 if x == 2 else 11) else "_" for x in range(6))
          for y in range(11, 0, -1)]


@pytest.mark.parametrize("pair", [P(4, 6), P(7, 5)])
@pytest.mark.parametrize("in_match", [False, True])
def test_a_match_weighs_the_spawn_column_by_match_spawn(pair, in_match):
    field = velmo.Field.from_str_array(NARROW)
    game = velmo_game.Game(field=field, sequence=[pair, P(5, 5), P(6, 6)], visible=2)
    weights = {"spawn": 1, "spawn_side": 1, "match_spawn": 1e6}
    move = velmo_game._native.beam_search_move(game, 8, 2, 0, 0, 0.0, 90000, None, None, 2, 1, 1, 0.97, weights,
                                               False, False, in_match=in_match)[0]
    children = expand(field, pair)
    assert children.fields[children.moves.index(move)].get_height(2) == (8 if in_match else 10)


# The spawn column seven high over a pair of G: the next pair, G G, pops them (40 points, no offset).
TOWER = ["__Y___", "__B___", "__Y___", "__B___", "__Y___", "__B___", "GGY___"]


@pytest.mark.parametrize("tall", [True, False], ids=["buried", "room"])
def test_fires_what_it_has_before_an_attack_buries_it(tall):
    mine, theirs = velmo.Field.from_str_array(TOWER if tall else TOWER[-1:]), velmo.Field.from_str_array(STAIRS)
    match = velmo_game.Match(0, fields=[mine, theirs], sequences=[[P(5, 6), P(7, 7)], [P(4, 4), P(7, 7)]])
    children = expand(mine, P(5, 6))
    quiet = next(move for move, child in zip(children.moves, children.fields)
                 if child.get_height(2) == mine.get_height(2) and child.get_num_puyos() == mine.get_num_puyos() + 2)
    children = expand(theirs, P(4, 4))
    match.step({0: quiet, 1: next(m for m, s in zip(children.moves, children.scores) if s > 0)})
    me, them = match.players
    assert them.ojama_in_flight >= 12  # three rows: the tower's spawn column would reach the top
    move = BeamSearch(8, 2).choose_match(match, 0)
    children = expand(me.field, me.current_pair)
    assert (children.scores[children.moves.index(move)] > 0) == tall


def test_a_match_searches_at_most_match_queues_futures():
    cap = BeamSearch.defaults()["match_queues"]
    match = velmo_game.Match(5)
    more, capped = BeamSearch(8, 6, queues=cap + 1, seed=1), BeamSearch(8, 6, queues=cap, seed=1)
    assert more.choose_match(match, 0) == capped.choose_match(match, 0) and more.last_nodes == capped.last_nodes
    more.choose(velmo_game.Game(5))
    capped.choose(velmo_game.Game(5))
    assert more.last_nodes > capped.last_nodes  # one player, every future is searched


@pytest.mark.parametrize("seat", [0, 1])
def test_both_seats_choose_legal_moves_against_greedy(seat):
    players = {seat: BeamSearch(8, 3, queues=2), 1 - seat: velmo_game.players.GreedyPlayer()}
    match = velmo_game.Match(3)
    for _ in range(40):
        if match.is_over:
            break
        moves = {index: players[index].choose_match(match, index) for index in match.to_move()}
        assert all(moves[index] in match.legal_moves(index) for index in moves)
        match.step(moves)
