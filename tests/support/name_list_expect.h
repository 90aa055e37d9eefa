// What every well-behaved answer of a name-list function looks like, checked
// on a ListCall (name_list_call.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "name_list_call.h"

namespace korvex::test {

// A list with entries: both calls answer the same size, the buffer holds
// exactly `entries`, and nothing past the size was touched.
inline void expect_list(const ListCall& call, const std::vector<std::string>& entries,
                        const char* what = "") {
    SCOPED_TRACE(what);
    EXPECT_EQ(call.query, call.fill);
    EXPECT_FALSE(call.query_wrote);
    EXPECT_TRUE(call.guard_intact);
    EXPECT_TRUE(call.well_formed);
    EXPECT_EQ(call.entries, entries);
    std::size_t size = 1;
    for (const auto& e : entries) size += e.size() + 1;
    EXPECT_EQ(call.fill, static_cast<std::int32_t>(size));
}

// An empty list: 0, and a fill that wrote one NUL at the first byte.
inline void expect_empty(const ListCall& call, const char* what = "") {
    SCOPED_TRACE(what);
    EXPECT_EQ(call.query, 0);
    EXPECT_EQ(call.fill, 0);
    EXPECT_FALSE(call.query_wrote);
    EXPECT_TRUE(call.guard_intact);
    EXPECT_TRUE(call.fill_wrote);
    ASSERT_FALSE(call.list.empty());
    EXPECT_EQ(call.list[0], 0);
}

}  // namespace korvex::test
