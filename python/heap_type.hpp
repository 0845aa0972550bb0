// PyType_Spec with the interpreter's narrower field types filled in once.
#pragma once

#include "python/pyref.hpp"

#include <cstddef>

namespace quarlen::py {

inline PyType_Spec type_spec(const char* name, std::size_t basic_size, unsigned long flags, PyType_Slot* slots) {
    return PyType_Spec{name, static_cast<int>(basic_size), 0, static_cast<unsigned int>(flags), slots};
}

}  // namespace quarlen::py
