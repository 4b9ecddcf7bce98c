// The hwl program's memory on Linux: blocks of a huge page or more are
// aligned to huge pages and ask the kernel to back them with them.
//
// Decoding a large picture touches tens of megabytes once (the file, the
// codec's working memory, the pixels). With pages of 4 KiB the kernel's
// page faults then take about as long as the decoding itself (a 2048 x 2048
// colour picture: some 12 000 faults, 40 ms of a 100 ms process on the
// development machine); with huge pages the whole process takes about 240.
// Where the system gives huge pages only on request (transparent_hugepage
// "madvise", Debian's default) nothing else asks for them, so this program
// does, for every block of its own: it replaces the global allocation
// functions, as the standard allows a program to.
#if defined(__linux__)
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "global_allocation.h"

namespace {

// The huge page of x86-64 and ARM64 with 4 KiB pages; elsewhere the request
// is only less useful (the kernel aligns to its own size).
constexpr std::uintptr_t HugePage = std::uintptr_t{2} << 20;

void* Allocate(std::size_t n) {
  if (n < HugePage || n > SIZE_MAX - HugePage) {
    void* block = std::malloc(n != 0 ? n : 1);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  // Whole huge pages from the block's start (its end too: a huge page
  // part of which is touched is all taken), asked for before any of them is
  // touched; unaligned, a block's first and last two megabytes would still
  // take a fault per 4 KiB.
  const std::size_t size = (n + HugePage - 1) & ~(HugePage - 1);
  void* block = std::aligned_alloc(HugePage, size);
  if (block == nullptr) throw std::bad_alloc();
  madvise(block, size, MADV_HUGEPAGE);  // a refusal changes nothing
  return block;
}

}  // namespace

QUENRIK_REPLACE_GLOBAL_ALLOCATION(Allocate, std::free)
#endif
