// End-to-end tests of the korvex program. Started with --sleep-child it is
// the child process that the kill tests end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--sleep-child") == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 7;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
