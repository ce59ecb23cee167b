// The call frame: the one layer every Python entry of velmo goes through.
//
//   entry -> borrow the instance -> parse arguments -> convert each -> core operation
//         -> convert the result -> release everything (RAII) -> return
//
// Every entry is a `try` whose `catch` sets the Python exception and returns the error value,
// so no C++ exception ever crosses into the interpreter: PythonError means "a Python exception
// is already set", InternalFailure becomes PanicException, std::bad_alloc becomes MemoryError.
// Class files declare their Python surface as tables of the entry makers at the bottom.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "field/field.hpp"
#include "internal_failure.hpp"

namespace velmo::py {

// ===========================================================================================
// References
// ===========================================================================================

// An owned (strong) reference, released when it goes out of scope.
class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    [[nodiscard]] PyObject* get() const noexcept { return p_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ===========================================================================================
// Errors
// ===========================================================================================

// Thrown after a Python exception has been set; the entry's guard just returns the error value.
struct PythonError {};

// Turns a NULL result of the C API (which has set an exception) into PythonError.
inline Ref check(PyObject* p) {
    if (p == nullptr) [[unlikely]]
        throw PythonError{};
    return Ref::steal(p);
}

// The frame's exception classes, created on first use and kept for the life of the process.
PyObject* panic_exception();      // pyo3_runtime.PanicException(BaseException)
PyObject* borrow_error();         // pyo3_runtime.PyBorrowError(RuntimeError)
PyObject* borrow_mut_error();     // pyo3_runtime.PyBorrowMutError(RuntimeError)

// Raises `type` with no message (str(e) is empty).
[[noreturn]] void raise_bare(PyObject* type);
// Raises `type` with a message.
[[noreturn]] void raise(PyObject* type, const std::string& message);

// Sets the Python exception for whatever the current C++ exception is. Call only from a catch.
void translate_current_exception() noexcept;

// Runs `body`, returning its result, or `failure` with a Python exception set.
template <class Body, class R = std::invoke_result_t<Body>>
R guarded(Body&& body, R failure) noexcept {
    try {
        return body();
    } catch (...) {
        translate_current_exception();
        return failure;
    }
}

// ===========================================================================================
// Instances and the borrow flag
// ===========================================================================================

// The layout of every velmo object: the object header, the borrow flag, then the core value
// held inline. The value lives in raw storage so that the layout stays standard and the value's
// lifetime is ours to manage: built by the class's allocation slot, destroyed by dealloc.
template <class T>
struct Object {
    PyObject ob_base;
    Py_ssize_t borrow_flag;  // 0 free, -1 exclusively borrowed, n > 0 shared by n
    alignas(T) unsigned char storage[sizeof(T)];

    T& value() noexcept { return *std::launder(reinterpret_cast<T*>(storage)); }
};

template <class T>
Object<T>* object_cast(PyObject* p) noexcept {
    return reinterpret_cast<Object<T>*>(p);
}

// The Python class of a core value; each class file defines the specialisation's type().
template <class T>
struct PyClass;

class SharedBorrow {
public:
    explicit SharedBorrow(Py_ssize_t& flag) : flag_(&flag) {
        if (flag == -1) [[unlikely]]
            raise_bare(borrow_error());
        ++flag;
    }
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (flag_ != nullptr) --*flag_;
    }

private:
    Py_ssize_t* flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(Py_ssize_t& flag) : flag_(&flag) {
        if (flag != 0) [[unlikely]]
            raise_bare(borrow_mut_error());
        flag = -1;
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() { *flag_ = 0; }

private:
    Py_ssize_t* flag_;
};

enum class Borrow { Shared, Exclusive };

template <Borrow B>
using BorrowGuard = std::conditional_t<B == Borrow::Shared, SharedBorrow, ExclusiveBorrow>;

// A new instance of `type` (the class of T) holding `value`.
template <class T>
Ref new_instance(PyTypeObject* type, T value) {
    Ref object = check(type->tp_alloc(type, 0));
    object_cast<T>(object.get())->value() = std::move(value);
    return object;
}

// A new instance of T's class holding `value`.
template <class T>
Ref new_instance(T value) {
    PyTypeObject* type = PyClass<T>::type();
    Ref object = check(type->tp_alloc(type, 0));
    object_cast<T>(object.get())->value() = std::move(value);
    return object;
}

// ===========================================================================================
// Argument parsing
// ===========================================================================================

// How an entry names itself and its parameters. Every parameter is required and may be given
// by position or by keyword; no entry accepts extra keywords.
template <std::size_t N>
struct Signature {
    const char* class_name;  // "PyField"
    const char* method;      // "get"
    std::array<const char*, N> params;
    bool extra_positional = false;
};

// The parsing failures, each a TypeError naming the function as "PyField.get()".
[[noreturn]] void fail_multiple_values(const char* cls, const char* method, const char* param);
[[noreturn]] void fail_missing_positional(const char* cls, const char* method, const char* param);
[[noreturn]] void fail_unexpected_keyword(const char* cls, const char* method, PyObject* key);
[[noreturn]] void fail_too_many_positional(const char* cls, const char* method, Py_ssize_t used, Py_ssize_t given);

// Keywords of a vectorcall: a tuple of names, their values after the positional arguments.
struct VectorKeywords {
    PyObject* names;  // may be NULL
    PyObject* const* values;

