// SetGetVersionNumber through the DLL: the value set is the value answered.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "loaded_library.h"

namespace korvex::host_test {
namespace {

TEST(SetGetVersionNumber, AnswersEachValueItIsGiven) {
    ASSERT_NE(set_get_version_number, nullptr);
    for (const std::int32_t flag : {7, 0, 2, -1, INT_MIN, INT_MAX, 1})
        EXPECT_EQ(set_get_version_number(flag), flag);
}

}  // namespace
}  // namespace korvex::host_test
