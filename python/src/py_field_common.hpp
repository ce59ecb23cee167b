// The methods that Field and ArrayField share, written once over the field contract. Each class
// file lists them in its own method table; only the class name and the field type differ.
//
// Python coordinates are the playable ones (column 0..5, row 0..13); the core's internal ones
// count the walls, so every coordinate is shifted by one on the way in.
#pragma once

#include <array>

#include "chain/chain.hpp"
#include "classes.hpp"
#include "color_switch.hpp"
#include "field/field.hpp"
#include "field/field_state.hpp"
#include "field/pretty_string.hpp"

namespace velmo::py {

// The internal index of a Python coordinate along an axis of `len` cells (walls included).
// Anything past the far wall is refused before the field is touched; the shown index is the
// Python coordinate plus one, written out even where that no longer fits a machine word.
inline std::uint64_t internal_index(std::uint64_t python, std::uint64_t len) {
    if (python > len - 2) [[unlikely]] {
        if (python == UINT64_MAX) fail_index_out_of_bounds(len, "18446744073709551616");
        fail_index_out_of_bounds(len, python + 1);
    }
    return python + 1;
}

inline std::uint64_t internal_column(std::uint64_t python_x) { return internal_index(python_x, 8); }
inline std::uint64_t internal_row(std::uint64_t python_y) { return internal_index(python_y, 16); }

// A pair in the field's own cell type: the bit field has no purple, so it is refused there.
template <class P>
Pair<P> pair_for_field(const Pair<RegularPuyoType>& pair) {
    if constexpr (std::is_same_v<P, RegularPuyoType>) {
        return pair;
    } else {
        const auto child = to_bit(pair.child());
        const auto axis = to_bit(pair.axis());
        if (!child || !axis) fail_not_implemented();
        return {{*child, *axis}};
    }
}

// A placement error reaches Python as RuntimeError with the error's text.
inline void report(const Status<FieldError>& placed) {
    if (!placed) raise(PyExc_RuntimeError, placed.error().display());
}

template <class F>
struct FieldEntries {
    using P = typename F::Puyo;
    static constexpr const char* kName = PyClass<F>::kBindingName;

    static F from_str_array(const TextRows& s) { return unwrap(velmo::from_placed_text_rows<F>(s.last_first())); }

    static F from_array(const IntegerColumns& s) {
        auto field = velmo::from_array<F>(s);
        if (!field) raise(PyExc_RuntimeError, "Invalid size of array");
        return std::move(field).value();
    }

    static F clone(const F& field) { return field; }

    static std::uint64_t get(F& field, std::uint64_t x, std::uint64_t y) {
        const std::uint64_t column = internal_column(x);
        return PuyoTraits<P>::to_python_result(field.get(column, internal_row(y)));
    }

    static Self set(F& field, std::uint64_t x, std::uint64_t y, std::uint64_t value) {
        const P type = puyo_from_python_number<P>(value);
        const std::uint64_t column = internal_column(x);
        field.set(column, internal_row(y), type);
        return {};
    }

    static Self put(F& field, std::uint64_t x, std::uint64_t value) {
        const P type = puyo_from_python_number<P>(value);
        static_cast<void>(field.put(internal_column(x), type));  // a full column is left as it is
        return {};
    }

    static Ref to_array(const F& field) {
        const auto columns = field.to_array();
        Ref outer = check(PyList_New(static_cast<Py_ssize_t>(columns.size())));
        for (std::size_t x = 0; x < columns.size(); ++x) {
            Ref inner = check(PyList_New(static_cast<Py_ssize_t>(columns[x].size())));
            for (std::size_t y = 0; y < columns[x].size(); ++y) {
                PyList_SET_ITEM(inner.get(), static_cast<Py_ssize_t>(y), to_python(std::uint64_t{columns[x][y]}, nullptr).release());
            }
            PyList_SET_ITEM(outer.get(), static_cast<Py_ssize_t>(x), inner.release());
        }
        return outer;
    }

    static std::uint64_t get_height(const F& field, std::uint64_t x) { return field.get_height(internal_column(x)); }
    static std::uint64_t get_num_puyos(const F& field) { return field.get_num_puyos(); }
    static bool is_all_clear(const F& field) { return field.is_all_clear(); }
    static bool has_type(const F& field, std::uint64_t puyotype) {
        return field.has_type(puyo_from_python_number<P>(puyotype));
    }

    static Self put_pair(F& field, std::uint64_t x, std::string_view rotation, const Instance<Pair<RegularPuyoType>>& pair) {
        const Rotation parsed = unwrap(rotation_from_str(rotation));
        const Pair<P> placed = pair_for_field<P>(*pair);
        if (x == UINT64_MAX) [[unlikely]]
            fail_placement_past_machine_word(parsed);
        report(velmo::put_pair(field, x + 1, parsed, placed));
        return {};
    }

