#include "frame.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "method_docs.hpp"

namespace velmo::py {

// ===========================================================================================
// Exception classes and raising
// ===========================================================================================

namespace {

// Created under the interpreter lock on first use. If creating one released the lock and another
// thread raced us here, the loser's class is dropped, so every caller sees one class.
PyObject* lazy_exception(PyObject*& cache, const char* qualified_name, PyObject* base) {
    if (cache == nullptr) [[unlikely]] {
        PyObject* created = PyErr_NewException(qualified_name, base, nullptr);
        if (created == nullptr) return nullptr;
        if (cache == nullptr) {
            cache = created;
        } else {
            Py_DECREF(created);
        }
    }
    return cache;
}

PyObject* g_panic_exception = nullptr;
PyObject* g_borrow_error = nullptr;
PyObject* g_borrow_mut_error = nullptr;

void set_panic(const char* text) noexcept {
    PyObject* type = panic_exception();
    if (type == nullptr) return;  // creating the class failed; its error is set
    const Ref message = Ref::steal(PyUnicode_FromString(text));
    if (!message) return;  // the MemoryError of building the text stands
    PyErr_SetObject(type, message.get());
}

std::string function_name(const char* cls, const char* method) {
    return std::string(cls) + "." + method + "()";
}

}  // namespace

PyObject* panic_exception() {
    return lazy_exception(g_panic_exception, "pyo3_runtime.PanicException", PyExc_BaseException);
}
PyObject* borrow_error() { return lazy_exception(g_borrow_error, "pyo3_runtime.PyBorrowError", PyExc_RuntimeError); }
PyObject* borrow_mut_error() {
    return lazy_exception(g_borrow_mut_error, "pyo3_runtime.PyBorrowMutError", PyExc_RuntimeError);
}

void raise_bare(PyObject* type) {
    if (type != nullptr) PyErr_SetNone(type);
    throw PythonError{};
}

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw PythonError{};
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) set_panic("a Python error was reported without an exception");
    } catch (const InternalFailure& failure) {
        set_panic(failure.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& other) {
        set_panic(other.what());
    } catch (...) {
        set_panic("unknown internal failure");
    }
}

// ===========================================================================================
// Argument parsing
// ===========================================================================================

void fail_multiple_values(const char* cls, const char* method, const char* param) {
    raise(PyExc_TypeError, function_name(cls, method) + " got multiple values for argument: " + param);
}

void fail_missing_positional(const char* cls, const char* method, const char* param) {
    raise(PyExc_TypeError, function_name(cls, method) + " missing required positional argument: " + param);
}

void fail_unexpected_keyword(const char* cls, const char* method, PyObject* key) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument: %S", function_name(cls, method).c_str(), key);
    throw PythonError{};
}

void fail_too_many_positional(const char* cls, const char* method, Py_ssize_t used, Py_ssize_t given) {
    raise(PyExc_TypeError, function_name(cls, method) + " takes at most " + std::to_string(used) +
                               " positional argument" + (used == 1 ? "" : "s") + " (" + std::to_string(given) +
                               " given)");
}

namespace {

bool name_equals(PyObject* key, const char* name) {
    return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
}

bool is_parameter(PyObject* key, std::span<const char* const> params) {
    for (const char* param : params) {
        if (name_equals(key, param)) return true;
    }
    return false;
}

}  // namespace

PyObject* VectorKeywords::find(const char* name) const {
    const Py_ssize_t n = size();
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (name_equals(PyTuple_GET_ITEM(names, i), name)) return values[i];
    }
    return nullptr;
}

PyObject* VectorKeywords::first_other_than(std::span<const char* const> params) const {
    const Py_ssize_t n = size();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* key = PyTuple_GET_ITEM(names, i);
        if (!is_parameter(key, params)) return key;
    }
    return nullptr;
}

PyObject* DictKeywords::find(const char* name) const {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (dict != nullptr && PyDict_Next(dict, &pos, &key, &value)) {
        if (name_equals(key, name)) return value;
    }
    return nullptr;
}

PyObject* DictKeywords::first_other_than(std::span<const char* const> params) const {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (dict != nullptr && PyDict_Next(dict, &pos, &key, &value)) {
        if (!is_parameter(key, params)) return key;
    }
    return nullptr;
}

// ===========================================================================================
// Argument conversions
// ===========================================================================================

std::uint64_t to_unsigned(PyObject* object) {
    Ref index;
    if (!PyLong_Check(object)) [[unlikely]] {
        index = check(PyNumber_Index(object));
        object = index.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) [[unlikely]]
        throw PythonError{};
    return value;
}

