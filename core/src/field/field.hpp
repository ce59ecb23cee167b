// The field contract, written once for every representation: the grid geometry, positions, the
// placement errors, the `Field` concept, and the operations defined in terms of reading and
// writing cells (height, single-puyo drop, pair placement, counts, the text and array forms).
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "../debug_text.hpp"
#include "../hand.hpp"
#include "../internal_failure.hpp"
#include "../pair.hpp"
#include "../puyotype/puyotype.hpp"
#include "../result.hpp"
#include "../rotation.hpp"

namespace velmo {

class GradualChainScoreCalculator;

// --- geometry (internal coordinates: x = 0..7 left to right, y = 0..15 top to bottom) ----------

inline constexpr std::uint64_t kFieldWidth = 8;    // columns, walls included
inline constexpr std::uint64_t kFieldHeight = 16;  // rows, walls included
inline constexpr std::uint64_t kFirstPlayableColumn = 1;
inline constexpr std::uint64_t kLastPlayableColumn = 6;
inline constexpr std::uint64_t kTopPlayableRow = 1;      // the 14th row from the bottom
inline constexpr std::uint64_t kCountedTopRow = 2;       // the 13th row: top of the counted area
inline constexpr std::uint64_t kConnectionTopRow = 3;    // the 12th row: top of the connection region
inline constexpr std::uint64_t kBottomPlayableRow = 14;  // the lowest playable row
inline constexpr std::uint64_t kMaxHeight = 14;
inline constexpr std::size_t kArrayFormColumns = 6;
inline constexpr std::size_t kArrayFormRows = 14;

struct Position {
    std::uint64_t x;
    std::uint64_t y;
    friend constexpr bool operator==(const Position&, const Position&) = default;
};

// --- errors ------------------------------------------------------------------------------------

class FieldError {
public:
    enum class Kind : std::uint8_t { InvalidPutRotation, InvalidPutColumn, InvalidStringLength };

    static constexpr FieldError invalid_put_rotation(Rotation rotation, std::uint64_t x) {
        return {Kind::InvalidPutRotation, rotation, x};
    }
    static constexpr FieldError invalid_put_column(std::uint64_t x) { return {Kind::InvalidPutColumn, Rotation::Top, x}; }
    static constexpr FieldError invalid_string_length() { return {Kind::InvalidStringLength, Rotation::Top, 0}; }

    [[nodiscard]] constexpr Kind kind() const { return kind_; }
    [[nodiscard]] constexpr Rotation rotation() const { return rotation_; }
    [[nodiscard]] constexpr std::uint64_t column() const { return column_; }
    // "Invalid put operation (left, 1)", "Invalid put operation (row=7)" or
    // "Invalid length of string is passed to from_str".
    [[nodiscard]] std::string display() const {
        switch (kind_) {
            case Kind::InvalidPutRotation:
                return "Invalid put operation (" + std::string(to_text(rotation_)) + ", " + std::to_string(column_) + ")";
            case Kind::InvalidPutColumn: return "Invalid put operation (row=" + std::to_string(column_) + ")";
            case Kind::InvalidStringLength: break;
        }
        return "Invalid length of string is passed to from_str";
    }

