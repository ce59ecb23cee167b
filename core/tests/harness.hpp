// A tiny test harness: TEST(name) registers a case, CHECK/CHECK_EQ record failures and go on,
// CHECK_FAILS_WITH expects an InternalFailure with an exact text. test_main.cpp runs every case
// and ends with the line "N passed, N failed".
#pragma once

#include <cstdint>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "internal_failure.hpp"
#include "uint128.hpp"

namespace velmo_test {

struct Case {
    const char* name;
    void (*run)();
};

inline std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

struct Registrar {
    Registrar(const char* name, void (*run)()) { registry().push_back(Case{name, run}); }
};

// Failures of the case that is running.
inline std::vector<std::string>& current_failures() {
    static std::vector<std::string> failures;
    return failures;
}

inline std::string hex(velmo::u128 v) {
    std::ostringstream out;
    out << "0x" << std::hex << velmo::high64(v) << ':' << velmo::low64(v);
    return out.str();
}

template <class T>
std::string show(const T& value) {
    if constexpr (std::is_same_v<T, velmo::u128>) {
        return hex(value);
    } else if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else if constexpr (requires(std::ostream& out) { out << value; }) {
        std::ostringstream out;
        out << value;
        return out.str();
    } else {
        return "<value>";
    }
}

inline void record(const std::string& message, const char* file, int line) {
    current_failures().push_back(std::string(file) + ":" + std::to_string(line) + ": " + message);
}

inline bool check(bool ok, const char* expression, const char* file, int line) {
    if (!ok) record(std::string("CHECK(") + expression + ") failed", file, line);
    return ok;
}

template <class A, class B>
bool check_eq(const A& a, const B& b, const char* a_text, const char* b_text, const char* file, int line) {
    const bool ok = a == b;
    if (!ok) record(std::string("CHECK_EQ(") + a_text + ", " + b_text + "): " + show(a) + " != " + show(b), file, line);
    return ok;
}

template <class F>
void check_fails_with(F&& action, const std::string& text, const char* expression, const char* file, int line) {
    try {
        action();
    } catch (const velmo::InternalFailure& failure) {
        if (failure.text() != text) record(std::string(expression) + ": failed with \"" + failure.text() + "\" instead of \"" + text + "\"", file, line);
        return;
    }
    record(std::string(expression) + ": did not fail (expected \"" + text + "\")", file, line);
}

}  // namespace velmo_test

#define VELMO_TEST_CONCAT2(a, b) a##b
#define VELMO_TEST_CONCAT(a, b) VELMO_TEST_CONCAT2(a, b)
#define TEST(name)                                                                        \
    static void name();                                                                   \
    static const ::velmo_test::Registrar VELMO_TEST_CONCAT(registrar_, name)(#name, &name); \
    static void name()
#define CHECK(condition) ::velmo_test::check(static_cast<bool>(condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(a, b) ::velmo_test::check_eq((a), (b), #a, #b, __FILE__, __LINE__)
#define CHECK_FAILS_WITH(statement, text) \
    ::velmo_test::check_fails_with([&] { static_cast<void>(statement); }, (text), #statement, __FILE__, __LINE__)
