import random

import pytest

import velmo
from velmo import Field

EMPTY, OJAMA, RED, BLUE, YELLOW, GREEN = 0, 1, 4, 5, 6, 7
COLOURS = [RED, BLUE, YELLOW, GREEN]


def found(field):
    return [(chain.chain, chain.score) for chain in field.find_chain_by_removal()]


def test_worked_example_fires_one_chain():
    field = Field.from_str_array(["   R", "RRRB"])
    result = field.find_chain_by_removal()
    assert len(result) == 1
    assert (result[0].chain, result[0].score) == (1, 40)
    assert repr(result[0]) == "<FoundChain object PyFoundChain { chain: 1, score: 40 }>"


@pytest.mark.parametrize("rows", [[], ["RGRG", "GRGR"], ["RRR"]])
def test_nothing_found(rows):
    assert Field.from_str_array(rows).find_chain_by_removal() == []


def test_enclosed_groups_are_not_tried():
    field = Field()
    for x in range(6):
        for y in range(14):
            field.set(x, y, [RED, BLUE][(x + y) % 2])
    assert field.find_chain_by_removal() == []


def test_existing_group_fires_in_every_other_trial():
    # A red group of four already stands; removing either lone puyo lets it fire.
    field = Field.from_str_array(["B    G", "RRRRYY"])
    result = found(field)
    assert len(result) == 3  # blue, green, yellow pair: every group except the reds themselves
    assert all(score == 40 for _, score in result)


def test_columns_are_tried_from_the_fourth():
    # Removing the blue in column 0 lets four reds meet (40); removing the green in column 4 lets
    # five yellows meet (100). Column 4 is tried first.
    field = Field.from_str_array(["    Y", "R   Y", "B   G", "R   Y", "R   Y", "R   Y"])
    assert found(field) == [(1, 100), (1, 40)]


def test_two_chain_found():
    field = Field.from_str_array(["G", "B", "RBB", "RRRB"])
    assert (2, 360) in found(field)


def test_field_unchanged_and_shared_borrow():
    field = Field.from_str_array(["B", "RBB", "RRRB"])
    before = field.clone()
    field.find_chain_by_removal()
    assert field == before


class TestFoundChain:
    def test_has_no_constructor(self):
        with pytest.raises(TypeError):
            velmo.FoundChain()

    def test_attributes(self):
        result = Field.from_str_array(["   R", "RRRB"]).find_chain_by_removal()[0]
        assert type(result.chain) is int and type(result.score) is int
        with pytest.raises(AttributeError):
            result.chain = 5


# ---------------------------------------------------------------------------------------------
# The search re-stated with the public API
# ---------------------------------------------------------------------------------------------

def candidates(field):
    """Colour cells next to an empty cell, in trial order: columns 3, 4, 5, 0, 1, 2, bottom up."""
    cells = []
    for x in (3, 4, 5, 0, 1, 2):
        for y in range(13, -1, -1):
            if field.get(x, y) < RED:
                continue
            neighbours = [(x, y - 1), (x, y + 1), (x - 1, y), (x + 1, y)]
            if any(0 <= nx <= 5 and 0 <= ny <= 13 and field.get(nx, ny) == EMPTY for nx, ny in neighbours):
                cells.append((x, y))
    return cells


def group(field, seed):
    colour = field.get(*seed)
    seen, todo = {seed}, [seed]
    while todo:
        x, y = todo.pop()
        for nx, ny in [(x, y - 1), (x, y + 1), (x - 1, y), (x + 1, y)]:
            if 0 <= nx <= 5 and 0 <= ny <= 13 and (nx, ny) not in seen and field.get(nx, ny) == colour:
                seen.add((nx, ny))
                todo.append((nx, ny))
    return seen


def gravity(field):
    """Rows 1..13 (the 13th row and below) fall; the 14th row stays."""
    for x in range(6):
        cells = [field.get(x, y) for y in range(1, 14) if field.get(x, y) != EMPTY]
        column = [EMPTY] * (13 - len(cells)) + cells
        for y, value in zip(range(1, 14), column):
            field.set(x, y, value)


def restated_search(field):
    results, tried = [], set()
    for seed in candidates(field):
        if seed in tried:
            continue
        removed = group(field, seed)
        tried |= removed
        trial = field.clone()
        for cell in removed:
            trial.set(*cell, EMPTY)
        gravity(trial)
        result = trial.chain()
        if result.score:
            results.append((result.chain, result.score))
    return results


def random_field(rng):
    field = Field()
    for x in range(6):
        height = rng.randint(0, 12)
        for y in range(14 - height, 14):
            field.set(x, y, OJAMA if rng.random() < 0.05 else rng.choice(COLOURS))
    return field


@pytest.mark.parametrize("seed", range(8))
def test_search_matches_its_restatement(seed):
    rng = random.Random(seed)
    for _ in range(25):
        field = random_field(rng)
        field.chain()  # searched fields are usually settled
        assert found(field) == restated_search(field)
