import pytest
import velmo

from search_fields import COLORS, game_fields, raw_fields
from velmo_game.search import PotentialChain, best_chain, detect_chains


def restated(field, max_added):
    """The potential chains written plainly with velmo.Field."""
    found = []
    for column in range(6):
        for color in COLORS:
            if not field.has_type(color):
                continue
            for added in range(1, max_added + 1):
                trial = field.clone()
                if trial.get_height(column) >= 14 and trial.get(column, 0) != 0:
                    break
                before = trial.clone()
                for _ in range(added):
                    trial.put(column, color)
                if sum(trial.get(column, y) != before.get(column, y) for y in range(14)) < added:
                    break  # the column filled up before all were dropped
                result = trial.chain()
                if result.chain > 0:
                    found.append(PotentialChain(column, color, added, result.chain, result.score, trial))
                    break
    return found


FIELDS = game_fields(150, seed=1) + raw_fields(150, seed=2)


@pytest.mark.parametrize("max_added", [1, 3, 5])
def test_detect_chains_agrees_with_the_restatement(max_added):
    for field in FIELDS:
        assert detect_chains(field, max_added=max_added) == restated(field, max_added)


def test_best_chain_is_the_highest_score_then_fewest_added():
    for field in FIELDS:
        found = detect_chains(field, build_fields=False)
        best = best_chain(field)
        if not found:
            assert best is None
            continue
        assert all(r.field is None for r in found)
        expected = min(found, key=lambda r: (-r.score, r.added))
        assert best == expected[:5]


def test_three_in_a_row_fire_from_the_columns_that_touch_them():
    field = velmo.Field()
    for x in range(3):
        field.put(x, 4)
    found = detect_chains(field, max_added=2)
    assert [(r.column, r.color, r.added, r.chain, r.score) for r in found] == [(x, 4, 1, 1, 40) for x in range(4)]
    assert all(r.field == velmo.Field() for r in found)
    assert best_chain(field) == (0, 4, 1, 1, 40)


@pytest.mark.parametrize("bad", [0, 15, -1])
def test_max_added_out_of_range_is_refused(bad):
    with pytest.raises(ValueError, match="max_added"):
        detect_chains(velmo.Field(), max_added=bad)


def test_non_fields_are_refused():
    with pytest.raises(TypeError):
        detect_chains("field")  # type: ignore[arg-type]
