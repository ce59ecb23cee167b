#include <cstdio>

#include "harness.hpp"

int main() {
    int passed = 0;
    int failed = 0;
    for (const auto& test_case : velmo_test::registry()) {
        velmo_test::current_failures().clear();
        try {
            test_case.run();
        } catch (const std::exception& error) {
            velmo_test::current_failures().push_back(std::string("unexpected exception: ") + error.what());
        }
        if (velmo_test::current_failures().empty()) {
            ++passed;
            continue;
        }
        ++failed;
        std::printf("FAILED %s\n", test_case.name);
        for (const auto& failure : velmo_test::current_failures()) std::printf("  %s\n", failure.c_str());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
