#include "image/name_list_writer.h"

namespace korvex::image {

std::int32_t NameListWriter::finish() noexcept {
    if (used_ <= 1) {
        if (buffer_ != nullptr) buffer_[0] = '\0';
        return 0;
    }
    if (buffer_ != nullptr) buffer_[static_cast<std::size_t>(used_)] = '\0';
    return name_list_answer(used_);
}

}  // namespace korvex::image
