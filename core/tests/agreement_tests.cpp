// Agreement on many seeded random fields: every processor path against the portable one (on any
// planes at all), and the bit field against the array field (on fields both can hold).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <random>
#include <vector>

#include "chain/chain.hpp"
#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "field/cpu_path.hpp"
#include "harness.hpp"
#include "test_support.hpp"

using namespace velmo;
using Array = ArrayField<RegularPuyoType>;

namespace {

// Everything the bit field's bulk operations produce for one start field.
struct Outcome {
    std::vector<std::uint64_t> heights;
    std::vector<bool> put_landed;
    BitField dropped;
    BitField vanished;
    BitField vanished_scored;
    std::uint32_t vanish_score = 0;
    std::uint32_t vanish_chain = 0;
    BitField chained;
    ChainResult chain;
    std::vector<FoundChain> found;
};

Outcome run_everything(const BitField& start) {
    Outcome out;
    for (std::uint64_t x = 0; x < 10; ++x) {
        out.heights.push_back(start.get_height(x));
        BitField copy = start;
        out.put_landed.push_back(copy.put(x, BitPuyoType::Yellow).has_value());
    }
    out.dropped = start;
    out.dropped.drop();
    out.vanished = start;
    out.vanished.vanish(nullptr);
    out.vanished_scored = start;
    GradualChainScoreCalculator calculator;
    out.vanished_scored.vanish(&calculator);
    out.vanish_score = calculator.score();
    out.vanish_chain = calculator.chain();
    out.chained = start;
    out.chain = velmo::chain(out.chained);
    out.found = start.find_chain_by_removal();
    return out;
}

bool same_found(const std::vector<FoundChain>& a, const std::vector<FoundChain>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].removed != b[i].removed || a[i].puyo_type != b[i].puyo_type || !(a[i].field == b[i].field) ||
            a[i].score != b[i].score || a[i].chain != b[i].chain) {
            return false;
        }
    }
    return true;
}

void check_same(const Outcome& expected, const Outcome& actual, CpuPath path, int sample) {
    const bool same = expected.heights == actual.heights && expected.put_landed == actual.put_landed &&
                      expected.dropped == actual.dropped && expected.vanished == actual.vanished &&
                      expected.vanished_scored == actual.vanished_scored && expected.vanish_score == actual.vanish_score &&
                      expected.vanish_chain == actual.vanish_chain && expected.chained == actual.chained &&
                      expected.chain.score == actual.chain.score && expected.chain.chain == actual.chain.chain &&
                      expected.chain.step_scores == actual.chain.step_scores && same_found(expected.found, actual.found);
    if (!same) velmo_test::record("path " + std::string(to_text(path)) + " differs from portable on sample " + std::to_string(sample), __FILE__, __LINE__);
}

std::vector<BitField> sample_fields() {
    std::vector<BitField> fields;
    std::mt19937_64 random(2024);
    for (int i = 0; i < 300; ++i) {
        fields.push_back(velmo_test::random_stacked_field(random, {BitPuyoType::Empty, BitPuyoType::Ojama, BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green}));
    }
    for (int i = 0; i < 300; ++i) {
        fields.push_back(velmo_test::random_stacked_field(random, {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green, BitPuyoType::Ojama, BitPuyoType::Wall, BitPuyoType::Empty}, 14));
    }
    for (int i = 0; i < 200; ++i) fields.push_back(velmo_test::random_planes(random));
    // Any planes, but no WALL code inside the counted area (gravity may then take a shortcut).
    for (int i = 0; i < 200; ++i) {
        const auto planes = velmo_test::random_planes(random).planes();
        const u128 walls_inside = planes[1] & ~planes[0] & ~planes[2] & bit_layout::kCountedArea;
        fields.push_back(BitField::from_planes(planes[0], planes[1] & ~walls_inside, planes[2]));
    }
    for (int i = 0; i < 12; ++i) fields.push_back(velmo_test::build_chain_field(random, 8 + i, 4000));
    // Settled stacks of colours and ojama: their chains take the shorter gravity of a path that
    // has one, both with one run of emptied rows per column and with several.
    for (int i = 0; i < 300; ++i) {
        fields.push_back(velmo_test::random_stacked_field(random, {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green, BitPuyoType::Ojama}, 3 + i % 11));
    }
    // Settled fields where one column empties a run of every length a step can clear there (a
    // vertical group of 4 to 12, with ojama on it, at every height), and others fall beside it:
    // every run length reaches the shorter gravity of a path that has one.
    constexpr BitPuyoType kColors[4] = {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green};
    for (std::uint64_t length = 4; length <= 12; ++length) {
        for (std::uint64_t base = 0; base + length <= 12; ++base) {
            BitField field = velmo_test::random_stacked_field(random, {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green, BitPuyoType::Ojama}, 12);
            const std::uint64_t x = 1 + (length + base) % 6;
            for (std::uint64_t r = 0; r < 13; ++r) field.set(x, kBottomPlayableRow - r, BitPuyoType::Empty);
            std::uint64_t row = 0;
            for (; row < base; ++row) field.set(x, kBottomPlayableRow - row, kColors[1 + row % 3]);
            for (; row < base + length; ++row) field.set(x, kBottomPlayableRow - row, BitPuyoType::Red);
            if (row < 13) field.set(x, kBottomPlayableRow - row++, BitPuyoType::Ojama);
            if (row < 13) field.set(x, kBottomPlayableRow - row, kColors[random() % 4]);
            fields.push_back(field);
        }
    }
    return fields;
}