    [[nodiscard]] Py_ssize_t size() const { return names == nullptr ? 0 : PyTuple_GET_SIZE(names); }
    [[nodiscard]] PyObject* find(const char* name) const;
    [[nodiscard]] PyObject* first_other_than(std::span<const char* const> params) const;
};

// Keywords of a tuple-and-dict call (the constructors).
struct DictKeywords {
    PyObject* dict;  // may be NULL

    [[nodiscard]] Py_ssize_t size() const { return dict == nullptr ? 0 : PyDict_GET_SIZE(dict); }
    [[nodiscard]] PyObject* find(const char* name) const;
    [[nodiscard]] PyObject* first_other_than(std::span<const char* const> params) const;
};

// Fills one borrowed reference per parameter; returns the number of positional arguments used.
template <std::size_t N, class Keywords>
Py_ssize_t parse_arguments(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargs,
                           const Keywords& keywords, std::array<PyObject*, N>& slots) {
    Py_ssize_t used = 0;
    const bool any_keywords = keywords.size() > 0;
    for (std::size_t i = 0; i < N; ++i) {
        const auto index = static_cast<Py_ssize_t>(i);
        if (PyObject* value = any_keywords ? keywords.find(sig.params[i]) : nullptr) {
            if (index < nargs) fail_multiple_values(sig.class_name, sig.method, sig.params[i]);
            slots[i] = value;
        } else if (index < nargs) {
            slots[i] = args[i];
            ++used;
        } else {
            fail_missing_positional(sig.class_name, sig.method, sig.params[i]);
        }
    }
    if (any_keywords) {
        if (PyObject* key = keywords.first_other_than(sig.params)) fail_unexpected_keyword(sig.class_name, sig.method, key);
    }
    if (!sig.extra_positional && used < nargs) fail_too_many_positional(sig.class_name, sig.method, used, nargs);
    return used;
}

// ===========================================================================================
// Argument conversions: FromPython<T>::convert(borrowed object) -> T
// ===========================================================================================

template <class T>
struct FromPython;

// Unsigned 64-bit through the index protocol; the interpreter's own TypeError / OverflowError.
std::uint64_t to_unsigned(PyObject* object);

template <>
struct FromPython<std::uint64_t> {
    static std::uint64_t convert(PyObject* object) { return to_unsigned(object); }
};

// As to_unsigned, but a conversion error becomes an internal failure whose text is `prefix`
// followed by a description of the Python error (for constructors that report bad arguments so).
std::uint64_t to_unsigned_or_fail(PyObject* object, std::string_view prefix);

// The text "prefix" + "TypeName: message" of the Python error being handled, which is cleared.
// Errors that are not ordinary exceptions (KeyboardInterrupt, MemoryError, ...) pass through.
[[noreturn]] void fail_with_current_error(std::string_view prefix);

// A str (or subclass) as UTF-8, viewed in the string object's own buffer, which outlives the call.
std::string_view to_utf8(PyObject* object);

template <>
struct FromPython<std::string_view> {
    static std::string_view convert(PyObject* object) { return to_utf8(object); }
};

// A sequence of str: a field's text form. Every item is converted, in order, so the first bad
// item is the one reported; but only the rows that decide the field are kept (the last
// kTextFormRowsRead non-empty ones), so a huge sequence costs no more memory than its own.
struct TextRows {
    struct Kept {
        Ref item;  // keeps the string, and so its UTF-8 buffer, alive
        std::string_view utf8;
        std::uint64_t index;
    };
    std::array<Kept, kTextFormRowsRead> ring;  // the last non-empty rows, oldest overwritten
    std::uint64_t kept = 0;                    // non-empty rows seen
    std::uint64_t count = 0;                   // rows seen

