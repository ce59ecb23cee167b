// ArrayField<P>: the plain field, one cell value per position, 8 columns of 16 cells stored
// column-major (cell (x, y) is element 16x + y). Every cell access is range-checked, the column
// first; the flood fill of `vanish` relies on the border cells holding WALL and reports a group
// that reaches past them with the same range failure before anything changes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "../chain/gradual_chain_score_calculator.hpp"
#include "../internal_failure.hpp"
#include "connection.hpp"
#include "field.hpp"

namespace velmo {

inline constexpr std::size_t kNumCells = kFieldWidth * kFieldHeight;

// One flag per cell, indexed like the field: the cells a flood fill has already collected.
using VisitedGrid = std::array<std::array<bool, kFieldHeight>, kFieldWidth>;

template <PuyoType P>
class ArrayField {
public:
    using Puyo = P;

    // A new field: walls in columns 0 and 7 and rows 0 and 15, every other cell empty.
    constexpr ArrayField() noexcept {
        for (std::uint64_t x = 0; x < kFieldWidth; ++x) {
            for (std::uint64_t y = 0; y < kFieldHeight; ++y) {
                const bool is_border = x == 0 || x == kFieldWidth - 1 || y == 0 || y == kFieldHeight - 1;
                cells_[index(x, y)] = is_border ? PuyoTraits<P>::kWall : PuyoTraits<P>::kEmpty;
            }
        }
    }

    [[nodiscard]] P get(std::uint64_t x, std::uint64_t y) const { return cells_[checked_index(x, y)]; }
    void set(std::uint64_t x, std::uint64_t y, P t) { cells_[checked_index(x, y)] = t; }

    std::optional<Position> put(std::uint64_t x, P t) { return generic_put(*this, x, t); }
    [[nodiscard]] std::uint64_t get_height(std::uint64_t x) const { return generic_get_height(*this, x); }

    [[nodiscard]] std::uint64_t get_num_puyos() const {
        std::uint64_t count = 0;
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            for (std::uint64_t y = kCountedTopRow; y <= kBottomPlayableRow; ++y) count += is_empty(x, y) ? 0 : 1;
        }
        return count;
    }
    [[nodiscard]] bool is_all_clear() const { return get_num_puyos() == 0; }

    // Whether a cell of the playable area (columns 1..6, rows 1..14) holds t; walls are not looked at.
    [[nodiscard]] bool has_type(P t) const {
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            for (std::uint64_t y = kTopPlayableRow; y <= kBottomPlayableRow; ++y) {
                if (cells_[index(x, y)] == t) return true;
            }
        }
        return false;
    }

    // Per column, the occupied cells of rows 14 up to 2 close ranks at the bottom in their order;
    // every occupied value falls alike, WALL included. Row 1 never moves.
    void drop() {
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            std::uint64_t target = kBottomPlayableRow;
            for (std::uint64_t y = kBottomPlayableRow; y >= kCountedTopRow; --y) {
                if (is_empty(x, y)) continue;
                if (target != y) {
                    cells_[index(x, target)] = cells_[index(x, y)];
                    cells_[index(x, y)] = PuyoTraits<P>::kEmpty;
                }
                --target;
            }
        }
    }

    // Appends to `cells` the not yet visited part of the group of colour c containing (x, y).
    void get_field_connection(std::uint64_t x, std::uint64_t y, P c, VisitedGrid& visited, std::vector<Position>& cells) const {
        if (x >= kFieldWidth) fail_index_out_of_bounds(kFieldWidth, x);
        if (y >= kFieldHeight) fail_index_out_of_bounds(kFieldHeight, y);
        while (!visited[x][y] && y >= kConnectionTopRow && cells_[index(x, y)] == c) {
            cells.push_back(Position{x, y});
            visited[x][y] = true;
            get_field_connection(x + 1, y, c, visited, cells);
            get_field_connection(x - 1, y, c, visited, cells);  // wraps below column 0 on purpose
            get_field_connection(x, y + 1, c, visited, cells);
            --y;
        }
    }

    // Collects every group of 4 or more first, so a failing flood fill leaves the field as it was;
    // then empties the groups and the ojama next to each of their cells.
    void vanish(GradualChainScoreCalculator* calculator) {
        const std::vector<Connection<P>> connections = vanishing_connections();
        for (const Connection<P>& connection : connections) {
            for (const Position& cell : connection.cells) clear_with_touching_ojama(cell);
            if (calculator != nullptr) {
                calculator->add_group(connection.size, static_cast<std::uint8_t>(connection.puyo_type));
            }
        }
        if (calculator != nullptr) calculator->commit_chain_step();
    }

    friend constexpr bool operator==(const ArrayField&, const ArrayField&) = default;

    // Compares the connection region (columns 1..6, rows y = 3..14) only.
    [[nodiscard]] bool equals_without_fuzzy(const ArrayField& other) const {
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            for (std::uint64_t y = kConnectionTopRow; y <= kBottomPlayableRow; ++y) {
                if (cells_[index(x, y)] != other.cells_[index(x, y)]) return false;
            }
        }
        return true;
    }

    [[nodiscard]] ArrayForm to_array() const { return velmo::to_array(*this); }

    // Column-major cells, element 16x + y.
    [[nodiscard]] constexpr const std::array<P, kNumCells>& cells() const { return cells_; }
    static constexpr ArrayField from_cells(const std::array<P, kNumCells>& cells) {
        ArrayField field;
        field.cells_ = cells;
        return field;
    }

private:
    static constexpr std::size_t index(std::uint64_t x, std::uint64_t y) { return static_cast<std::size_t>(kFieldHeight * x + y); }

    static std::size_t checked_index(std::uint64_t x, std::uint64_t y) {
        if (x >= kFieldWidth) fail_index_out_of_bounds(kFieldWidth, x);
        if (y >= kFieldHeight) fail_index_out_of_bounds(kFieldHeight, y);
        return index(x, y);
    }

    [[nodiscard]] bool is_empty(std::uint64_t x, std::uint64_t y) const { return cells_[index(x, y)] == PuyoTraits<P>::kEmpty; }

    std::vector<Connection<P>> vanishing_connections() const {
        VisitedGrid visited{};
        std::vector<Connection<P>> connections;
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            for (std::uint64_t y = kConnectionTopRow; y <= kBottomPlayableRow; ++y) {
                const P t = cells_[index(x, y)];
                if (!PuyoTraits<P>::is_color(t)) continue;
                std::vector<Position> cells;
                get_field_connection(x, y, t, visited, cells);
                if (cells.size() >= 4) {
                    const auto size = static_cast<std::uint64_t>(cells.size());
                    connections.push_back(Connection<P>{std::move(cells), size, t});
                }
            }
        }
        return connections;
    }

    // Empties the cell, then any OJAMA below, above, left and right of it, in that order.
    void clear_with_touching_ojama(const Position& cell) {
        set(cell.x, cell.y, PuyoTraits<P>::kEmpty);
        const Position neighbours[4] = {{cell.x, cell.y + 1}, {cell.x, cell.y - 1}, {cell.x - 1, cell.y}, {cell.x + 1, cell.y}};
        for (const Position& n : neighbours) {
            if (get(n.x, n.y) == PuyoTraits<P>::kOjama) set(n.x, n.y, PuyoTraits<P>::kEmpty);
        }
    }

    std::array<P, kNumCells> cells_{};
};

extern template class ArrayField<RegularPuyoType>;

}  // namespace velmo
