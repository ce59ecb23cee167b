"""The Gymnasium environments of velmo (see ``velmo_game.gym_env`` and ``velmo_game.versus_env``)."""

from velmo_game.gym_env import PuyoEnv, PuyoVectorEnv, register_envs
from velmo_game.versus_env import PuyoVersusEnv

__all__ = ["PuyoEnv", "PuyoVectorEnv", "PuyoVersusEnv", "register_envs"]