    // The kept rows, last row first, each with its place counted from the end.
    [[nodiscard]] std::vector<PlacedTextRow> last_first() const;
};

template <>
struct FromPython<TextRows> {
    static TextRows convert(PyObject* object);
};

// A sequence of sequences of unsigned integers: a field's array form. Every entry is converted,
// in order, but only what a field can use is kept: the number of columns, and of the first 6
// columns their lengths and first 14 numbers. It reads as the core's array form does.
struct IntegerColumns {
    struct Column {
        std::size_t length = 0;
        std::array<std::uint64_t, kArrayFormRows> cells{};
        [[nodiscard]] std::size_t size() const { return length; }
        std::uint64_t operator[](std::size_t j) const { return cells[j]; }
    };
    std::size_t count = 0;
    std::array<Column, kArrayFormColumns> columns{};

    [[nodiscard]] std::size_t size() const { return count; }
    const Column& operator[](std::size_t i) const { return columns[i]; }
};

template <>
struct FromPython<IntegerColumns> {
    static IntegerColumns convert(PyObject* object);
};

// A bytes object (or subclass), viewed in place.
struct StateBytes {
    std::span<const std::uint8_t> bytes;
};

template <>
struct FromPython<StateBytes> {
    static StateBytes convert(PyObject* object);
};

// An instance of a module class, shared-borrowed for the call.
template <class T>
class Instance {
public:
    explicit Instance(Object<T>* object) : borrow_(object->borrow_flag), value_(&object->value()) {}
    const T& operator*() const noexcept { return *value_; }
    const T* operator->() const noexcept { return value_; }

private:
    SharedBorrow borrow_;
    const T* value_;
};

// Converts `object` as an instance of T's class (exact type or subtype), or nothing if it is not.
template <class T>
Object<T>* as_instance(PyObject* object) noexcept {
    return PyObject_TypeCheck(object, PyClass<T>::type()) ? object_cast<T>(object) : nullptr;
}

template <class T>
struct FromPython<Instance<T>> {
    static Instance<T> convert(PyObject* object) {
        Object<T>* instance = as_instance<T>(object);
        if (instance == nullptr) raise_bare(PyExc_TypeError);
        return Instance<T>(instance);
    }
};

// ===========================================================================================
// Result conversions: to_python(value, self) -> new reference
// ===========================================================================================

// A mutating method's "return the instance itself".
struct Self {};

inline Ref to_python(Self, PyObject* self) { return Ref::borrow(self); }
inline Ref to_python(std::uint64_t v, PyObject*) { return check(PyLong_FromUnsignedLongLong(v)); }
inline Ref to_python(std::int64_t v, PyObject*) { return check(PyLong_FromLongLong(v)); }
inline Ref to_python(bool v, PyObject*) { return Ref::borrow(v ? Py_True : Py_False); }
inline Ref to_python(Ref v, PyObject*) { return v; }
inline Ref to_python(const std::string& v, PyObject*) {
    return check(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}
inline Ref to_python(std::span<const std::uint8_t> v, PyObject*) {
    return check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.data()), static_cast<Py_ssize_t>(v.size())));
}
// A core value that has a class here becomes a new instance of that class.
template <class T>
    requires requires { PyClass<T>::type(); }
Ref to_python(T value, PyObject*) {
    return new_instance<T>(std::move(value));
}

// Runs `impl` and converts its result; a void operation answers None.
template <class Call>
PyObject* call_and_convert(Call&& impl, PyObject* self) {
    if constexpr (std::is_void_v<std::invoke_result_t<Call>>) {
        impl();
        return Ref::borrow(Py_None).release();
    } else {
        return to_python(impl(), self).release();
    }
}

// ===========================================================================================
// Entry makers
// ===========================================================================================

// An instance entry's operation: the wrapped value first, then the parameters.
template <class F>
struct FnTraits;
template <class R, class V, class... A>
struct FnTraits<R (*)(V&, A...)> {
    using Value = std::remove_const_t<V>;
    using Args = std::tuple<std::decay_t<A>...>;
};

// A class method's operation: only parameters.
template <class F>
struct ClassFnTraits;
template <class R, class... A>
struct ClassFnTraits<R (*)(A...)> {
    using Args = std::tuple<std::decay_t<A>...>;
};

template <class Tuple, std::size_t N, std::size_t... I>
Tuple convert_slots(const std::array<PyObject*, N>& slots, std::index_sequence<I...>) {
    // Braced initialisation evaluates left to right: parameters convert in declaration order.
    return Tuple{FromPython<std::tuple_element_t<I, Tuple>>::convert(slots[I])...};
}

