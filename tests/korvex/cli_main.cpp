// End-to-end tests of the korvex program. Started with --sleep-child it is
// the child process that the kill tests end; with --peak-memory-of, the small
// process that starts a program whose memory is measured (run_program.h).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "run_program.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--sleep-child") == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 7;
    }
#ifndef _WIN32
    if (argc >= 4 && std::strcmp(argv[1], korvex::test::peak_memory_flag) == 0)
        return korvex::test::measure_peak_memory(argv + 2);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
