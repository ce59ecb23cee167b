"""The one-player Gymnasium environments and their registration."""

from __future__ import annotations

import numpy as np
import pytest

gymnasium = pytest.importorskip("gymnasium")

from gymnasium.utils.env_checker import check_env  # noqa: E402

import velmo  # noqa: E402
import velmo_game  # noqa: E402 - registers the environments
from velmo_game import Game, VecGame  # noqa: E402
from velmo_game.gym_env import PuyoEnv, PuyoVectorEnv  # noqa: E402


OBS_OPTIONS = [{}, {"flatten": True}, {"obs": "planes"}, {"obs": "planes", "obs_dtype": np.uint8},
               {"obs": "planes", "flatten": True}]


@pytest.mark.parametrize("env_id", ["velmo/Puyo-v0", "velmo/PuyoVersus-v0"])
@pytest.mark.parametrize("options", OBS_OPTIONS)
def test_registered_environments_pass_check_env(env_id, options):
    env = gymnasium.make(env_id, **options)
    check_env(env.unwrapped, skip_render_check=True)


def test_planes_are_the_one_hot_form_of_the_ids():
    ids, _ = PuyoEnv().reset(seed=2)
    planes, _ = PuyoEnv(obs="planes", obs_dtype=np.uint8).reset(seed=2)
    colours = np.array([4, 5, 6, 7])
    np.testing.assert_array_equal(colours[planes["pairs"].argmax(-1)], ids["pairs"])
    assert planes["field"].shape == (5, 14, 6) and planes["field"].sum() == np.count_nonzero(ids["field"])


def test_copies_seeded_in_a_row_never_share_a_game_and_make_agrees_with_make_vec():
    # Eight copies seeded 100, 101, ... as vector-env wrappers seed them, fifty episodes each.
    seen = set()
    for copy in range(8):
        env = PuyoEnv()
        for episode in range(50):
            env.reset(seed=100 + copy) if episode == 0 else env.reset()
            seen.add(tuple(map(str, env.game.sequence.take(16))))
            assert Game(env.game_seed) == env.game  # the seed replays the episode
    assert len(seen) == 400
    single = gymnasium.make("velmo/Puyo-v0")
    vector = gymnasium.make_vec("velmo/Puyo-v0", num_envs=3)
    assert np.array_equal(single.reset(seed=9)[0]["pairs"], vector.reset(seed=9)[0]["pairs"][0])
    copy_two = PuyoEnv(copy=2)
    copy_two.reset(seed=9)
    assert copy_two.game_seed == vector.unwrapped.batch.seeds[2]


def test_a_seed_list_gives_vector_copy_i_the_games_of_single_copy_i():
    vector, seeds = PuyoVectorEnv(3, num_threads=1), [7, 70, 700]
    singles = [PuyoEnv(copy=i) for i in range(3)]
    for reset_seed in (seeds, None):  # the episode of the seeds, then the next one
        observations, _ = vector.reset(seed=reset_seed)
        for i, single in enumerate(singles):
            single_observation, _ = single.reset(seed=None if reset_seed is None else seeds[i])
            assert np.array_equal(single_observation["pairs"], observations["pairs"][i])
            assert single.game_seed == vector.batch.seeds[i]


@pytest.mark.parametrize("kind, batch", [("game", lambda: VecGame(1, num_threads=1)), ("match", lambda: velmo_game.VecMatch(1, num_threads=1))])
def test_the_native_declaration_describes_what_the_batches_write(kind, batch):
    layout, made = velmo_game.env_layout(kind, 2), batch()
    written = {"field": made.field, "pairs": made.pairs, "action_mask": made.action_masks}
    if kind == "match":
        written = {name: array[0:1, 0] for name, array in written.items()} | {"pending_ojama": made.pending_ojama}
    for name, array in written.items():
        shape, dtype, low, high = layout["arrays"][name]
        assert array.shape[1:] == shape and array.dtype == np.dtype(dtype) and low <= array.min() and array.max() <= high
    assert layout["num_actions"] == made.action_masks.shape[-1]


@pytest.mark.parametrize("reward, expected", [("log_score", np.log1p), ("chain", None), (lambda s, c: 2 * s + c, None)])
def test_reward_options_agree_between_the_single_and_the_vector_env(reward, expected):
    single, plain = PuyoEnv(reward=reward), PuyoEnv()
    vector = PuyoVectorEnv(1, reward=reward, illegal="substitute", illegal_penalty=0.5)
    _, info = single.reset(seed=1)
    plain.reset(seed=1)
    vector.reset(seed=1)
    for step in range(60):
        move = 0 if step % 7 == 0 else int(np.flatnonzero(info["action_mask"])[-1])  # now and then illegal
        _, got, terminated, _, info = single.step(move)
        _, score, *_ = plain.step(move)
        _, rewards, *_ = vector.step(np.array([move]))
        want = expected(score) if expected else (info["chain"] if reward == "chain" else 2 * score + info["chain"])
        assert got == pytest.approx(float(want)) and rewards[0] == pytest.approx(float(want) - 0.5 * info["illegal"])
        if terminated:
            break