// Parses a vectorcall's arguments against `sig` and converts them into the tuple `Args`.
template <class Args, const auto& Sig>
Args parse_and_convert(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    constexpr std::size_t N = std::tuple_size_v<Args>;
    std::array<PyObject*, N> slots{};
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    parse_arguments(Sig, args, nargs, VectorKeywords{kwnames, args + nargs}, slots);
    return convert_slots<Args>(slots, std::make_index_sequence<N>{});
}

template <class Fn>
PyCFunction as_cfunction(Fn fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// A method with parameters: `R impl(T& value, A... args)`.
template <Borrow B, const auto& Sig, auto Impl>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guarded(
        [&]() -> PyObject* {
            using Traits = FnTraits<decltype(Impl)>;
            using T = typename Traits::Value;
            auto* object = object_cast<T>(self);
            BorrowGuard<B> borrow(object->borrow_flag);
            auto converted = parse_and_convert<typename Traits::Args, Sig>(args, nargsf, kwnames);
            return call_and_convert(
                [&]() -> decltype(auto) {
                    return std::apply(
                        [&](auto&&... a) -> decltype(auto) { return Impl(object->value(), std::move(a)...); },
                        std::move(converted));
                },
                self);
        },
        static_cast<PyObject*>(nullptr));
}

// A method without parameters: `R impl(T& value)`.
template <Borrow B, auto Impl>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return guarded(
        [&]() -> PyObject* {
            using T = typename FnTraits<decltype(Impl)>::Value;
            auto* object = object_cast<T>(self);
            BorrowGuard<B> borrow(object->borrow_flag);
            return call_and_convert([&]() -> decltype(auto) { return Impl(object->value()); }, self);
        },
        static_cast<PyObject*>(nullptr));
}

// A class method with parameters: `R impl(A... args)`.
template <const auto& Sig, auto Impl>
PyObject* class_method_entry(PyObject* cls, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guarded(
        [&]() -> PyObject* {
            using Traits = ClassFnTraits<decltype(Impl)>;
            auto converted = parse_and_convert<typename Traits::Args, Sig>(args, nargsf, kwnames);
            return call_and_convert(
                [&]() -> decltype(auto) {
                    return std::apply([](auto&&... a) -> decltype(auto) { return Impl(std::move(a)...); },
                                      std::move(converted));
                },
                cls);
        },
        static_cast<PyObject*>(nullptr));
}

// A class method that parses nothing and ignores its arguments: `R impl()`.
template <auto Impl>
PyObject* ignoring_class_method_entry(PyObject* cls, PyObject* const*, Py_ssize_t, PyObject*) noexcept {
    return guarded([&]() -> PyObject* { return call_and_convert(Impl, cls); }, static_cast<PyObject*>(nullptr));
}

template <Borrow B, const auto& Sig, auto Impl>
PyMethodDef method() {
    return {Sig.method, as_cfunction(&method_entry<B, Sig, Impl>), METH_FASTCALL | METH_KEYWORDS, nullptr};
}

template <Borrow B, auto Impl>
PyMethodDef noargs_method(const char* name) {
    return {name, as_cfunction(&noargs_entry<B, Impl>), METH_NOARGS, nullptr};
}

template <const auto& Sig, auto Impl>
PyMethodDef class_method() {
    return {Sig.method, as_cfunction(&class_method_entry<Sig, Impl>), METH_FASTCALL | METH_KEYWORDS | METH_CLASS, nullptr};
}

template <auto Impl>
PyMethodDef ignoring_class_method(const char* name) {
    return {name, as_cfunction(&ignoring_class_method_entry<Impl>), METH_FASTCALL | METH_KEYWORDS | METH_CLASS, nullptr};
}

inline constexpr PyMethodDef kEndOfMethods = {nullptr, nullptr, 0, nullptr};

// A read-only operation under a shared borrow: `R impl(const T& value, extra...)`.
template <auto Impl, class... Extra>
PyObject* shared_read_entry(PyObject* self, Extra... extra) noexcept {
    return guarded(
        [&]() -> PyObject* {
            using T = typename FnTraits<decltype(Impl)>::Value;
            auto* object = object_cast<T>(self);
            SharedBorrow borrow(object->borrow_flag);
            return to_python(Impl(object->value(), extra...), self).release();
        },
        static_cast<PyObject*>(nullptr));
}

// A read-only attribute: `R impl(const T& value)`.
template <auto Impl>
PyObject* getter_entry(PyObject* self, void*) noexcept {
    return shared_read_entry<Impl>(self);
}

template <auto Impl>
PyGetSetDef getter(const char* name) {
    return {name, &getter_entry<Impl>, nullptr, nullptr, nullptr};
}

inline constexpr PyGetSetDef kEndOfGetters = {nullptr, nullptr, nullptr, nullptr, nullptr};

