// The library's only C++ allocations are the temporary buffers std::stable_sort
// asks for with the non-throwing operator new. libstdc++'s own version of that
// operator calls the throwing one inside a try block, which links in the whole
// exception runtime: its emergency allocation pool (allocated at load and
// never given back, so lost on every unload), the unwinder, the demangler and
// the threads library it locks with. Going straight to the C runtime's heap
// keeps all of that out of the DLL; the library is built without exceptions.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
