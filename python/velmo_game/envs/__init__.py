"""velmo's environments for the RL ecosystem, one module per framework.

- ``velmo_game.envs.gym``: the Gymnasium environments (``PuyoEnv``, ``PuyoVectorEnv``,
  ``PuyoVersusEnv``; ``gymnasium.make("velmo/Puyo-v0")`` after ``import velmo_game``);
- ``velmo_game.envs.pettingzoo``: the two-player PettingZoo environments (``parallel_env``, ``env``);
- ``velmo_game.envs.sb3``: a Stable-Baselines3 ``VecEnv`` over the native batch
  (``make_sb3_vec_env``), ready for sb3-contrib's ``MaskablePPO``;
- ``velmo_game.envs.options``: the observation (``obs=``) and reward (``reward=``) options they share.

Every environment seeds its games by ``velmo_game.episode_seed`` and hands out int8 masks.
The older module paths (``velmo_game.gym_env``, ``velmo_game.versus_env``, ``velmo_game.pettingzoo``)
stay valid.
"""