    static Self put_hand(F& field, const Instance<Hand>& hand, const Instance<Pair<RegularPuyoType>>& pair) {
        report(velmo::put_hand(field, *hand, pair_for_field<P>(*pair)));
        return {};
    }

    static void step_chain(F& field) { velmo::step_chain(field); }
    static ChainResult chain(F& field) { return velmo::chain(field); }

    static bool equals_without_fuzzy(const F& field, const Instance<F>& other) { return field.equals_without_fuzzy(*other); }
    static bool equal(const F& a, const F& b) { return a == b; }

    static std::string get_pretty_string(const F& field) { return pretty_string(field, color_enabled()); }

    static Ref get_state(const F& field) { return to_python(encode_state(field).bytes(), nullptr); }
    static void set_state(F& field, StateBytes state);

    // Python column 2**64 - 1 is internal column 2**64, past every column on both fields: it gets
    // the error such a column would get, instead of wrapping around to the left wall.
    [[noreturn]] static void fail_placement_past_machine_word(Rotation rotation) {
        constexpr const char* kColumn = "18446744073709551616";
        if (rotation == Rotation::Right)
            raise(PyExc_RuntimeError, std::string("Invalid put operation (right, ") + kColumn + ")");
        if constexpr (std::is_same_v<F, BitField>) {
            raise(PyExc_RuntimeError, std::string("Invalid put operation (row=") + kColumn + ")");
        } else {
            fail_index_out_of_bounds(8, kColumn);
        }
    }

    static constexpr Signature<1> kFromStrArray{kName, "from_str_array", {"s"}};
    static constexpr Signature<1> kFromArray{kName, "from_array", {"s"}};
    static constexpr Signature<2> kGet{kName, "get", {"x", "y"}};
    static constexpr Signature<3> kSet{kName, "set", {"x", "y", "value"}};
    static constexpr Signature<2> kPut{kName, "put", {"x", "value"}};
    static constexpr Signature<1> kGetHeight{kName, "get_height", {"x"}};
    static constexpr Signature<1> kHasType{kName, "has_type", {"puyotype"}};
    static constexpr Signature<3> kPutPair{kName, "put_pair", {"x", "rotation", "pair"}};
    static constexpr Signature<2> kPutHand{kName, "put_hand", {"hand", "pair"}};
    static constexpr Signature<1> kEqualsWithoutFuzzy{kName, "equals_without_fuzzy", {"other"}};
    static constexpr Signature<1> kSetState{kName, "__setstate__", {"state"}};
    static constexpr Signature<0> kGetState{kName, "__getstate__", {}};

    // The table up to get_pretty_string; the state methods close it (see tail). Functions, not
    // variables: a class file builds its table at load time, before template statics are set.
    static auto head() {
        return std::array{
        class_method<kFromStrArray, &from_str_array>(),
        class_method<kFromArray, &from_array>(),
        noargs_method<Borrow::Shared, &clone>("clone"),
        method<Borrow::Exclusive, kGet, &get>(),
        method<Borrow::Exclusive, kSet, &set>(),
        method<Borrow::Exclusive, kPut, &put>(),
        noargs_method<Borrow::Shared, &to_array>("to_array"),
        method<Borrow::Shared, kGetHeight, &get_height>(),
        noargs_method<Borrow::Shared, &get_num_puyos>("get_num_puyos"),
        noargs_method<Borrow::Shared, &is_all_clear>("is_all_clear"),
        method<Borrow::Shared, kHasType, &has_type>(),
        method<Borrow::Exclusive, kPutPair, &put_pair>(),
        method<Borrow::Exclusive, kPutHand, &put_hand>(),
        noargs_method<Borrow::Exclusive, &step_chain>("step_chain"),
        noargs_method<Borrow::Exclusive, &chain>("chain"),
        method<Borrow::Shared, kEqualsWithoutFuzzy, &equals_without_fuzzy>(),
            noargs_method<Borrow::Shared, &get_pretty_string>("get_pretty_string"),
        };
    }
    static auto tail() {
        return std::array{
            method<Borrow::Exclusive, kSetState, &set_state>(),
            method<Borrow::Shared, kGetState, &get_state>(),
            kEndOfMethods,
        };
    }
};

template <class F>
void FieldEntries<F>::set_state(F& field, StateBytes state) {
    if constexpr (std::is_same_v<F, BitField>) {
        field = unwrap(decode_bit_field_state(state.bytes));
    } else {
        field = unwrap(decode_array_field_state(state.bytes));
    }
}

// Joins method tables into one array (for PyType_FromSpec, which keeps a pointer to it).
template <std::size_t... N>
auto join_methods(const std::array<PyMethodDef, N>&... parts) {
    std::array<PyMethodDef, (N + ...)> out{};
    std::size_t i = 0;
    ((std::copy(parts.begin(), parts.end(), out.begin() + static_cast<std::ptrdiff_t>(i)), i += N), ...);
    return out;
}

}  // namespace velmo::py