// repr / str: `std::string impl(const T& value)`.
template <auto Impl>
PyObject* text_entry(PyObject* self) noexcept {
    return shared_read_entry<Impl>(self);
}

// Sequence item: `R impl(const T& value, Py_ssize_t index)`.
template <auto Impl>
PyObject* item_entry(PyObject* self, Py_ssize_t index) noexcept {
    return shared_read_entry<Impl>(self, index);
}

// A constructor that parses its arguments: `T impl(std::span<PyObject* const> extra_positional)`.
template <const auto& Sig, auto Impl>
PyObject* constructor_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded(
        [&]() -> PyObject* {
            std::array<PyObject*, 0> slots{};
            PyObject* const* items = reinterpret_cast<PyTupleObject*>(args)->ob_item;
            const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
            const Py_ssize_t used = parse_arguments(Sig, items, nargs, DictKeywords{kwargs}, slots);
            auto value = Impl(std::span<PyObject* const>(items + used, static_cast<std::size_t>(nargs - used)));
            return new_instance(type, std::move(value)).release();
        },
        static_cast<PyObject*>(nullptr));
}

// A constructor that ignores its arguments and builds the default value.
template <class T>
PyObject* default_constructor_entry(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    return type->tp_alloc(type, 0);
}

// Rich comparison: only == and != are supported, against an instance of the same class.
enum class CompareOp { Less, LessEqual, Equal, NotEqual, Greater, GreaterEqual };
PyObject* compare_result(int op, bool equal);
[[noreturn]] void fail_invalid_compare_op();

template <auto Equal>
PyObject* richcompare_entry(PyObject* self, PyObject* other, int op) noexcept {
    return guarded(
        [&]() -> PyObject* {
            using T = typename FnTraits<decltype(Equal)>::Value;
            if (op < Py_LT || op > Py_GE) fail_invalid_compare_op();
            Object<T>* other_object = as_instance<T>(other);
            if (other_object == nullptr) raise_bare(PyExc_TypeError);
            auto* object = object_cast<T>(self);
            SharedBorrow borrow(object->borrow_flag);
            SharedBorrow other_borrow(other_object->borrow_flag);
            if (op != Py_EQ && op != Py_NE) fail_not_implemented();
            return compare_result(op, Equal(object->value(), other_object->value()));
        },
        static_cast<PyObject*>(nullptr));
}

// ===========================================================================================
// Class objects
// ===========================================================================================

// A value placed in the class dictionary when the type is built.
struct ClassAttribute {
    const char* name;
    PyObject* (*make)(PyTypeObject* cls);  // new reference, or NULL with an exception set
};

PyTypeObject* build_type(const char* qualified_name, int basic_size, std::vector<PyType_Slot> slots,
                         std::span<const ClassAttribute> attributes, bool has_constructor);

template <class T>
PyObject* alloc_entry(PyTypeObject* type, Py_ssize_t) noexcept {
    // Every way of creating an instance, object.__new__ included, comes through here, so the
    // value is always a constructed T with a free borrow flag.
    PyObject* object = PyType_GenericAlloc(type, 0);
    if (object == nullptr) return nullptr;
    object_cast<T>(object)->borrow_flag = 0;
    static_assert(std::is_nothrow_default_constructible_v<T>);
    new (object_cast<T>(object)->storage) T();
    return object;
}

template <class T>
void dealloc_entry(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    // A __del__ set on the class runs here; it may resurrect the object, which must then stay
    // whole. So the value is destroyed only after the finaliser, once the object really dies.
    if (type == PyClass<T>::type() && PyObject_CallFinalizerFromDealloc(self) < 0) return;
    object_cast<T>(self)->value().~T();
    type->tp_free(self);
    Py_DECREF(type);
}

// Builds the class of T from its slots (the common ones are added here).
template <class T>
PyTypeObject* build_class(const char* qualified_name, std::initializer_list<PyType_Slot> slots,
                          std::span<const ClassAttribute> attributes = {}) {
    std::vector<PyType_Slot> all(slots);
    all.push_back({Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<T>)});
    all.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<T>)});
    bool has_constructor = false;
    for (const auto& slot : slots) has_constructor = has_constructor || slot.slot == Py_tp_new;
    return build_type(qualified_name, static_cast<int>(sizeof(Object<T>)), std::move(all), attributes, has_constructor);
}

// The type object of a class, built on first use and kept for the life of the process.
template <class Build>
PyTypeObject* cached_type(PyTypeObject*& cache, Build build) {
    if (cache == nullptr) [[unlikely]]
        cache = build();
    return cache;
}

}  // namespace velmo::py
