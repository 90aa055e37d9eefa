// SetGetVersionNumber through the DLL: the value set is the value answered.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "loaded_library.h"

namespace korvex::host_test {
namespace {

TEST(SetGetVersionNumber, AnswersEachValueItIsGiven) {
    const auto set_switch = export_at<decltype(&SetGetVersionNumber)>(2);
    ASSERT_NE(set_switch, nullptr);
    for (const std::int32_t flag : {7, 0, 2, -1, INT_MIN, INT_MAX, 1})
        EXPECT_EQ(set_switch(flag), flag);
}

}  // namespace
}  // namespace korvex::host_test
