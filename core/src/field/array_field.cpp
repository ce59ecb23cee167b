#include "array_field.hpp"

namespace velmo {

template class ArrayField<RegularPuyoType>;

}  // namespace velmo
