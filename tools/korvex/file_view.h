// A whole file mapped read-only for the image readers, released on
// destruction. The library maps its one held file itself; the host needs its
// own view for what the exports do not answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/byte_view.h"

namespace korvex::host {

class FileView {
public:
    FileView() = default;
    ~FileView();
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // False (and an empty view) when the file cannot be opened or mapped,
    // which includes an empty file.
    bool open(const std::string& path);

    [[nodiscard]] image::ByteView bytes() const { return {data_, size_}; }

private:
    void release();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
#ifdef _WIN32
    void* mapping_ = nullptr;
#endif
};

}  // namespace korvex::host
