// The actions of one batch step, copied into memory the batch owns. The step runs without the
// interpreter lock, so stepping the caller's own array would let another Python thread rewrite
// it between the check and the step and slip an unchecked move in.
#pragma once

#include <nanobind/ndarray.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "interop.hpp"
#include "numpy_buffers.hpp"

namespace velmo_game {

class StagedActions {
public:
    // `columns` 0: one action per game, shape (rows,); otherwise shape (rows, columns).
    // `unit` names what does not move when the actions are refused ("game", "match").
    StagedActions(std::size_t rows, std::size_t columns, std::int64_t max_action, std::string shape_text, std::string unit)
        : data_(rows * (columns == 0 ? 1 : columns), 0), rows_(rows), columns_(columns), max_action_(max_action),
          shape_text_(std::move(shape_text)), unit_(std::move(unit)) {}

    // A C-contiguous int64 array of the right shape is copied directly; anything else goes through
    // NumPy, which also gives the errors for wrong shapes and dtypes.
    const std::int64_t* stage(nb::handle actions) {
        if (!stage_directly(actions)) stage_through_numpy(actions);
        return data_.data();
    }

private:
    bool stage_directly(nb::handle actions) {
        if (columns_ == 0) {
            nb::ndarray<const std::int64_t, nb::ndim<1>, nb::c_contig, nb::device::cpu> direct;
            if (!nb::try_cast(actions, direct, false) || direct.shape(0) != rows_) return false;
            std::memcpy(data_.data(), direct.data(), sizeof(std::int64_t) * data_.size());
            return true;
        }
        nb::ndarray<const std::int64_t, nb::ndim<2>, nb::c_contig, nb::device::cpu> direct;
        if (!nb::try_cast(actions, direct, false) || direct.shape(0) != rows_ || direct.shape(1) != columns_) return false;
        std::memcpy(data_.data(), direct.data(), sizeof(std::int64_t) * data_.size());
        return true;
    }

    void stage_through_numpy(nb::handle actions) {
        nb::module_ np = nb::module_::import_("numpy");
        nb::object array = np.attr("asarray")(actions);
        const auto kind = nb::cast<std::string>(array.attr("dtype").attr("kind"));
        if (kind != "i" && kind != "u") {
            raise_value_error("actions must be an integer array, not dtype " + nb::cast<std::string>(array.attr("dtype").attr("name")));
        }
        const auto shape = nb::cast<nb::tuple>(array.attr("shape"));
        if (!has_expected_shape(shape)) {
            raise_value_error("actions must have shape " + shape_text_ + ", not " + nb::cast<std::string>(nb::repr(shape)));
        }
        // An unsigned value past int64's range would wrap on conversion: refuse it while it is still seen.
        if (kind == "u" && !data_.empty() && nb::cast<std::uint64_t>(array.attr("max")()) > static_cast<std::uint64_t>(max_action_)) {
            raise_value_error("actions hold a value outside 0.." + std::to_string(max_action_) + "; no " + unit_ + " moved");
        }
        nb::object converted = np.attr("ascontiguousarray")(array, nb::arg("dtype") = "int64");
        std::memcpy(data_.data(), data_of<const std::int64_t>(converted), sizeof(std::int64_t) * data_.size());
    }

    [[nodiscard]] bool has_expected_shape(const nb::tuple& shape) const {
        if (columns_ == 0) return nb::len(shape) == 1 && nb::cast<std::size_t>(shape[0]) == rows_;
        return nb::len(shape) == 2 && nb::cast<std::size_t>(shape[0]) == rows_ && nb::cast<std::size_t>(shape[1]) == columns_;
    }

    std::vector<std::int64_t> data_;
    std::size_t rows_;
    std::size_t columns_;
    std::int64_t max_action_;
    std::string shape_text_;
    std::string unit_;
};

}  // namespace velmo_game
