"""What the two versus environments share: observations of a match, the action rule, rewards,
the seeded random opponent and the picture of a match.

Actions are 0..21 (indices into ``velmo.Hand.enumerate()``) and 22, ``WAIT``: the only action of
a player who is not due to move. An action that does not fit (an illegal move or a wait from a
player who is due, a move from a player who is not) is handled by ``illegal``:

- ``"substitute"`` (the default): a due player plays its lowest legal move instead and is charged
  ``illegal_penalty``; a move from a player who is not due counts as a wait, free of charge;
- ``"raise"``: ``ValueError``, and the match is unchanged.

Rewards are +1 for the winner and -1 for the loser when the match ends, 0 for both in a draw and
at every other step, plus any penalty. A match that reaches its rules' frame limit undecided is
truncated, not terminated.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable, Literal, Union

import numpy as np
import numpy.typing as npt
from gymnasium import spaces

from velmo_game._native import Game, Match, Rules, Timing
from velmo_game.envs.options import ObservationForm
from velmo_game.players import SplitMix64

WAIT = 22
NUM_ACTIONS = 23
# Spelt as a union of one-value literals, the form stubtest compares with the runtime alias.
IllegalPolicy = Union[Literal["substitute"], Literal["raise"]]
#: An opponent: given the match and its player index, the move to play (it is only asked when due).
Opponent = Callable[[Match, int], int]

_MASK64 = (1 << 64) - 1


@dataclass(frozen=True)
class MatchSettings:
    """What every match of an environment is made with."""

    colors: int = 4
    visible: int = 2
    rules: Rules | None = None
    timing: Timing | None = None

    def new_match(self, seed: int) -> Match:
        return Match(seed, colors=self.colors, visible=self.visible, rules=self.rules, timing=self.timing)


class RandomOpponent:
    """Plays a uniformly drawn legal move, from its own seeded generator."""

    def __init__(self, seed: int = 0) -> None:
        self.seed(seed)

    def seed(self, seed: int) -> None:
        """Restart the generator (the environments call this on every reset with a seed)."""
        self._rng = SplitMix64(seed & _MASK64)

    def __call__(self, match: Match, player: int) -> int:
        legal = match.legal_moves(player)
        return legal[self._rng.below(len(legal))]

    def __repr__(self) -> str:
        return f"RandomOpponent(rng={self._rng!r})"


def check_env_options(illegal: str, render_mode: str | None) -> None:
    """The option checks every environment of the package makes, with the same messages."""
    if illegal not in ("substitute", "raise"):
        raise ValueError(f"illegal must be 'substitute' or 'raise', not {illegal!r}")
    if render_mode not in (None, "ansi", "rgb_array"):
        raise ValueError(f"render_mode must be None, 'ansi' or 'rgb_array', not {render_mode!r}")


def player_observation(match: Match, player: int) -> dict[str, npt.NDArray[Any]]:
    """The match seen by ``player``: both fields and pairs, the pending ojama (own first)."""
    observation = match.observation(player)
    return {
        "field": observation["field"],
        "pairs": observation["pairs"],
        "opponent_field": observation["opponent_field"],
        "opponent_pairs": observation["opponent_pairs"],
        "pending_ojama": observation["pending_ojama"],
    }


def view_space(form: ObservationForm) -> spaces.Dict:
    """The space of ``view``: both fields and pairs in ``form``, the pending ojama (own first)."""
    return spaces.Dict(
        {
            "field": form.field_space,
            "pairs": form.pairs_space,
            "opponent_field": form.field_space,
            "opponent_pairs": form.pairs_space,
            "pending_ojama": spaces.Box(0, np.iinfo(np.uint32).max, shape=(2,), dtype=np.uint32),
        }
    )


def view(match: Match, player: int, form: ObservationForm) -> dict[str, npt.NDArray[Any]]:
    """``player_observation`` in ``form``."""
    observation = player_observation(match, player)
    if form.is_ids:
        return observation
    for key in ("field", "opponent_field"):
        observation[key] = form.field(observation[key])
    for key in ("pairs", "opponent_pairs"):
        observation[key] = form.pairs(observation[key])
    return observation


def action_mask(match: Match, player: int) -> npt.NDArray[np.int8]:
    """A ``(23,)`` int8 mask: the legal moves of a due player, or only WAIT."""
    mask = np.zeros(NUM_ACTIONS, dtype=np.int8)
    if match.is_over:
        mask[WAIT] = 1
        return mask
    view = match.players[player]
    if view.is_due:
        mask[:WAIT] = view.action_mask()
    else:
        mask[WAIT] = 1
    return mask


def resolve_moves(
    match: Match, actions: dict[int, int], illegal: IllegalPolicy
) -> tuple[dict[int, int], dict[int, bool]]:
    """The moves to pass to ``Match.step`` for the due players, and who played an illegal action."""
    moves: dict[int, int] = {}
    penalised: dict[int, bool] = {0: False, 1: False}
    for player in match.to_move():
        action = actions.get(player, WAIT)
        legal = match.legal_moves(player)
        if action in legal:
            moves[player] = action
            continue
        if illegal == "raise":
            raise ValueError(f"player {player} is due and must play one of {legal}, not {action}")
        moves[player] = legal[0]
        penalised[player] = True
    if illegal == "raise":
        for player, action in actions.items():
            if player not in moves and action != WAIT:
                raise ValueError(f"player {player} is not due: its action must be {WAIT} (wait), not {action}")
    return moves, penalised


def outcome_rewards(match: Match) -> tuple[float, float]:
    """+1 / -1 for the winner and loser of a finished match, 0 otherwise."""
    if not match.is_over or match.winner is None:
        return 0.0, 0.0
    return (1.0, -1.0) if match.winner == 0 else (-1.0, 1.0)


def is_truncated(match: Match) -> bool:
    """Whether the match ended undecided at its frame limit."""
    limit = match.rules.frame_limit
    return match.is_over and match.winner is None and limit is not None and match.frame >= limit and not any(
        view.lost for view in match.players
    )


def _renderer() -> Any:
    try:
        from velmo_game import render
    except ImportError as error:
        raise ImportError(f'render_mode="rgb_array" needs Pillow: pip install "velmo[render]" ({error})') from None
    return render


def game_picture(game: Game, chain: int = 0) -> npt.NDArray[np.uint8]:
    """The renderer's picture of a game: field, pairs, score and the last move's ``chain``."""
    render = _renderer()
    return render.rgb_array(render.board_of_game(game, chain=chain))  # type: ignore[no-any-return]


def match_picture(match: Match) -> npt.NDArray[np.uint8]:
    """The renderer's picture of a match: both fields, player 0 on the left, pending ojama, frame."""
    return _renderer().rgb_array(match)  # type: ignore[no-any-return]


def match_text(match: Match) -> str:
    """Both fields' pretty strings with the frame and pending ojama."""
    lines = [f"frame {match.frame}"]
    for view in match.players:
        lines.append(f"player {view.index}: score {view.score}, pending ojama {view.pending_ojama}")
        lines.append(view.field.get_pretty_string().rstrip("\n"))
    return "\n".join(lines) + "\n"


