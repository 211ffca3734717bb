#pragma once
// Opens namespace Nubra: the scalar-type constraint, message building and
// element storage shared by the containers and the operations.

#include <complex>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <version>

#include <sys/mman.h>

// Storage comes from std::make_shared<T[]>. A standard library without it
// (GCC 10's takes the call and corrupts the heap) is refused here.
#if !defined(__cpp_lib_shared_ptr_arrays) || __cpp_lib_shared_ptr_arrays < 201707L
#error "nubra needs a standard library whose std::make_shared makes arrays (__cpp_lib_shared_ptr_arrays >= 201707): GCC 12's libstdc++ or newer"
#endif

namespace Nubra {

// "This overload is for scalar type E": every container argument holds E.
template <class E, class... Containers>
concept SamplesOf = (std::same_as<typename Containers::SampleType, E> && ...);

// Matrices answer dim<1>(); vectors and views refuse it at compile time.
template <class T>
concept TwoDimensional = requires(const T& x) { x.template dim<1>(); };

// Concatenates message pieces; numbers print in plain decimal.
template <class... Pieces>
std::string cat(const Pieces&... pieces)
{
    std::ostringstream text;
    (text << ... << pieces);
    return text.str();
}

// Throws a failed check's std::runtime_error, its message made of its
// pieces, out of line: the checks before each call stay small enough to
// inline.
template <class... Pieces>
[[noreturn, gnu::cold, gnu::noinline]] void fail(const Pieces&... pieces)
{
    throw std::runtime_error(cat(pieces...));
}

// Bounds test of element access on vectors and views.
inline size_t checkedIndex(size_t idx, size_t numel)
{
    if (idx >= numel)
        fail("index ", idx, " exceeds max number of elements ", numel);
    return idx;
}

// Storage of hugeStorageBytes or more is mapped anonymous memory: pages the
// kernel maps, zeroed, on first touch, so making it costs what numpy's zeros
// cost and commits nothing. It starts on a huge-page boundary and is advised
// for transparent huge pages: large operands take fewer TLB misses.
inline constexpr size_t hugePageBytes = size_t{2} << 20;
inline constexpr size_t hugeStorageBytes = 2 * hugePageBytes;

// A zero-filled shared array of count elements. A count whose byte size
// can't exist is refused before any allocator sees it; a mapping the kernel
// refuses is std::bad_alloc.
template <class T>
std::shared_ptr<T[]> makeStorage(size_t count)
{
    static_assert(std::is_trivially_destructible_v<T>);
    if (count > PTRDIFF_MAX / sizeof(T))
        throw std::bad_array_new_length();
    const size_t bytes = count * sizeof(T);
    if (bytes < hugeStorageBytes)
        return std::make_shared<T[]>(count);

    // Whole huge pages, and one more to find a boundary in; the rest is unmapped.
    const size_t length = (bytes + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    void* mapped = mmap(nullptr, length + hugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    char* const low = static_cast<char*>(mapped);
    char* const start = low + (hugePageBytes - reinterpret_cast<std::uintptr_t>(low) % hugePageBytes) % hugePageBytes;
    if (start > low)
        munmap(low, start - low);
    munmap(start + length, low + hugePageBytes - start);
#ifdef MADV_HUGEPAGE
    madvise(start, length, MADV_HUGEPAGE); // advice only: refused where the kernel has none
#endif
    // On failure to make the control block, the constructor calls the deleter.
    return std::shared_ptr<T[]>(reinterpret_cast<T*>(start), [length](T* p) { munmap(p, length); });
}

} // namespace Nubra