@pytest.mark.parametrize("autoreset", ["next_step", "same_step"])
def test_the_ending_step_hands_out_the_same_mask_in_every_vector_mode(autoreset):
    native = PuyoVectorEnv(2, autoreset=autoreset, max_episode_steps=3)
    sync = gymnasium.vector.SyncVectorEnv([lambda: PuyoEnv(max_steps=3)] * 2,
                                          autoreset_mode=gymnasium.vector.AutoresetMode[autoreset.upper()])
    for env in (native, sync):
        env.reset(seed=0)
    for _ in range(3):
        masks = [env.step(np.zeros(2, np.int64))[4]["action_mask"] for env in (native, sync)]
        assert masks[0].dtype == masks[1].dtype == np.int8
        np.testing.assert_array_equal(masks[0][0], native.action_masks()[0])
        if autoreset == "next_step":  # same_step shows the next episode's first mask, seeded per copy
            np.testing.assert_array_equal(masks[0][0], masks[1][0])
    assert masks[0].all() if autoreset == "next_step" else True


def test_the_environment_plays_the_game_of_its_seed():
    env = PuyoEnv(max_steps=30)
    observation, info = env.reset(seed=6)
    game = Game(velmo_game.episode_seed(6))
    assert env.game_seed == velmo_game.episode_seed(6, 0, 0)
    total = 0.0
    returned, expected = [], []  # every step's arrays, checked at the end: none may alias a later step's
    for _ in range(30):
        move = int(np.flatnonzero(info["action_mask"])[-1])
        observation, reward, terminated, truncated, info = env.step(move)
        result = game.play(move)
        total += float(reward)
        assert reward == result.score and terminated == result.game_over
        returned.append((observation["field"], observation["pairs"], info["action_mask"]))
        ended = result.game_over or game.turn == 30
        expected.append((*game.observation(), np.ones(22, np.int8) if ended else game.action_mask()))
        np.testing.assert_array_equal(env.action_masks(), expected[-1][2])
        if terminated or truncated:
            break
    for got, want in zip(returned, expected):
        for array, wanted in zip(got, want):
            np.testing.assert_array_equal(array, wanted)
            assert array.dtype == wanted.dtype
    assert env.game == game and total == game.score
    assert truncated or terminated


def test_observation_buffer_refuses_a_game_of_another_visible():
    buffer = velmo_game._native.ObservationBuffer(1)
    buffer.fill(Game(3, visible=1))
    assert buffer.pairs.shape == (2, 2) and not buffer.field.flags.writeable
    with pytest.raises(ValueError, match="shows 2 next pairs"):
        buffer.fill(Game(3))


def test_an_illegal_action_is_replaced_and_charged_or_refused():
    wall = [" " + c for c in "RBGYRBGYRBGYR"]  # Python column 1 stacked 13 high, no group
    env = PuyoEnv(illegal_penalty=5.0)
    env.reset(seed=0)
    env.game = Game(field=velmo.Field.from_str_array(wall))
    _, reward, *_, info = env.step(0)  # column 0 is walled off
    assert info["illegal"] and reward == -5.0
    strict = PuyoEnv(illegal="raise")
    strict.reset(seed=0)
    strict.game = Game(field=velmo.Field.from_str_array(wall))
    before = strict.game.clone()
    with pytest.raises(ValueError, match="not legal"):
        strict.step(0)
    assert strict.game == before


@pytest.mark.parametrize("action, error", [(1.0, TypeError), (np.float32(1), TypeError), (True, TypeError), ("1", TypeError),
                                           (22, "22"), (-1, "-1"), (2**70, str(2**70)), (np.array(21), None)])
def test_actions_are_ints_and_one_outside_the_moves_is_an_illegal_one(action, error):
    strict, lenient = PuyoEnv(illegal="raise"), PuyoEnv(illegal_penalty=1.0)
    strict.reset(seed=4)
    lenient.reset(seed=4)
    before = strict.game.clone()
    if error is None:
        assert strict.step(action)[4]["illegal"] is False
        return
    refusal = (TypeError, "action must be an int") if error is TypeError else (ValueError, f"move {error} is not legal")
    with pytest.raises(refusal[0], match=refusal[1]):
        strict.step(action)
    assert strict.game == before
    if error is not TypeError:
        _, reward, *_, info = lenient.step(action)
        assert info["illegal"] and reward == -1.0 and lenient.game.turn == 1


