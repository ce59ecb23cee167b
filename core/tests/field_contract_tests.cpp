// The field contract on both representations: new fields, cells, heights, single-puyo drops,
// pair placement, gravity, type queries, comparison, and the text and array forms.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "field/field.hpp"
#include "harness.hpp"
#include "test_support.hpp"

using namespace velmo;
using velmo_test::field_from_rows;
using Array = ArrayField<RegularPuyoType>;

namespace {

constexpr std::uint64_t kWrappedMinusOne = ~std::uint64_t{0};

template <class F>
void check_new_field(const F& field) {
    using P = typename F::Puyo;
    for (std::uint64_t x = 0; x < kFieldWidth; ++x) {
        for (std::uint64_t y = 0; y < kFieldHeight; ++y) {
            const bool border = x == 0 || x == 7 || y == 0 || y == 15;
            CHECK(field.get(x, y) == (border ? PuyoTraits<P>::kWall : PuyoTraits<P>::kEmpty));
        }
    }
    for (std::uint64_t x = 1; x <= 6; ++x) CHECK_EQ(field.get_height(x), 0u);
    CHECK_EQ(field.get_height(0), 14u);
    CHECK_EQ(field.get_height(7), 14u);
    CHECK_EQ(field.get_num_puyos(), 0u);
    CHECK(field.is_all_clear());
    for (const auto& column : field.to_array()) {
        for (const std::uint64_t cell : column) CHECK_EQ(cell, 0u);
    }
}

template <class F>
void check_heights_and_put_fill_gaps_first() {
    using P = typename F::Puyo;
    const P red = unwrap(PuyoTraits<P>::from_char(U'R'));
    const P blue = unwrap(PuyoTraits<P>::from_char(U'B'));
    F field;
    field.set(1, 14, red);
    field.set(1, 12, red);
    CHECK_EQ(field.get_height(1), 1u);
    CHECK((field.put(1, blue) == Position{1, 13}));
    CHECK_EQ(field.get_height(1), 3u);

    for (std::uint64_t y = 1; y <= 14; ++y) field.set(2, y, red);
    const F full = field;
    CHECK(!field.put(2, blue).has_value());
    CHECK(field == full);
    CHECK_EQ(field.get_height(2), 14u);
    CHECK(!field.put(7, blue).has_value());  // the right wall column is full
}

template <class F>
void check_counts_ignore_the_fourteenth_row() {
    using P = typename F::Puyo;
    const P green = unwrap(PuyoTraits<P>::from_char(U'G'));
    F field;
    field.set(3, 1, green);
    CHECK_EQ(field.get_num_puyos(), 0u);
    CHECK(field.is_all_clear());
    field.drop();
    CHECK(field.get(3, 1) == green);
    field.set(3, 2, green);
    CHECK_EQ(field.get_num_puyos(), 1u);
    CHECK(!field.is_all_clear());
    field.drop();  // the 13th row falls, the 14th stays
    CHECK(field.get(3, 14) == green);
    CHECK(field.get(3, 1) == green);
    CHECK(field.get(3, 2) == PuyoTraits<P>::kEmpty);
}

template <class F>
void check_pair_placement() {
    using P = typename F::Puyo;
    const P red = unwrap(PuyoTraits<P>::from_char(U'R'));
    const P blue = unwrap(PuyoTraits<P>::from_char(U'B'));
    const Pair<P> pair{{red, blue}};  // child RED, axis BLUE

    F top;
    CHECK(put_pair(top, 3, Rotation::Top, pair).ok());
    CHECK(top.get(3, 14) == blue);
    CHECK(top.get(3, 13) == red);

    F bottom;
    CHECK(put_hand(bottom, Hand{3, Rotation::Bottom}, pair).ok());
    CHECK(bottom.get(3, 14) == red);
    CHECK(bottom.get(3, 13) == blue);

    F left;
    CHECK(put_pair(left, 6, Rotation::Left, pair).ok());
    CHECK(left.get(6, 14) == blue);
    CHECK(left.get(5, 14) == red);

    F untouched;
    const auto rotation_error = put_pair(untouched, 1, Rotation::Left, pair);
    CHECK(!rotation_error.ok() && rotation_error.error().display() == "Invalid put operation (left, 1)");
    const auto right_error = put_pair(untouched, 6, Rotation::Right, pair);
    CHECK(!right_error.ok() && right_error.error().display() == "Invalid put operation (right, 6)");
    const auto wall_error = put_pair(untouched, 7, Rotation::Top, pair);
    CHECK(!wall_error.ok() && wall_error.error().display() == "Invalid put operation (row=7)");
    CHECK(untouched == F{});
    CHECK_EQ(FieldError::invalid_string_length().display(), std::string("Invalid length of string is passed to from_str"));
}

// Height limits: 12 for top, 11 for bottom, 13 for the horizontal rotations.
template <class F>
void check_height_limits() {
    using P = typename F::Puyo;
    const P red = unwrap(PuyoTraits<P>::from_char(U'R'));
    const Pair<P> pair{{red, red}};
    const auto column_of_height = [&](std::uint64_t height) {
        F field;
        for (std::uint64_t r = 0; r < height; ++r) field.set(2, 14 - r, red);
        return field;
    };
    F h12 = column_of_height(12);
    CHECK(put_pair(h12, 2, Rotation::Top, pair).ok());
    CHECK_EQ(h12.get_height(2), 14u);
    F h12b = column_of_height(12);
    const auto bottom = put_pair(h12b, 2, Rotation::Bottom, pair);
    CHECK(!bottom.ok() && bottom.error().display() == "Invalid put operation (row=2)");
    CHECK(h12b == column_of_height(12));
    F h13 = column_of_height(13);
    CHECK(!put_pair(h13, 2, Rotation::Top, pair).ok());
    CHECK(put_pair(h13, 2, Rotation::Left, pair).ok());
    F h13r = column_of_height(13);
    CHECK(put_pair(h13r, 2, Rotation::Right, pair).ok());
    for (const Rotation rotation : {Rotation::Top, Rotation::Bottom, Rotation::Left, Rotation::Right}) {
        F h14 = column_of_height(14);
        CHECK(!put_pair(h14, 2, rotation, pair).ok());
    }
}

}  // namespace