    friend constexpr bool operator==(const FieldError&, const FieldError&) = default;

private:
    constexpr FieldError(Kind kind, Rotation rotation, std::uint64_t column)
        : kind_(kind), rotation_(rotation), column_(column) {}
    Kind kind_;
    Rotation rotation_;
    std::uint64_t column_;
};

// The array form had a wrong number of columns or a column of the wrong length.
struct ArraySizeError {
    [[nodiscard]] static std::string display() { return "Invalid size of array"; }
};

// --- the contract ------------------------------------------------------------------------------

template <class F>
concept Field = PuyoType<typename F::Puyo> && std::copyable<F> && std::default_initializable<F> &&
                requires(F& field, const F& view, std::uint64_t x, std::uint64_t y, typename F::Puyo t,
                         GradualChainScoreCalculator* calculator) {
                    { view.get(x, y) } -> std::same_as<typename F::Puyo>;
                    field.set(x, y, t);
                    { field.put(x, t) } -> std::same_as<std::optional<Position>>;
                    { view.get_height(x) } -> std::same_as<std::uint64_t>;
                    { view.get_num_puyos() } -> std::same_as<std::uint64_t>;
                    { view.is_all_clear() } -> std::same_as<bool>;
                    { view.has_type(t) } -> std::same_as<bool>;
                    field.drop();
                    field.vanish(calculator);
                    { view == view } -> std::same_as<bool>;
                    { view.equals_without_fuzzy(view) } -> std::same_as<bool>;
                };

// Height of column x: the unbroken run of occupied cells upward from the lowest playable row.
// Reads cells only, so a representation with range-checked columns reports a bad x at the first read.
template <class F>
std::uint64_t generic_get_height(const F& field, std::uint64_t x) {
    using P = typename F::Puyo;
    if (field.get(x, kBottomPlayableRow) == PuyoTraits<P>::kEmpty) return 0;
    for (std::uint64_t y = kBottomPlayableRow - 1; y >= kTopPlayableRow; --y) {
        if (field.get(x, y) == PuyoTraits<P>::kEmpty) return kBottomPlayableRow - y;
    }
    return kMaxHeight;
}

// Drops one puyo into the lowest empty cell of rows 14..1 of column x; a gap is filled first.
template <class F>
std::optional<Position> generic_put(F& field, std::uint64_t x, typename F::Puyo t) {
    using P = typename F::Puyo;
    for (std::uint64_t y = kBottomPlayableRow; y >= kTopPlayableRow; --y) {
        if (field.get(x, y) == PuyoTraits<P>::kEmpty) {
            field.set(x, y, t);
            return Position{x, y};
        }
    }
    return std::nullopt;
}

// Occupied cells of the counted area (columns 1..6, rows y = 2..14).
template <class F>
std::uint64_t generic_get_num_puyos(const F& field) {
    using P = typename F::Puyo;
    std::uint64_t count = 0;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        for (std::uint64_t y = kCountedTopRow; y <= kBottomPlayableRow; ++y) {
            count += field.get(x, y) != PuyoTraits<P>::kEmpty ? 1 : 0;
        }
    }
    return count;
}

template <class F>
bool generic_is_all_clear(const F& field) {
    return generic_get_num_puyos(field) == 0;
}

// --- pair placement ----------------------------------------------------------------------------

// Checks the height limit of the rotation, then drops the two puyos; the field changes only on
// success. A vertical pair needs room for two (child on top: height <= 12; child below: <= 11,
// because the child then lands first); a horizontal pair needs one free cell per column.
template <Field F>
Status<FieldError> put_pair(F& field, std::uint64_t x, Rotation rotation, Pair<typename F::Puyo> pair) {
    const bool leaves_left_edge = rotation == Rotation::Left && x <= 1;
    const bool leaves_right_edge = rotation == Rotation::Right && x >= 6;
    if (leaves_left_edge || leaves_right_edge) return Err{FieldError::invalid_put_rotation(rotation, x)};

    switch (rotation) {
        case Rotation::Top:
            if (field.get_height(x) > 12) return Err{FieldError::invalid_put_column(x)};
            field.put(x, pair.axis());
            field.put(x, pair.child());
            break;
        case Rotation::Bottom:
            if (field.get_height(x) > 11) return Err{FieldError::invalid_put_column(x)};
            field.put(x, pair.child());
            field.put(x, pair.axis());
            break;
        case Rotation::Left:
            if (field.get_height(x) > 13 || field.get_height(x - 1) > 13) return Err{FieldError::invalid_put_column(x)};
            field.put(x, pair.axis());
            field.put(x - 1, pair.child());
            break;
        case Rotation::Right:
            if (field.get_height(x) > 13 || field.get_height(x + 1) > 13) return Err{FieldError::invalid_put_column(x)};
            field.put(x, pair.axis());
            field.put(x + 1, pair.child());
            break;
    }
    return Unit{};
}

template <Field F>
Status<FieldError> put_hand(F& field, const Hand& hand, Pair<typename F::Puyo> pair) {
    return put_pair(field, hand.x, hand.rotation, pair);
}

// --- exchange forms ----------------------------------------------------------------------------