struct RestoreCpuPath {
    CpuPath saved = active_cpu_path();
    ~RestoreCpuPath() { (void)force_cpu_path(saved); }
};

}  // namespace

TEST(cpu_paths_are_listed_and_switchable) {
    const RestoreCpuPath restore;
    const auto paths = supported_cpu_paths();
    CHECK(!paths.empty() && paths.front() == CpuPath::Portable);
    CHECK(active_cpu_path() == paths.back());
    for (const CpuPath path : paths) {
        CHECK(force_cpu_path(path));
        CHECK(active_cpu_path() == path);
    }
    CHECK_EQ(to_text(CpuPath::Portable), std::string_view("portable"));
    CHECK_EQ(to_text(CpuPath::Bmi2Avx2), std::string_view("bmi2-avx2"));
    CHECK_EQ(to_text(CpuPath::Avx512), std::string_view("avx512"));
    std::printf("cpu paths:");
    for (const CpuPath path : paths) std::printf(" %s", std::string(to_text(path)).c_str());
    std::printf("\n");
}

TEST(every_cpu_path_matches_the_portable_one) {
    const RestoreCpuPath restore;
    const auto fields = sample_fields();
    CHECK(force_cpu_path(CpuPath::Portable));
    std::vector<Outcome> expected;
    for (const BitField& field : fields) expected.push_back(run_everything(field));
    for (const CpuPath path : supported_cpu_paths()) {
        if (path == CpuPath::Portable) continue;
        CHECK(force_cpu_path(path));
        for (std::size_t i = 0; i < fields.size(); ++i) check_same(expected[i], run_everything(fields[i]), path, static_cast<int>(i));
    }
}

TEST(bit_and_array_fields_agree_on_vanish_drop_and_chain) {
    std::mt19937_64 random(99);
    std::vector<BitField> fields;
    for (int i = 0; i < 1500; ++i) {
        fields.push_back(velmo_test::random_stacked_field(random, {BitPuyoType::Empty, BitPuyoType::Ojama, BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green}));
    }
    for (int i = 0; i < 10; ++i) fields.push_back(velmo_test::build_chain_field(random, 6 + i, 3000));
    std::uint32_t longest = 0;
    for (const BitField& start : fields) {
        BitField bits = start;
        Array array = velmo_test::to_array_field(start);
        GradualChainScoreCalculator bit_calculator;
        GradualChainScoreCalculator array_calculator;
        bits.vanish(&bit_calculator);
        array.vanish(&array_calculator);
        CHECK(velmo_test::to_array_field(bits) == array);
        CHECK_EQ(bit_calculator.score(), array_calculator.score());
        bits.drop();
        array.drop();
        CHECK(velmo_test::to_array_field(bits) == array);

        BitField chained_bits = start;
        Array chained_array = velmo_test::to_array_field(start);
        const ChainResult bit_result = velmo::chain(chained_bits);
        const ChainResult array_result = velmo::chain(chained_array);
        CHECK(velmo_test::to_array_field(chained_bits) == chained_array);
        CHECK(bit_result.score == array_result.score && bit_result.chain == array_result.chain &&
              bit_result.step_scores == array_result.step_scores);
        longest = std::max(longest, bit_result.chain);

        BitField stepped_bits = start;
        Array stepped_array = velmo_test::to_array_field(start);
        step_chain(stepped_bits);
        step_chain(stepped_array);
        CHECK(velmo_test::to_array_field(stepped_bits) == stepped_array);
    }
    CHECK(longest >= 10);
}

TEST(the_settled_chain_matches_the_full_chain_on_settled_fields_on_every_path) {
    const RestoreCpuPath restore;
    for (const CpuPath path : supported_cpu_paths()) {
        CHECK(force_cpu_path(path));
        for (const BitField& sample : sample_fields()) {
            BitField settled = sample;
            settled.drop();
            BitField full = settled, fast = settled;
            const ChainResult expected = full.run_chain();
            const ChainTotals totals = fast.run_settled_chain();
            CHECK(totals.score == expected.score && totals.chain == expected.chain && fast == full);
        }
    }
}