TEST(new_fields_have_walls_and_nothing_else) {
    check_new_field(BitField{});
    check_new_field(Array{});
    CHECK(BitField{}.has_type(BitPuyoType::Wall));
    CHECK(BitField{}.has_type(BitPuyoType::Empty));
    CHECK(!BitField{}.has_type(BitPuyoType::Red));
    CHECK(!Array{}.has_type(RegularPuyoType::Wall));
    CHECK(Array{}.has_type(RegularPuyoType::Empty));
}

TEST(heights_count_the_unbroken_run_and_put_fills_the_lowest_gap) {
    check_heights_and_put_fill_gaps_first<BitField>();
    check_heights_and_put_fill_gaps_first<Array>();
}

TEST(counted_area_leaves_out_the_fourteenth_row) {
    check_counts_ignore_the_fourteenth_row<BitField>();
    check_counts_ignore_the_fourteenth_row<Array>();
}

TEST(pair_placement_drops_axis_and_child_by_rotation) {
    check_pair_placement<BitField>();
    check_pair_placement<Array>();
}

TEST(pair_placement_height_limits_per_rotation) {
    check_height_limits<BitField>();
    check_height_limits<Array>();
}

TEST(bit_field_columns_beyond_the_grid_have_no_room) {
    BitField field;
    CHECK_EQ(field.get_height(8), kWrappedMinusOne);
    CHECK(!field.put(8, BitPuyoType::Red).has_value());
    CHECK(field == BitField{});
    const Pair<BitPuyoType> pair{{BitPuyoType::Red, BitPuyoType::Red}};
    for (const Rotation rotation : {Rotation::Top, Rotation::Bottom, Rotation::Left}) {
        const auto result = put_pair(field, 9, rotation, pair);
        CHECK(!result.ok() && result.error().display() == "Invalid put operation (row=9)");
    }
    // A column whose bottom wall was emptied reports 14 - 15 in machine-word arithmetic.
    field.set(2, 15, BitPuyoType::Empty);
    CHECK_EQ(field.get_height(2), kWrappedMinusOne);
}

