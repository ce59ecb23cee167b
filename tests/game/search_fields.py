"""Seeded fields for the search tests: positions of seeded games, and raw random grids."""

import velmo

import velmo_game
from velmo_game.players import RandomPlayer, SplitMix64

COLORS = (4, 5, 6, 7)


def game_fields(count, seed=0, max_turns=40):
    """Fields met in seeded random games (settled, as games leave them)."""
    fields = []
    player = RandomPlayer(seed)
    game_seed = seed
    while len(fields) < count:
        game = velmo_game.Game(game_seed)
        game_seed += 1
        while not game.is_over and game.turn < max_turns and len(fields) < count:
            game.play(player.choose(game))
            fields.append(game.field)
    return fields


def raw_fields(count, seed=0):
    """Random grids: floating puyos, pending groups, ojama; anything a Field can hold."""
    generator = SplitMix64(seed)
    fields = []
    for _ in range(count):
        field = velmo.Field()
        for x in range(6):
            top = generator.below(15)
            for y in range(14 - top, 14):
                kind = generator.below(10)
                if kind < 8:
                    field.set(x, y, COLORS[kind % 4])
                elif kind == 8:
                    field.set(x, y, 1)
        fields.append(field)
    return fields
