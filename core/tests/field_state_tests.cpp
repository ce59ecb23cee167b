// The pickle states of both fields: exact bytes, round trips and the refusals.
#include <cstdint>
#include <random>
#include <vector>

#include "field/field_state.hpp"
#include "harness.hpp"
#include "test_support.hpp"

using namespace velmo;
using Array = ArrayField<RegularPuyoType>;

namespace {

std::vector<std::uint8_t> bytes_of(std::span<const std::uint8_t> span) { return {span.begin(), span.end()}; }

std::vector<std::uint8_t> bit_state(std::uint64_t declared_length, std::size_t following_bytes) {
    std::vector<std::uint8_t> state(8 + following_bytes, 0);
    for (int i = 0; i < 8; ++i) state[i] = static_cast<std::uint8_t>(declared_length >> (8 * i));
    return state;
}

}  // namespace

TEST(new_bit_field_state_is_length_then_three_planes) {
    const auto state = bytes_of(encode_state(BitField{}).bytes());
    std::vector<std::uint8_t> expected = {0x30, 0, 0, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), 16, 0);
    for (const std::uint8_t b : {0xff, 0xff, 0x01, 0x80, 0x01, 0x80, 0x01, 0x80, 0x01, 0x80, 0x01, 0x80, 0x01, 0x80, 0xff, 0xff}) expected.push_back(b);
    expected.insert(expected.end(), 16, 0);
    CHECK(state == expected);
}

TEST(new_array_field_state_is_column_major_case_numbers) {
    const auto state = bytes_of(encode_state(Array{}).bytes());
    CHECK_EQ(state.size(), 512u);
    for (std::size_t x = 0; x < 8; ++x) {
        for (std::size_t y = 0; y < 16; ++y) {
            const bool border = x == 0 || x == 7 || y == 0 || y == 15;
            const std::size_t offset = 4 * (16 * x + y);
            CHECK_EQ(state[offset], border ? 2 : 0);
            CHECK(state[offset + 1] == 0 && state[offset + 2] == 0 && state[offset + 3] == 0);
        }
    }
}

TEST(field_states_round_trip) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 50; ++i) {
        const BitField bits = velmo_test::random_planes(random);  // any planes, unchecked
        CHECK(decode_bit_field_state(encode_state(bits).bytes()).value() == bits);
        Array array;
        for (std::uint64_t x = 0; x < 8; ++x) {
            for (std::uint64_t y = 0; y < 16; ++y) array.set(x, y, static_cast<RegularPuyoType>(random() % 8));
        }
        CHECK(decode_array_field_state(encode_state(array).bytes()).value() == array);
    }
}

TEST(bit_field_state_length_rules) {
    auto longer = bit_state(48, 60);
    longer[8] = 0x5A;
    const auto loaded = decode_bit_field_state(longer);
    CHECK(loaded.ok() && loaded.value().planes()[0] == 0x5A && loaded.value().planes()[1] == 0);
    const auto sequence_too_long = decode_bit_field_state(bit_state(100, 48));
    CHECK(!sequence_too_long.ok() && sequence_too_long.error().debug() == "Io(Custom { kind: UnexpectedEof, error: \"\" })");
    const auto no_length = decode_bit_field_state(std::vector<std::uint8_t>(7, 0));
    CHECK(!no_length.ok() && no_length.error().debug() == "Io(Kind(UnexpectedEof))");
    CHECK_FAILS_WITH(decode_bit_field_state(bit_state(40, 40)), "range end index 48 out of range for slice of length 40");
    CHECK_FAILS_WITH(decode_bit_field_state(bit_state(16, 16)), "range end index 32 out of range for slice of length 16");
    CHECK_FAILS_WITH(decode_bit_field_state(bit_state(15, 20)), "range end index 16 out of range for slice of length 15");
    CHECK_FAILS_WITH(decode_bit_field_state(bit_state(0, 0)), "range end index 16 out of range for slice of length 0");
}

TEST(array_field_state_checks_each_case_number_as_read) {
    auto state = bytes_of(encode_state(Array{}).bytes());
    state[4 * 20] = 8;
    const auto invalid = decode_array_field_state(state);
    CHECK(!invalid.ok() && invalid.error().debug() == "Custom(\"invalid value: integer `8`, expected variant index 0 <= i < 8\")");
    state.resize(4 * 20 + 4);  // the bad number is reported although the state is also short
    CHECK(!decode_array_field_state(state).ok() && decode_array_field_state(state).error().debug().starts_with("Custom("));
    auto short_state = bytes_of(encode_state(Array{}).bytes());
    short_state.pop_back();
    const auto eof = decode_array_field_state(short_state);
    CHECK(!eof.ok() && eof.error().debug() == "Io(Kind(UnexpectedEof))");
    auto purple = bytes_of(encode_state(Array{}).bytes());
    purple[4 * (16 * 3 + 14)] = 7;
    CHECK_EQ(decode_array_field_state(purple).value().get(3, 14), RegularPuyoType::Purple);
}