TEST(array_field_checks_indices_column_first) {
    Array field;
    CHECK_FAILS_WITH(field.get(8, 0), "index out of bounds: the len is 8 but the index is 8");
    CHECK_FAILS_WITH(field.get(8, 16), "index out of bounds: the len is 8 but the index is 8");
    CHECK_FAILS_WITH(field.get(1, 16), "index out of bounds: the len is 16 but the index is 16");
    CHECK_FAILS_WITH(field.set(0, 99, RegularPuyoType::Red), "index out of bounds: the len is 16 but the index is 99");
    CHECK_FAILS_WITH(field.put(8, RegularPuyoType::Red), "index out of bounds: the len is 8 but the index is 8");
    CHECK_FAILS_WITH(field.get_height(12), "index out of bounds: the len is 8 but the index is 12");
    const Pair<RegularPuyoType> pair{{RegularPuyoType::Red, RegularPuyoType::Red}};
    CHECK_FAILS_WITH((void)put_pair(field, 9, Rotation::Left, pair), "index out of bounds: the len is 8 but the index is 9");
    CHECK_FAILS_WITH((void)put_pair(field, 8, Rotation::Top, pair), "index out of bounds: the len is 8 but the index is 8");
    CHECK(!put_pair(field, 9, Rotation::Right, pair).ok());
    CHECK(field == Array{});
}

TEST(bit_field_reading_code_three_is_an_internal_failure) {
    const BitField field = BitField::from_planes(u128{1} << bit_layout::cell_bit(1, 14), bit_layout::kWalls | (u128{1} << bit_layout::cell_bit(1, 14)), 0);
    CHECK_FAILS_WITH(field.get(1, 14), "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)");
    CHECK_FAILS_WITH(field.to_array(), "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)");
    CHECK_FAILS_WITH((void)field.equals_without_fuzzy(BitField{}), "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)");
    CHECK_FAILS_WITH((void)BitField{}.equals_without_fuzzy(field), "Failed to get puyo from field bits: InvalidPuyoTypeNumber(3)");
    // A difference met earlier in reading order answers first.
    BitField earlier_difference;
    earlier_difference.set(1, 3, BitPuyoType::Red);
    CHECK(!earlier_difference.equals_without_fuzzy(field));
}

TEST(gravity_of_a_wall_inside_the_field_differs_between_representations) {
    // Rows y = 1..14 of column 1: _ _ _ W _ _ _ B _ G _ _ _ O
    const char* column = "___W___B_G___O";
    BitField bits;
    Array array;
    for (std::uint64_t y = 1; y <= 14; ++y) {
        bits.set(1, y, unwrap(PuyoTraits<BitPuyoType>::from_char(static_cast<char32_t>(column[y - 1]))));
        array.set(1, y, unwrap(PuyoTraits<RegularPuyoType>::from_char(static_cast<char32_t>(column[y - 1]))));
    }
    bits.drop();
    array.drop();
    for (std::uint64_t y = 1; y <= 14; ++y) {
        const BitPuyoType expected_bits = y == 8 ? BitPuyoType::Wall : y == 12 ? BitPuyoType::Blue : y == 13 ? BitPuyoType::Green : y == 14 ? BitPuyoType::Ojama : BitPuyoType::Empty;
        CHECK_EQ(bits.get(1, y), expected_bits);
        const RegularPuyoType expected_array = y == 11 ? RegularPuyoType::Wall : y == 12 ? RegularPuyoType::Blue : y == 13 ? RegularPuyoType::Green : y == 14 ? RegularPuyoType::Ojama : RegularPuyoType::Empty;
        CHECK_EQ(array.get(1, y), expected_array);
    }
}

