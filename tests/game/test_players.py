import pickle

import pytest

import velmo_game
from velmo_game.players import GreedyPlayer, Player, RandomPlayer, SplitMix64, make_player


def play_out(player, seed, moves=40):
    game = velmo_game.Game(seed)
    chosen = []
    while not game.is_over and game.turn < moves:
        move = player.choose(game)
        assert move in game.legal_moves()
        chosen.append(move)
        game.play(move)
    return chosen, game


def test_generator_matches_the_native_one():
    # The first draw for seed 0 is pinned in the core's generator too.
    assert SplitMix64(0).next() == 0xE220A8397B1DCDAF


@pytest.mark.parametrize("n", [1, 2, 3, 22, 1 << 63])
def test_generator_below_stays_in_range(n):
    generator = SplitMix64(7)
    assert all(0 <= generator.below(n) < n for _ in range(200))


@pytest.mark.parametrize("seed", [-1, 1 << 64])
def test_generator_refuses_out_of_range_seeds(seed):
    with pytest.raises(ValueError, match="seed"):
        SplitMix64(seed)


@pytest.mark.parametrize("make", [lambda: RandomPlayer(3), GreedyPlayer], ids=["random", "greedy"])
def test_players_choose_legal_moves_reproducibly(make):
    first, _ = play_out(make(), seed=5)
    second, _ = play_out(make(), seed=5)
    assert first == second
    assert isinstance(make(), Player)


def test_random_players_differ_by_seed():
    assert play_out(RandomPlayer(1), seed=5)[0] != play_out(RandomPlayer(2), seed=5)[0]


def test_greedy_takes_the_best_scoring_move():
    game = velmo_game.Game(11)
    for _ in range(30):
        if game.is_over:
            break
        move = GreedyPlayer().choose(game)
        scores = {m: game.clone().play(m).score for m in game.legal_moves()}
        best = max(scores.values())
        assert move == min(m for m, s in scores.items() if s == best)
        game.play(move)


def test_players_pickle_and_continue_alike():
    player = RandomPlayer(9)
    game = velmo_game.Game(1)
    player.choose(game)
    copy = pickle.loads(pickle.dumps(player))
    assert [player.choose(game) for _ in range(10)] == [copy.choose(game) for _ in range(10)]


def test_a_finished_game_has_no_move_to_choose():
    game = velmo_game.Game(0)
    while not game.is_over:
        game.play(game.legal_moves()[0])
    for player in (RandomPlayer(), GreedyPlayer()):
        with pytest.raises(ValueError, match="no legal move"):
            player.choose(game)


@pytest.mark.parametrize(
    ("name", "options", "kind"), [("random", {"seed": 4}, RandomPlayer), ("greedy", {}, GreedyPlayer)]
)
def test_make_player_by_name(name, options, kind):
    assert isinstance(make_player(name, **options), kind)


def test_make_player_refuses_unknown_names_and_options():
    with pytest.raises(ValueError, match="unknown player"):
        make_player("perfect")
    with pytest.raises(TypeError):
        make_player("greedy", seed=1)
