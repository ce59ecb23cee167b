"""Show velmo's pieces: the puyo types, a pair, and every legal hand."""

import velmo
from velmo import Hand, Pair, PuyoType, Rotation

pair = Pair(PuyoType.RED, PuyoType.BLUE)
print("pair:", pair, "child", pair.child, "axis", pair.axis)
print("hands:", " ".join(repr(hand).split()[-1].rstrip(">") for hand in Hand.enumerate()))
print("hand at column 2, right:", Hand(2, Rotation.RIGHT))
print("classes:", ", ".join(velmo.__all__[1:]))