def test_make_vec_steps_a_native_batch():
    env = gymnasium.make_vec("velmo/Puyo-v0", num_envs=6, vectorization_mode="vector_entry_point")
    planes = gymnasium.make_vec("velmo/Puyo-v0", num_envs=6, obs="planes", flatten=True, render_mode="ansi",
                                max_episode_steps=7)
    assert planes.reset(seed=3)[0].shape == (6, planes.single_observation_space.shape[0])
    assert planes.unwrapped.batch.max_steps == 7 and len(planes.render()) == 6
    observations, infos = env.reset(seed=3)
    batch = VecGame(6, seed=3)
    batch.reset(3)
    for _ in range(20):
        actions = infos["action_mask"].argmax(axis=1)
        observations, rewards, terminated, truncated, infos = env.step(actions)
        batch.step(actions)
        np.testing.assert_array_equal(observations["field"], batch.field)
        np.testing.assert_array_equal(rewards, batch.rewards)


@pytest.mark.parametrize("mode", ["ansi", "rgb_array"])
def test_render_modes(mode):
    env = PuyoEnv(render_mode=mode)
    env.reset(seed=1)
    picture = env.render()
    if mode == "ansi":
        assert isinstance(picture, str)
        return
    from velmo_game import render

    # The renderer's picture: the field with the pairs beside it, the score and the last chain.
    assert picture.shape[1] > 6 * 16 and picture.dtype == np.uint8
    env.reset(seed=0)
    field = velmo.Field.from_str_array(["RRR"])
    env.game = Game(field=field, sequence=[velmo.Pair(velmo.PuyoType.BLUE, velmo.PuyoType.RED)])
    top = next(m for m, hand in enumerate(velmo.Hand.enumerate()) if hand.x == 3 and str(hand.rotation) == "top")
    assert env.step(top)[4]["chain"] == 1
    np.testing.assert_array_equal(env.render(), render.rgb_array(render.board_of_game(env.game, chain=1)))


def test_vector_env_renders_every_game():
    from velmo_game import render

    env = PuyoVectorEnv(3, render_mode="rgb_array")
    env.reset(seed=4)
    pictures = env.render()
    assert len(pictures) == 3
    np.testing.assert_array_equal(pictures[1], render.rgb_array(env.batch.game(1)))


def test_module_qualified_ids_work_from_a_fresh_process():
    import subprocess
    import sys

    code = ("import gymnasium\n"
            "env = gymnasium.make('velmo_game:velmo/Puyo-v0')\n"
            "vec = gymnasium.make_vec('velmo_game:velmo/Puyo-v0', num_envs=2, vectorization_mode='vector_entry_point')\n"
            "versus = gymnasium.make('velmo_game:velmo/PuyoVersus-v0')\n"
            "print(type(env.unwrapped).__name__, type(vec).__name__, type(versus.unwrapped).__name__)\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.stdout.split() == ["PuyoEnv", "PuyoVectorEnv", "PuyoVersusEnv"], done.stderr


@pytest.mark.parametrize("autoreset", ["next_step", "same_step", "disabled"])
@pytest.mark.parametrize("threads", [1, 2, 3])
def test_env_copy_i_follows_game_i_of_the_batch(autoreset, threads):
    # Random actions, illegal ones included (substituted and charged), games cut at 12 moves.
    n = 5
    batch = VecGame(n, seed=21, num_threads=threads, autoreset=autoreset, max_steps=12, illegal="substitute",
                    illegal_penalty=2.0)
    envs = [PuyoEnv(copy=i, max_steps=12, illegal_penalty=2.0) for i in range(n)]
    for env in envs:
        env.reset(seed=21)
    waiting = [False] * n
    rng = np.random.default_rng(threads)
    for _ in range(40):
        actions = rng.integers(0, 22, size=n)
        batch.step(actions)
        for i, env in enumerate(envs):
            if waiting[i]:
                if autoreset == "next_step":
                    env.reset()
                    waiting[i] = False
                continue
            observation, reward, terminated, truncated, info = env.step(int(actions[i]))
            ended = terminated or truncated
            assert (reward, terminated, truncated, info["illegal"]) == (
                batch.rewards[i], batch.terminated[i], batch.truncated[i], batch.substituted[i])
            if ended and autoreset == "same_step":
                np.testing.assert_array_equal(observation["field"], batch.final_field[i])
                observation, _ = env.reset()
            elif ended:
                waiting[i] = True
            np.testing.assert_array_equal(observation["field"], batch.field[i])
            np.testing.assert_array_equal(observation["pairs"], batch.pairs[i])
            np.testing.assert_array_equal(env.action_masks(), batch.action_masks[i])
            assert env.game_seed == batch.seeds[i]