void fail_with_current_error(std::string_view prefix) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw PythonError{};
    PyObject* raw_type = nullptr;
    PyObject* raw_value = nullptr;
    PyObject* raw_traceback = nullptr;
    PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
    PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
    const Ref type = Ref::steal(raw_type);
    const Ref value = Ref::steal(raw_value);
    const Ref traceback = Ref::steal(raw_traceback);
    std::string text(prefix);
    text += reinterpret_cast<PyTypeObject*>(type.get())->tp_name;
    if (const Ref message = Ref::steal(PyObject_Str(value.get()))) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(message.get(), &size)) {
            text += ": ";
            text.append(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    throw InternalFailure(std::move(text));
}

std::uint64_t to_unsigned_or_fail(PyObject* object, std::string_view prefix) {
    try {
        return to_unsigned(object);
    } catch (const PythonError&) {
        fail_with_current_error(prefix);
    }
}

std::string_view to_utf8(PyObject* object) {
    if (!PyUnicode_Check(object)) [[unlikely]]
        raise_bare(PyExc_TypeError);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) throw PythonError{};
    return {data, static_cast<std::size_t>(size)};
}

namespace {

// Walks a sequence (anything the interpreter's sequence check accepts), in order.
template <class Each>
void for_each_item(PyObject* sequence, Each each) {
    if (!PySequence_Check(sequence)) raise_bare(PyExc_TypeError);
    Ref iterator = check(PyObject_GetIter(sequence));
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) each(std::move(item));
    if (PyErr_Occurred()) throw PythonError{};
}

}  // namespace

TextRows FromPython<TextRows>::convert(PyObject* object) {
    TextRows rows;
    for_each_item(object, [&](Ref item) {
        const std::string_view utf8 = to_utf8(item.get());
        const std::uint64_t index = rows.count++;
        if (utf8.empty()) return;  // an empty row writes nothing, wherever it stands
        rows.ring[rows.kept++ % rows.ring.size()] = {std::move(item), utf8, index};
    });
    return rows;
}

std::vector<PlacedTextRow> TextRows::last_first() const {
    std::vector<PlacedTextRow> placed;
    const std::uint64_t n = std::min<std::uint64_t>(kept, ring.size());
    placed.reserve(n);
    for (std::uint64_t k = 1; k <= n; ++k) {
        const Kept& row = ring[(kept - k) % ring.size()];
        placed.push_back({row.utf8, count - row.index});
    }
    return placed;
}

namespace {

// A 2-D integer numpy array read through the buffer protocol, without a Python call per entry.
// Only where the element-wise way is known to give the same: an exact numpy.ndarray (whose
// iteration yields its rows and their integers; subclasses such as numpy.matrix iterate
// otherwise) of native integers, none negative (the element-wise way owns that OverflowError).
// Anything else answers nothing and is read element by element.
class IntegerMatrix {
public:
    explicit IntegerMatrix(PyObject* object) {
        if (std::strcmp(Py_TYPE(object)->tp_name, "numpy.ndarray") != 0) return;
        if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) < 0) {
            PyErr_Clear();  // not exportable as such: the element-wise way decides
            return;
        }
        held_ = true;
        usable_ = view_.ndim == 2 && parse_format(view_.format, view_.itemsize);
    }
    IntegerMatrix(const IntegerMatrix&) = delete;
    IntegerMatrix& operator=(const IntegerMatrix&) = delete;
    ~IntegerMatrix() {
        if (held_) PyBuffer_Release(&view_);
    }

    [[nodiscard]] bool usable() const { return usable_; }
    [[nodiscard]] std::size_t rows() const { return static_cast<std::size_t>(view_.shape[0]); }
    [[nodiscard]] std::size_t columns() const { return static_cast<std::size_t>(view_.shape[1]); }

    // The entry at (i, j) as a signed value wide enough for every format taken (unsigned 64-bit
    // entries come back as their bits: `is_negative` tells them apart).
    [[nodiscard]] std::uint64_t at(std::size_t i, std::size_t j) const {
        const char* p = static_cast<const char*>(view_.buf) + static_cast<Py_ssize_t>(i) * view_.strides[0] +
                        static_cast<Py_ssize_t>(j) * view_.strides[1];
        switch (view_.itemsize) {
            case 1: return signed_ ? widen<std::int8_t>(p) : widen<std::uint8_t>(p);
            case 2: return signed_ ? widen<std::int16_t>(p) : widen<std::uint16_t>(p);
            case 4: return signed_ ? widen<std::int32_t>(p) : widen<std::uint32_t>(p);
            default: return signed_ ? widen<std::int64_t>(p) : widen<std::uint64_t>(p);
        }
    }
    [[nodiscard]] bool is_negative(std::uint64_t value) const { return signed_ && static_cast<std::int64_t>(value) < 0; }

