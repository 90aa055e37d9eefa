// The library's three name lists over bytes of a test's own, run as the
// exports run them over the held image: with one ListState that keeps what
// they learn of the image from call to call.
#pragma once

#include <cstdint>
#include <memory>

#include "image/name_lists.h"

namespace korvex::test {

class ImageLists {
public:
    explicit ImageLists(image::ByteView file)
        : file_(file), state_(std::make_unique<image::ListState>()) {}
    ImageLists(const ImageLists&) = delete;
    ImageLists& operator=(const ImageLists&) = delete;
    // A list kept from the heap goes with the image.
    ~ImageLists() { image::forget_image(*state_); }

    std::int32_t modules(char* buffer) {
        return image::list_imported_modules(file_, *state_, buffer);
    }
    std::int32_t exports(char* buffer) {
        return image::list_exported_names(file_, *state_, buffer);
    }
    std::int32_t functions(char* request) {
        return image::list_imported_functions(file_, *state_, request);
    }

private:
    image::ByteView file_;
    std::unique_ptr<image::ListState> state_;
};

}  // namespace korvex::test
