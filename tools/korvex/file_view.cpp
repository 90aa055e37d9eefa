#include "file_view.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvex::host {

FileView::~FileView() { release(); }

#ifdef _WIN32
bool FileView::open(const std::string& path) {
    release();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    // The mapping keeps the file open; its handle is not needed after it.
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= 0x7FFFFFFF)
        mapping_ = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (mapping_ == nullptr) return false;
    data_ = static_cast<const std::uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (data_ == nullptr) {
        release();
        return false;
    }
    size_ = static_cast<std::size_t>(size.QuadPart);
    return true;
}

void FileView::release() {
    if (data_ != nullptr) UnmapViewOfFile(data_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    data_ = nullptr;
    mapping_ = nullptr;
    size_ = 0;
}
#else
bool FileView::open(const std::string& path) {
    release();
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    struct stat facts {};
    void* view = MAP_FAILED;
    // Only regular files: a FIFO or device would block or never end.
    if (fstat(file, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size > 0)
        view =
            mmap(nullptr, static_cast<std::size_t>(facts.st_size), PROT_READ, MAP_PRIVATE, file, 0);
    ::close(file);
    if (view == MAP_FAILED) return false;
    data_ = static_cast<const std::uint8_t*>(view);
    size_ = static_cast<std::size_t>(facts.st_size);
    return true;
}

void FileView::release() {
    if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}
#endif

}  // namespace korvex::host
