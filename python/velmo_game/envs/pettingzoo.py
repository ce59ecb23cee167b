"""The PettingZoo environments of velmo (see ``velmo_game.pettingzoo``)."""

from velmo_game.pettingzoo import AGENTS, WAIT, PuyoVersusParallelEnv, env, observation_space, parallel_env

__all__ = ["AGENTS", "WAIT", "PuyoVersusParallelEnv", "env", "observation_space", "parallel_env"]
