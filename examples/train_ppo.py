"""Train a MaskablePPO agent on the native vector env, then pit it against random and greedy play.

The agent (sb3-contrib's MaskablePPO, a 64 x 64 MLP per head) learns on ``--envs`` games stepped
together in native code (``velmo_game.envs.sb3.make_sb3_vec_env``): one-hot planes in, the legal
moves' mask from the env, the reward ``log(1 + score)`` of each move, games cut at ``--max-moves``.
Training stops after ``--minutes`` of wall-clock time. Then every player plays the same
``--eval-games`` games, on seeds that training never dealt, to the same move limit: the agent
(its most likely legal move), a uniformly random legal move, and ``GreedyPlayer`` (the move
scoring most now). The learning curve (game scores of the training episodes) goes to ``--plot``.

    pip install "velmo[frameworks]"
    python examples/train_ppo.py --minutes 3 --plot learning_curve.png
"""

from __future__ import annotations

import argparse
import importlib
import random
import time
from typing import Any, Callable

import numpy as np

EVAL_SEED = 1_000_003  # never a training seed: training uses --seed and its derived episodes


def parse_args(argv: list[str] | None = None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="train_ppo.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--envs", type=int, default=8, help="games stepped together (default 8)")
    parser.add_argument("--minutes", type=float, default=3.0, help="wall-clock training budget (default 3)")
    parser.add_argument("--max-moves", type=int, default=100, help="moves per game, training and evaluation (default 100)")
    parser.add_argument("--eval-games", type=int, default=50, help="evaluation games per player (default 50)")
    parser.add_argument("--seed", type=int, default=0, help="training seed (default 0)")
    parser.add_argument("--threads", type=int, default=2, help="PyTorch threads (default 2)")
    parser.add_argument("--plot", default=None, help="write the learning curve to this PNG file")
    return parser.parse_args(argv)


def train(args: argparse.Namespace) -> tuple[Any, list[tuple[int, int]]]:
    """The trained model and (timestep, game score) for every finished training game."""
    # Imported by name: the frameworks are optional, and untyped here whether installed or not.
    torch = importlib.import_module("torch")
    sb3_contrib = importlib.import_module("sb3_contrib")
    base_callback: Any = importlib.import_module("stable_baselines3.common.callbacks").BaseCallback
    from velmo_game.envs.sb3 import make_sb3_vec_env

    torch.set_num_threads(args.threads)
    env = make_sb3_vec_env(args.envs, seed=args.seed, obs="planes", reward="log_score", max_steps=args.max_moves)
    curve: list[tuple[int, int]] = []
    deadline = time.monotonic() + 60 * float(args.minutes)

    class Record(base_callback):  # type: ignore[misc]  # an untyped base
        def _on_step(self) -> bool:
            curve.extend((self.num_timesteps, info["game_score"]) for info in self.locals["infos"] if "game_score" in info)
            return time.monotonic() < deadline

    model = sb3_contrib.MaskablePPO("MultiInputPolicy", env, n_steps=256, batch_size=256, n_epochs=4, learning_rate=3e-4,
                        ent_coef=0.01, policy_kwargs={"net_arch": [64, 64]}, seed=args.seed, device="cpu")
    model.learn(total_timesteps=10**9, callback=Record())
    return model, curve


def play(choose: Callable[[Any, Any], int], games: int, max_moves: int) -> list[int]:
    """The scores of ``games`` evaluation games, each move ``choose(env, observation)``."""
    from velmo_game.gym_env import PuyoEnv

    env = PuyoEnv(obs="planes", max_steps=max_moves)
    scores = []
    for g in range(games):
        observation, _ = env.reset(seed=EVAL_SEED + g)
        done = False
        while not done:
            observation, _, terminated, truncated, _ = env.step(choose(env, observation))
            done = terminated or truncated
        scores.append(env.game.score)
    return scores


def main(argv: list[str] | None = None) -> None:
    args = parse_args(argv)
    from velmo_game.players import GreedyPlayer

    start = time.monotonic()
    model, curve = train(args)
    steps = model.num_timesteps
    print(f"trained {steps} steps on {args.envs} envs in {time.monotonic() - start:.0f} s, {len(curve)} games")

    def agent(env: Any, observation: Any) -> int:
        action, _ = model.predict(observation, action_masks=env.action_masks(), deterministic=True)
        return int(action)

    rng = random.Random(args.seed)
    greedy = GreedyPlayer()
    players = {
        "agent": agent,
        "random": lambda env, observation: rng.choice(env.game.legal_moves()),
        "greedy": lambda env, observation: greedy.choose(env.game),
    }
    means = {}
    for name, choose in players.items():
        scores = play(choose, args.eval_games, args.max_moves)
        means[name] = float(np.mean(scores))
        print(f"{name:>6}: mean score {means[name]:8.1f} over {args.eval_games} games (max {max(scores)})")
    if args.plot:
        plot(curve, means, args.plot)
        print(f"learning curve written to {args.plot}")


def plot(curve: list[tuple[int, int]], means: dict[str, float], path: str) -> None:
    """Training games' scores (a moving mean) against timesteps, the evaluation means as lines."""
    importlib.import_module("matplotlib").use("Agg")
    plt: Any = importlib.import_module("matplotlib.pyplot")

    figure, axes = plt.subplots(figsize=(7, 4))
    if curve:
        steps, scores = np.array(curve).T
        window = max(1, len(scores) // 20)
        smooth = np.convolve(scores, np.ones(window) / window, mode="valid")
        axes.plot(steps[window - 1:], smooth, label=f"training games (mean of {window})")
    for name, mean in means.items():
        axes.axhline(mean, linestyle="--", color={"agent": "C0", "random": "C1", "greedy": "C2"}[name],
                     label=f"{name} on evaluation seeds ({mean:.0f})")
    axes.set_xlabel("timesteps")
    axes.set_ylabel("game score")
    axes.legend()
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


if __name__ == "__main__":
    main()
