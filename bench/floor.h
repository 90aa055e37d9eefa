// The least any inspection of a PE file must do, two ways.
//
// The mapping floor: open and map the file, touch the header page and every
// page of the sections that hold the import and export directories, unmap
// and close.
//
// The read floor: open the file, learn its size, read with one call for each
// run of adjacent 4 KiB blocks exactly the blocks a full listing reads
// (headers and section table, the export directory, its first name pointer
// and the names, the import descriptors, module names, lookup tables and
// hint/name entries), close. Which blocks is worked out by plan_reads before
// any timing; read_floor then parses nothing.
//
// Both answer a sum of the bytes touched so the work cannot be optimised away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex::bench {

std::uint64_t touch_floor(const std::vector<std::string>& files);

inline constexpr std::size_t read_block_size = 4096;

struct BlockRun {
    std::uint64_t offset = 0;  // a multiple of read_block_size
    std::size_t length = 0;    // whole blocks, but for the last block of the file
};

struct FileReads {
    std::string path;
    std::vector<BlockRun> runs;
};

struct ReadPlan {
    std::vector<FileReads> files;
    std::size_t reads = 0;    // read calls in one pass
    std::size_t blocks = 0;   // blocks read in one pass
    std::size_t largest = 0;  // bytes of the largest file
};

// Reads every file whole and finds the blocks that the module list, every
// listed module's function list and the export list read, by the library's
// rules (names converted through the directory's section; the host's walk of
// the module list ends at its first empty entry).
ReadPlan plan_reads(const std::vector<std::string>& files);

// One pass of the planned reads. Each block lands at its file position in an
// area kept from pass to pass (as any reader that follows RVAs from block to
// block needs it), so no page is faulted in while timed.
class ReadFloor {
public:
    explicit ReadFloor(ReadPlan plan);
    ~ReadFloor();
    ReadFloor(const ReadFloor&) = delete;
    ReadFloor& operator=(const ReadFloor&) = delete;

    std::uint64_t run();
    [[nodiscard]] const ReadPlan& plan() const { return plan_; }

private:
    ReadPlan plan_;
    std::vector<std::uint8_t> area_;
};

}  // namespace korvex::bench
