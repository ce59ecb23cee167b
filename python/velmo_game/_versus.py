"""What the two versus environments share: one match stepped by the native batch, the seeded
random opponent and the picture of a match.

Actions are 0..21 (indices into ``velmo.Hand.enumerate()``) and 22, ``WAIT``: the only action of
a player who is not due to move. An action that does not fit (an illegal move or a wait from a
player who is due, a move from a player who is not) is handled by ``illegal``:

- ``"substitute"`` (the default): a due player plays its lowest legal move instead and is charged
  ``illegal_penalty``; a move from a player who is not due counts as a wait, free of charge;
- ``"raise"``: ``ValueError``, and the match is unchanged.

Rewards are +1 for the winner and -1 for the loser when the match ends, 0 for both in a draw and
at every other step, plus any penalty. A match that reaches its rules' frame limit undecided is
truncated, not terminated. These rules are the core's (``core/src/game/match_batch.cpp``): the
environments step a ``VecMatch`` of one match (``NativeMatch``) and restate none of them.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable, Literal, Union

import numpy as np
import numpy.typing as npt
from gymnasium import spaces

from velmo_game._native import Game, Match, Rules, Timing, VecMatch, env_layout
from velmo_game.envs.options import ObservationForm, array_space, num_actions
from velmo_game.players import SplitMix64

WAIT: int = env_layout("match", 0)["wait_action"]
NUM_ACTIONS = num_actions("match")
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


def check_render_mode(render_mode: str | None) -> None:
    """The render modes every environment of the package offers (its rules' options are checked
    natively, where the rules live)."""
    if render_mode not in (None, "ansi", "rgb_array"):
        raise ValueError(f"render_mode must be None, 'ansi' or 'rgb_array', not {render_mode!r}")


def view_space(form: ObservationForm) -> spaces.Dict:
    """The space of ``NativeMatch.view``: both fields and pairs in ``form``, the pending ojama (own first)."""
    return spaces.Dict(
        {
            "field": form.field_space,
            "pairs": form.pairs_space,
            "opponent_field": form.field_space,
            "opponent_pairs": form.pairs_space,
            "pending_ojama": array_space("match", 0, "pending_ojama"),
        }
    )


# The order of spaces.flatten over view_space: a Dict's keys sorted.
_VIEW_ORDER = ("field", "opponent_field", "opponent_pairs", "pairs", "pending_ojama")


class NativeMatch:
    """One match stepped by the native batch of matches (a ``VecMatch`` of one, auto-reset off).

    Every rule of a step is the core's, the one the batches apply: which actions a player may
    send, the substitution of an illegal one and its penalty, the rewards, termination and
    truncation, the masks, the episode seeds (this match is environment copy ``copy``).
    """

    def __init__(self, settings: MatchSettings, copy: int, illegal: IllegalPolicy, illegal_penalty: float) -> None:
        self.batch = VecMatch(1, seed=0, num_threads=1, colors=settings.colors, visible=settings.visible,
                              rules=settings.rules, timing=settings.timing, autoreset="disabled", illegal=illegal,
                              illegal_penalty=illegal_penalty, first_copy=copy)
        self._substitute = illegal == "substitute"
        self._actions = np.full((1, 2), WAIT, dtype=np.int64)
        self._started = False
        # The batch's output arrays, row 0: the same objects for the batch's life, rewritten in
        # place by each step (read once here rather than through the batch's guarded properties).
        b = self.batch
        self.field, self.pairs, self.pending_ojama = b.field[0], b.pairs[0], b.pending_ojama[0]
        self.masks, self.due_players, self.rewards = b.action_masks[0], b.due[0], b.rewards[0]
        self.scores, self._chain, self._substituted = b.score[0], b.chain[0], b.substituted[0]
        self._sent, self._received = b.ojama_sent[0], b.ojama_received[0]
        self._terminated, self._truncated, self._frame = b.terminated, b.truncated, b.frame

    def reset(self, seed: int | None) -> None:
        """The next episode, or (``seed``) episode 0 of ``seed``; a first reset without one plays seed 0's."""
        self.batch.reset(seed if seed is not None or self._started else 0)
        self._started = True

    @property
    def seed(self) -> int:
        """The seed of the current match: ``Match(seed)`` replays it."""
        return int(self.batch.seeds[0])

    @property
    def match(self) -> Match:
        """A copy of the match."""
        return self.batch.match(0)

    @property
    def over(self) -> bool:
        return bool(self._terminated[0] or self._truncated[0])

    @property
    def terminated(self) -> bool:
        return bool(self._terminated[0])

    @property
    def truncated(self) -> bool:
        return bool(self._truncated[0])

    @property
    def frame(self) -> int:
        return int(self._frame[0])

    def due(self, player: int) -> bool:
        return bool(self.due_players[player])

    def step(self, action_0: int, action_1: int) -> None:
        """One decision of the match; an action outside 0..22 counts as an illegal one."""
        for player, action in enumerate((action_0, action_1)):
            # Out of range the batch refuses always; as the substitute rule's illegal action it is a wait.
            self._actions[0, player] = action if not self._substitute or 0 <= action <= WAIT else WAIT
        self.batch.step(self._actions)

    def view(self, player: int, form: ObservationForm) -> dict[str, npt.NDArray[Any]]:
        """What ``player`` sees, in ``form``: both fields and pairs, the pending ojama (own first)."""
        other = 1 - player
        return {
            "field": form.field(self.field[player]),
            "pairs": form.pairs(self.pairs[player]),
            "opponent_field": form.field(self.field[other]),
            "opponent_pairs": form.pairs(self.pairs[other]),
            "pending_ojama": self.pending_ojama[::1 if player == 0 else -1].copy(),
        }

    def flat_view(self, player: int, form: ObservationForm) -> npt.NDArray[np.float32]:
        """``view`` flattened into one float32 vector, its parts in ``view_space``'s (sorted) order."""
        view = self.view(player, form)
        return np.concatenate([view[key].ravel() for key in _VIEW_ORDER], dtype=np.float32)

    def mask(self, player: int) -> npt.NDArray[np.int8]:
        """The ``(23,)`` int8 mask of ``player``: its legal moves when due, else only WAIT."""
        mask: npt.NDArray[np.int8] = self.masks[player].copy()
        return mask

    def events(self, player: int, score_before: int) -> dict[str, Any]:
        """The last step's events for ``player``, as the environments' infos give them."""
        return {"chain": int(self._chain[player]), "score": int(self.scores[player]) - score_before,
                "ojama_sent": int(self._sent[player]), "ojama_received": int(self._received[player]),
                "illegal": bool(self._substituted[player])}


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