TEST(gravity_moves_the_thirteenth_row_down_and_keeps_order) {
    BitField bits;
    bits.set(1, 2, BitPuyoType::Red);
    bits.set(2, 4, BitPuyoType::Blue);
    bits.set(2, 6, BitPuyoType::Yellow);
    bits.set(2, 10, BitPuyoType::Ojama);
    Array array = velmo_test::to_array_field(bits);
    bits.drop();
    array.drop();
    CHECK_EQ(bits.get(1, 14), BitPuyoType::Red);
    CHECK_EQ(bits.get(2, 14), BitPuyoType::Ojama);
    CHECK_EQ(bits.get(2, 13), BitPuyoType::Yellow);
    CHECK_EQ(bits.get(2, 12), BitPuyoType::Blue);
    CHECK(velmo_test::to_array_field(bits) == array);
}

TEST(has_type_searches_the_whole_grid_or_only_the_playable_area) {
    BitField bits;
    bits.set(0, 5, BitPuyoType::Empty);
    CHECK(bits.has_type(BitPuyoType::Empty));
    Array array;
    array.set(0, 5, RegularPuyoType::Empty);
    array.set(3, 3, RegularPuyoType::Purple);
    CHECK(array.has_type(RegularPuyoType::Purple));
    array.set(2, 6, RegularPuyoType::Wall);
    CHECK(array.has_type(RegularPuyoType::Wall));
    BitField full;
    for (std::uint64_t x = 1; x <= 6; ++x) {
        for (std::uint64_t y = 1; y <= 14; ++y) full.set(x, y, BitPuyoType::Green);
    }
    CHECK(!full.has_type(BitPuyoType::Empty));
    CHECK(full.has_type(BitPuyoType::Green));
    CHECK(!full.has_type(BitPuyoType::Ojama));
}

TEST(fuzzy_rows_are_ignored_only_by_equals_without_fuzzy) {
    for (const std::uint64_t fuzzy_row : {std::uint64_t{1}, std::uint64_t{2}}) {
        BitField a;
        BitField b;
        b.set(4, fuzzy_row, BitPuyoType::Yellow);
        CHECK(!(a == b));
        CHECK(a.equals_without_fuzzy(b));
        Array c;
        Array d;
        d.set(4, fuzzy_row, RegularPuyoType::Purple);
        CHECK(!(c == d));
        CHECK(c.equals_without_fuzzy(d));
    }
    BitField a;
    BitField b;
    b.set(6, 14, BitPuyoType::Red);
    CHECK(!a.equals_without_fuzzy(b));
    CHECK(!velmo_test::to_array_field(a).equals_without_fuzzy(velmo_test::to_array_field(b)));
}

TEST(text_form_places_rows_from_the_bottom) {
    const auto bits = field_from_rows<BitField>({"RRB", "GGGY"});
    CHECK_EQ(bits.get(1, 13), BitPuyoType::Red);
    CHECK_EQ(bits.get(2, 13), BitPuyoType::Red);
    CHECK_EQ(bits.get(3, 13), BitPuyoType::Blue);
    CHECK_EQ(bits.get(3, 14), BitPuyoType::Green);
    CHECK_EQ(bits.get(4, 14), BitPuyoType::Yellow);
    CHECK_EQ(bits.get_num_puyos(), 7u);
    CHECK(velmo_test::to_array_field(bits) == field_from_rows<Array>({"RRB", "GGGY"}));
    CHECK(field_from_rows<BitField>({}) == BitField{});
    const auto low = field_from_rows<Array>({"", "R"});
    CHECK_EQ(low.get(1, 14), RegularPuyoType::Red);
    CHECK_EQ(low.get_num_puyos(), 1u);
    CHECK(field_from_rows<BitField>({"_ O W"}) == field_from_rows<BitField>({"  O W"}));
    CHECK_EQ(field_from_rows<Array>({"P"}).get(1, 14), RegularPuyoType::Purple);
    // Characters are whole UTF-8 scalar values.
    const std::vector<std::string_view> accented = {"R\xC3\xA9"};
    const auto result = from_str_array<BitField>(accented);
    CHECK(!result.ok() && result.error().debug() == "InvalidPuyoTypeCharacter('\xC3\xA9')");
    const std::vector<std::string_view> purple = {"P"};
    CHECK(!from_str_array<BitField>(purple).ok());
    const std::vector<std::string_view> lower = {"r"};
    CHECK(!from_str_array<Array>(lower).ok());
}