// The array form as Python sees it: 6 playable columns from the left, 14 rows from the top each.
using ArrayForm = std::array<std::array<std::uint64_t, kArrayFormRows>, kArrayFormColumns>;

template <Field F>
ArrayForm to_array(const F& field) {
    using P = typename F::Puyo;
    ArrayForm out{};
    for (std::size_t i = 0; i < kArrayFormColumns; ++i) {
        for (std::size_t j = 0; j < kArrayFormRows; ++j) out[i][j] = PuyoTraits<P>::to_python_result(field.get(i + 1, j + 1));
    }
    return out;
}

// Builds a field from Python numbers, checking sizes column by column interleaved with the
// conversions, so the first problem in reading order is the one reported. An invalid number
// fails with "not implemented". `Columns` is a vector of vectors or any type with the same
// size() and [] (the binding passes a form that keeps only the 6 x 14 numbers a field can use).
template <Field F, class Columns = std::vector<std::vector<std::uint64_t>>>
Result<F, ArraySizeError> from_array(const Columns& python_numbers) {
    using P = typename F::Puyo;
    F field;
    if (python_numbers.size() != kArrayFormColumns) return Err{ArraySizeError{}};
    for (std::size_t i = 0; i < kArrayFormColumns; ++i) {
        const auto& column = python_numbers[i];
        if (column.size() != kArrayFormRows) return Err{ArraySizeError{}};
        for (std::size_t j = 0; j < kArrayFormRows; ++j) field.set(i + 1, j + 1, puyo_from_python_number<P>(column[j]));
    }
    return field;
}

// One row of a text form with its place: 1 for the last (lowest) row, 2 for the one above it...
struct PlacedTextRow {
    std::string_view utf8;
    std::uint64_t rows_from_end;
};

// A text form is read from its last row upwards, and a field has only 16 rows: the 16th
// non-empty row from the end cannot be written, so the reading stops there at the latest.
// Empty rows write nothing. The non-empty rows up to that one decide the result alone.
inline constexpr std::size_t kTextFormRowsRead = kFieldHeight;

namespace detail {

// Writes one row of text at row y = 15 - rows_from_end (wrapping past the top on purpose):
// characters from the first; a bad character is reported before a cell outside the grid.
template <Field F>
std::optional<PuyoTypeError> write_text_row(F& field, std::string_view row_utf8, std::uint64_t rows_from_end) {
    using P = typename F::Puyo;
    const std::uint64_t y = (kFieldHeight - 1) - rows_from_end;
    std::size_t pos = 0;
    std::uint64_t x = kFirstPlayableColumn;
    while (const auto ch = next_utf8(row_utf8, pos)) {
        const auto t = PuyoTraits<P>::from_char(*ch);
        if (!t) return t.error();
        if (x >= kFieldWidth) fail_index_out_of_bounds(kFieldWidth, x);
        if (y >= kFieldHeight) fail_index_out_of_bounds(kFieldHeight, y);
        field.set(x, y, t.value());
        ++x;
    }
    return std::nullopt;
}

}  // namespace detail

// Builds a field from text rows (UTF-8), the last row the lowest playable one. Rows and columns
// beyond the grid are refused with the index failures, the column first; a 16th row from the
// end fails on its first character, a bad character being reported before the row.
template <Field F>
Result<F, PuyoTypeError> from_str_array(std::span<const std::string_view> rows_utf8) {
    F field;
    std::uint64_t rows_from_end = 0;
    for (auto row = rows_utf8.rbegin(); row != rows_utf8.rend(); ++row) {
        if (auto error = detail::write_text_row(field, *row, ++rows_from_end)) return Err{*error};
    }
    return field;
}

// The same from only the rows that decide it, last row first: the non-empty rows of a text
// form up to its kTextFormRowsRead-th non-empty one from the end, each with its place.
template <Field F>
Result<F, PuyoTypeError> from_placed_text_rows(std::span<const PlacedTextRow> rows_last_first) {
    F field;
    for (const PlacedTextRow& row : rows_last_first) {
        if (auto error = detail::write_text_row(field, row.utf8, row.rows_from_end)) return Err{*error};
    }
    return field;
}

}  // namespace velmo
