#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <memory>
#include <string>

#include "bindings.hpp"
#include "interop.hpp"

namespace velmo_game {
namespace {

using velmo::PairSequence;
using velmo::SequenceKind;
using namespace nb::literals;

unsigned colors_from_python(nb::handle colors) {
    const std::int64_t n = int_in_range(colors, "colors", 0, INT32_MAX);
    if (n != 3 && n != 4) {
        raise_value_error("colors must be 3 or 4, not " + std::to_string(n) +
                          " (a 5-colour game needs PURPLE, which velmo.Field cannot hold)");
    }
    return static_cast<unsigned>(n);
}

}  // namespace

PairSequence make_seeded(nb::handle seed, nb::handle colors, const std::string& kind) {
    const std::uint64_t seed_value = seed_from_python(seed, "seed");
    const unsigned num_colors = colors_from_python(colors);
    const SequenceKind sequence_kind = kind_from_name(kind);
    if (sequence_kind == SequenceKind::Explicit) raise_value_error("kind must be 'balanced' or 'uniform', not 'explicit'");
    return PairSequence::seeded(seed_value, num_colors, sequence_kind);
}

namespace {

std::uint64_t index_from_python(nb::handle index) {
    if (!PyIndex_Check(index.ptr())) raise_type_error("PairSequence indices must be integers, not " + python_type_name(index));
    nb::object as_int = nb::steal(PyNumber_Index(index.ptr()));
    if (!as_int.is_valid()) throw nb::python_error();
    if (PyObject_RichCompareBool(as_int.ptr(), nb::int_(0).ptr(), Py_LT) == 1) {
        throw nb::index_error("a PairSequence has no end to count from: the index must be >= 0");
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(as_int.ptr());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        throw nb::index_error("PairSequence index out of range (at most 2**64-1)");
    }
    return value;
}

nb::tuple colors_tuple(const PairSequence& sequence) {
    nb::list colors;
    for (const velmo::BitPuyoType color : sequence.colors()) colors.append(velmo::bit_code(color));
    return nb::tuple(colors);
}

using PairArray = nb::ndarray<nb::numpy, std::uint8_t, nb::shape<-1, 2>>;

PairArray pairs_array(const PairSequence& sequence, nb::handle count, nb::handle start) {
    const auto n = static_cast<std::size_t>(int_in_range(count, "n", 0, INT32_MAX));
    const std::uint64_t first = seed_from_python(start, "start");
    auto data = std::make_unique<std::uint8_t[]>(2 * n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        const velmo::GamePair pair = sequence.at(first + i);
        data[2 * i] = velmo::bit_code(pair.child());
        data[2 * i + 1] = velmo::bit_code(pair.axis());
    }
    std::uint8_t* raw = data.release();
    nb::capsule owner(raw, [](void* p) noexcept { delete[] static_cast<std::uint8_t*>(p); });
    return PairArray(raw, {n, 2}, owner);
}

std::string sequence_repr(const PairSequence& sequence) {
    if (sequence.kind() == SequenceKind::Explicit) {
        return "PairSequence(<" + std::to_string(sequence.loop().size()) + " explicit pairs>)";
    }
    return "PairSequence(" + std::to_string(sequence.seed()) + ", colors=" + std::to_string(sequence.colors().size()) +
           ", kind='" + kind_name(sequence.kind()) + "')";
}

}  // namespace

std::string sequence_origin(const PairSequence& sequence) {
    if (sequence.kind() != SequenceKind::Balanced) return "sequence=" + sequence_repr(sequence);
    const std::size_t colors = sequence.colors().size();
    return "seed=" + std::to_string(sequence.seed()) + (colors == 4 ? "" : ", colors=" + std::to_string(colors));
}

const char* kind_name(SequenceKind kind) {
    switch (kind) {
        case SequenceKind::Balanced: return "balanced";
        case SequenceKind::Uniform: return "uniform";
        case SequenceKind::Explicit: break;
    }
    return "explicit";
}

SequenceKind kind_from_name(const std::string& name) {
    if (name == "balanced") return SequenceKind::Balanced;
    if (name == "uniform") return SequenceKind::Uniform;
    if (name == "explicit") return SequenceKind::Explicit;
    raise_value_error("kind must be 'balanced' or 'uniform', not '" + name + "'");
}

velmo::PairSequence sequence_from_python(nb::handle sequence, const char* argument) {
    if (nb::isinstance<PairSequence>(sequence)) return nb::cast<const PairSequence&>(sequence);
    const auto pairs = pairs_from_python(sequence, argument);
    return PairSequence::from_pairs(pairs);
}

nb::tuple sequence_state(const PairSequence& sequence) {
    std::string loop;
    if (sequence.kind() == SequenceKind::Explicit) {
        for (const velmo::GamePair pair : sequence.loop()) {
            loop.push_back(static_cast<char>(velmo::bit_code(pair.child())));
            loop.push_back(static_cast<char>(velmo::bit_code(pair.axis())));
        }
    }
    return nb::make_tuple(kind_name(sequence.kind()), sequence.colors().size(), sequence.seed(),
                          nb::bytes(loop.data(), loop.size()));
}

PairSequence sequence_from_state(nb::handle state) {
    if (!nb::isinstance<nb::tuple>(state) || nb::len(state) != 4) {
        raise_value_error("invalid PairSequence state: expected a tuple (kind, colors, seed, pairs)");
    }
    const auto kind = kind_from_name(nb::cast<std::string>(state[0]));
    if (kind != SequenceKind::Explicit) {
        return PairSequence::seeded(seed_from_python(state[2], "seed"), colors_from_python(state[1]), kind);
    }
    if (!nb::isinstance<nb::bytes>(state[3])) raise_value_error("invalid PairSequence state: pairs must be bytes");
    const auto bytes = nb::cast<nb::bytes>(state[3]);
    const std::size_t size = bytes.size();
    if (size == 0 || size % 2 != 0 || size / 2 > velmo::kMaxExplicitPairs) {
        raise_value_error("invalid PairSequence state: wrong number of pair bytes");
    }
    std::vector<velmo::GamePair> pairs;
    const char* data = bytes.c_str();
    for (std::size_t i = 0; i < size; i += 2) {
        const auto child = velmo::bit_from_python_number(static_cast<unsigned char>(data[i]));
        const auto axis = velmo::bit_from_python_number(static_cast<unsigned char>(data[i + 1]));
        const auto is_color = [](std::optional<velmo::BitPuyoType> t) { return t && velmo::PuyoTraits<velmo::BitPuyoType>::is_color(*t); };
        if (!is_color(child) || !is_color(axis)) raise_value_error("invalid PairSequence state: a pair byte is not a colour");
        pairs.push_back(velmo::GamePair{{*child, *axis}});
    }
    return PairSequence::from_pairs(pairs);
}

void bind_sequence(nb::module_& m) {
    nb::class_<PairSequence>(m, "PairSequence",
        "The pairs a game deals, for every index from 0 on.\n\n"
        "``PairSequence(seed, colors=4, kind='balanced')`` deals the arcade's loop of 128 pairs\n"
        "(every chosen colour equally often, shuffled, the first two pairs in at most three\n"
        "colours), repeating; ``kind='uniform'`` draws every puyo independently. The same seed\n"
        "gives the same pairs on every machine and Python version. ``seq[i]`` is a\n"
        "``velmo.Pair``; sequences compare with ``==``, copy and pickle.")
        .def("__init__",
             [](Unmade<PairSequence> self, nb::handle seed, nb::handle colors, const std::string& kind) {
                 new (self.place()) PairSequence(make_seeded(seed, colors, kind));
             },
             "seed"_a, nb::kw_only(), "colors"_a = 4, "kind"_a = "balanced",
             nb::sig("def __init__(self, seed: int, *, colors: int = 4, kind: typing.Literal['balanced', 'uniform'] = 'balanced') -> None"),
             "Deal the sequence of ``seed`` (an int in 0..2**64-1) in ``colors`` colours (3 or 4).\n\n"
             "With 3 colours the seed also picks which of RED, BLUE, YELLOW and GREEN is left out.\n\n"
             "Raises:\n"
             "    ValueError: a negative seed, colors other than 3 or 4, an unknown kind.\n"
             "    TypeError: a seed or colors that is not an int.")
        .def_static("from_pairs",
             [](nb::handle pairs) { return PairSequence::from_pairs(pairs_from_python(pairs, "pairs")); }, "pairs"_a,
             nb::sig("def from_pairs(pairs: collections.abc.Sequence[velmo.Pair]) -> PairSequence"),
             "A sequence that deals the given pairs (1 to 256) and then repeats them from the start.\n\n"
             "Raises:\n"
             "    ValueError: no pairs, more than 256, or a pair holding PURPLE, OJAMA, WALL or EMPTY.\n"
             "    TypeError: something that is not a sequence of ``velmo.Pair``.")
        .def("__getitem__", [](const PairSequence& self, nb::handle index) { return pair_to_python(self.at(index_from_python(index))); },
             "index"_a, nb::sig("def __getitem__(self, index: typing.SupportsIndex, /) -> velmo.Pair"),
             "The pair dealt at ``index`` (0 is the first), as a ``velmo.Pair``.\n\n"
             "Raises:\n"
             "    IndexError: a negative index (a sequence has no end to count from).")
        .def("take", [](const PairSequence& self, nb::handle count, nb::handle start) {
                 const auto n = static_cast<std::size_t>(int_in_range(count, "n", 0, 1 << 24));
                 const std::uint64_t first = seed_from_python(start, "start");
                 nb::list out;
                 for (std::size_t i = 0; i < n; ++i) out.append(pair_to_python(self.at(first + i)));
                 return out;
             },
             "n"_a, "start"_a = 0, nb::sig("def take(self, n: int, start: int = 0) -> list[velmo.Pair]"),
             "The ``n`` pairs from index ``start`` on, as a list of ``velmo.Pair``.")
        .def("to_numpy", &pairs_array, "n"_a, "start"_a = 0,
             nb::sig("def to_numpy(self, n: int, start: int = 0) -> numpy.typing.NDArray[numpy.uint8]"),
             "The ``n`` pairs from index ``start`` on as an ``(n, 2)`` uint8 array of ``PuyoType``\n"
             "numbers, child then axis (RED 4, BLUE 5, YELLOW 6, GREEN 7).")
        .def_prop_ro("colors", &colors_tuple, nb::sig("def colors(self) -> tuple[int, ...]"),
                     "The colours in use as ``PuyoType`` numbers, in the order RED, BLUE, YELLOW, GREEN.")
        .def_prop_ro("kind", [](const PairSequence& self) { return kind_name(self.kind()); },
                     nb::sig("def kind(self) -> typing.Literal['balanced', 'uniform', 'explicit']"),
                     "'balanced', 'uniform', or 'explicit' for a sequence of given pairs.")
        .def_prop_ro("seed", [](const PairSequence& self) { return self.seed(); }, "The seed (0 for given pairs).")
        .def("__eq__", [](const PairSequence& a, nb::handle b) -> nb::object {
                 if (!nb::isinstance<PairSequence>(b)) return nb::borrow(Py_NotImplemented);
                 return nb::bool_(a == nb::cast<const PairSequence&>(b));
             }, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both deal the same pairs from the same recipe.")
        .def("__repr__", &sequence_repr)
        .def("__copy__", [](const PairSequence& self) { return self; }, "A copy (sequences are values).")
        .def("__deepcopy__", [](const PairSequence& self, nb::handle) { return self; }, "memo"_a,
             nb::sig("def __deepcopy__(self, memo: dict[int, object], /) -> PairSequence"), "A copy (sequences are values).")
        .def("__getstate__", &sequence_state, nb::sig("def __getstate__(self) -> tuple[str, int, int, bytes]"),
             "The pickle state: (kind, colors, seed, pairs), the pairs as bytes for given pairs only.")
        .def("__setstate__", [](Unmade<PairSequence> self, nb::handle state) { new (self.place()) PairSequence(parse_state("PairSequence", [&] { return sequence_from_state(state); })); },
             "state"_a, nb::sig("def __setstate__(self, state: tuple[str, int, int, bytes], /) -> None"),
             "Restore a pickled sequence (ValueError for a state that is not one).");
    m.attr("PairSequence").attr("__hash__") = nb::none();
    m.attr("PairSequence").attr("__iter__") = nb::none();
}

}  // namespace velmo_game