TEST(text_form_limits_are_fifteen_rows_and_seven_characters) {
    const std::vector<std::string_view> fifteen(15, "RRRRRRR");
    const auto bits = unwrap(from_str_array<BitField>(fifteen));
    const auto array = unwrap(from_str_array<Array>(fifteen));
    CHECK_EQ(bits.get(7, 0), BitPuyoType::Red);
    CHECK_EQ(bits.get(3, 0), BitPuyoType::Red);
    CHECK_EQ(bits.get(0, 0), BitPuyoType::Wall);
    CHECK_EQ(bits.get(7, 15), BitPuyoType::Wall);
    CHECK(velmo_test::to_array_field(bits) == array);

    std::vector<std::string_view> sixteen(16, "R");
    CHECK_FAILS_WITH((void)from_str_array<BitField>(sixteen), "index out of bounds: the len is 16 but the index is 18446744073709551615");
    CHECK_FAILS_WITH((void)from_str_array<Array>(sixteen), "index out of bounds: the len is 16 but the index is 18446744073709551615");
    sixteen[0] = "x";
    const auto bad_character = from_str_array<BitField>(sixteen);
    CHECK(!bad_character.ok() && bad_character.error().debug() == "InvalidPuyoTypeCharacter('x')");
    sixteen[0] = "";
    CHECK(from_str_array<Array>(sixteen).ok());
    const std::vector<std::string_view> eight = {"RRRRRRRR"};
    CHECK_FAILS_WITH((void)from_str_array<BitField>(eight), "index out of bounds: the len is 8 but the index is 8");
    CHECK_FAILS_WITH((void)from_str_array<Array>(eight), "index out of bounds: the len is 8 but the index is 8");
}

TEST(array_form_checks_sizes_interleaved_with_numbers) {
    std::vector<std::vector<std::uint64_t>> zeros(6, std::vector<std::uint64_t>(14, 0));
    CHECK(from_array<BitField>(zeros).value() == BitField{});
    CHECK(from_array<Array>(zeros).ok());
    auto five = zeros;
    five.pop_back();
    CHECK(!from_array<BitField>(five).ok());
    auto short_column = zeros;
    short_column[3].pop_back();
    CHECK(!from_array<Array>(short_column).ok());
    CHECK_EQ(ArraySizeError::display(), std::string("Invalid size of array"));

    auto invalid_then_short = zeros;
    invalid_then_short[0][5] = 3;
    invalid_then_short[1].pop_back();
    CHECK_FAILS_WITH((void)from_array<BitField>(invalid_then_short), "not implemented");
    CHECK_FAILS_WITH((void)from_array<Array>(invalid_then_short), "not implemented");
    auto purple = zeros;
    purple[2][13] = 8;
    CHECK_FAILS_WITH((void)from_array<BitField>(purple), "not implemented");
    const Array with_purple = from_array<Array>(purple).value();
    CHECK_EQ(with_purple.get(3, 14), RegularPuyoType::Purple);
    CHECK_EQ(with_purple.to_array()[2][13], 7u);

    auto colours = zeros;
    colours[0][13] = 4;
    colours[5][0] = 7;
    const BitField bits = from_array<BitField>(colours).value();
    CHECK_EQ(bits.get(1, 14), BitPuyoType::Red);
    CHECK_EQ(bits.get(6, 1), BitPuyoType::Green);
    CHECK_EQ(bits.to_array()[0][13], 4u);
    CHECK_EQ(from_array<Array>(colours).value().to_array()[0][13], 3u);
}

TEST(array_form_round_trips_random_bit_fields) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 200; ++i) {
        const BitField field = velmo_test::random_stacked_field(random, {BitPuyoType::Empty, BitPuyoType::Ojama, BitPuyoType::Wall, BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green}, 14);
        std::vector<std::vector<std::uint64_t>> form;
        for (const auto& column : field.to_array()) form.emplace_back(column.begin(), column.end());
        CHECK(from_array<BitField>(form).value() == field);
    }
}