private:
    template <class I>
    static std::uint64_t widen(const char* p) {
        I value;
        std::memcpy(&value, p, sizeof value);
        return static_cast<std::uint64_t>(value);  // sign-extends the signed ones
    }

    // Native byte order only ("@", "=" or "<" on this little-endian target), one integer code.
    bool parse_format(const char* format, Py_ssize_t itemsize) {
        if (format == nullptr) return false;
        std::string_view f = format;
        if (!f.empty() && (f[0] == '@' || f[0] == '=' || (f[0] == '<' && std::endian::native == std::endian::little))) {
            f.remove_prefix(1);
        }
        if (f.size() != 1 || std::string_view("bBhHiIlLqQ").find(f[0]) == std::string_view::npos) return false;
        if (itemsize != 1 && itemsize != 2 && itemsize != 4 && itemsize != 8) return false;
        signed_ = f[0] >= 'a';
        return true;
    }

    Py_buffer view_{};
    bool held_ = false;
    bool usable_ = false;
    bool signed_ = false;
};

// Fills `out` from the matrix; false (nothing decided) if an entry is negative.
bool read_matrix(const IntegerMatrix& matrix, IntegerColumns& out) {
    IntegerColumns form;
    form.count = matrix.rows();
    for (std::size_t i = 0; i < matrix.rows(); ++i) {
        for (std::size_t j = 0; j < matrix.columns(); ++j) {
            const std::uint64_t value = matrix.at(i, j);
            if (matrix.is_negative(value)) return false;
            if (i < kArrayFormColumns && j < kArrayFormRows) form.columns[i].cells[j] = value;
        }
        if (i < kArrayFormColumns) form.columns[i].length = matrix.columns();
    }
    out = form;
    return true;
}

}  // namespace

IntegerColumns FromPython<IntegerColumns>::convert(PyObject* object) {
    IntegerColumns form;
    if (const IntegerMatrix matrix(object); matrix.usable() && read_matrix(matrix, form)) return form;
    for_each_item(object, [&](Ref column) {
        const std::size_t i = form.count++;
        std::size_t length = 0;
        for_each_item(column.get(), [&](Ref cell) {
            const std::uint64_t value = to_unsigned(cell.get());
            if (i < kArrayFormColumns && length < kArrayFormRows) form.columns[i].cells[length] = value;
            ++length;
        });
        if (i < kArrayFormColumns) form.columns[i].length = length;
    });
    return form;
}

StateBytes FromPython<StateBytes>::convert(PyObject* object) {
    if (!PyBytes_Check(object)) raise_bare(PyExc_TypeError);
    return {{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
             static_cast<std::size_t>(PyBytes_GET_SIZE(object))}};
}

// ===========================================================================================
// Comparison
// ===========================================================================================

void fail_invalid_compare_op() {
    raise(PyExc_ValueError, "tp_richcompare called with invalid comparison operator");
}

PyObject* compare_result(int op, bool equal) {
    const bool result = op == Py_EQ ? equal : !equal;
    return Ref::borrow(result ? Py_True : Py_False).release();
}

// ===========================================================================================
// Class objects
// ===========================================================================================

namespace {

const char* method_doc(std::string_view class_name, std::string_view name) {
    for (const MethodDoc& entry : kMethodDocs) {
        if (entry.class_name == class_name && entry.name == name) return entry.doc;
    }
    return nullptr;
}

// Gives every method and getter of a class its docstring (the class itself keeps none), before
// the interpreter makes descriptors of them.
void attach_docs(std::string_view class_name, std::span<const PyType_Slot> slots) {
    for (const PyType_Slot& slot : slots) {
        if (slot.slot == Py_tp_methods) {
            for (auto* def = static_cast<PyMethodDef*>(slot.pfunc); def->ml_name != nullptr; ++def) {
                def->ml_doc = method_doc(class_name, def->ml_name);
            }
        } else if (slot.slot == Py_tp_getset) {
            for (auto* def = static_cast<PyGetSetDef*>(slot.pfunc); def->name != nullptr; ++def) {
                def->doc = method_doc(class_name, def->name);
            }
        }
    }
}

}  // namespace

PyTypeObject* build_type(const char* qualified_name, int basic_size, std::vector<PyType_Slot> slots,
                         std::span<const ClassAttribute> attributes, bool has_constructor) {
    const std::string_view name = qualified_name;
    attach_docs(name.substr(name.rfind('.') + 1), slots);
    slots.push_back({0, nullptr});
    PyType_Spec spec{qualified_name, basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    PyObject* created = PyType_FromSpec(&spec);
    if (created == nullptr) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(created);
    if (!has_constructor) {
        // A heap type would otherwise inherit object's constructor; without one the interpreter
        // refuses to create instances from Python.
        type->tp_new = nullptr;
    }
    for (const auto& attribute : attributes) {
        PyObject* value = attribute.make(type);
        if (value == nullptr || PyObject_SetAttrString(created, attribute.name, value) < 0) {
            Py_XDECREF(value);
            Py_DECREF(created);
            return nullptr;
        }
        Py_DECREF(value);
    }
    return type;
}

}  // namespace velmo::py
