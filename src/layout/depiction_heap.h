// Memory for CoordGen that starts from the same state for every depiction.
//
// CoordGen orders some of its objects (rings, fragments, molecules, ...) by
// their addresses. With the process heap, those addresses depend on whatever
// was allocated and freed before, so a molecule's depiction changed with the
// molecules depicted earlier in the process. Here every allocation CoordGen
// makes during a depiction comes from a heap of the depicting thread's own that
// is empty and zero-filled when the depiction starts and hands out addresses by
// a fixed rule, so equal inputs see equal relative addresses, whatever ran
// before and whatever other threads do at the same time.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>

namespace tessarin::layout {

// One contiguous reservation of address space, committed as it is used, with
// exact-size free lists. The same sequence of allocate/release calls from the
// empty state always gives the same offsets from base(). Not thread-safe: each
// thread has its own (DepictionHeapScope).
class DepictionHeap {
 public:
  // Reserves `reserve` bytes of address space, none of it committed yet (or
  // half, a quarter, ... down to 16 MiB where that much is not available).
  // Throws std::bad_alloc when no reservation succeeds.
  explicit DepictionHeap(std::size_t reserve);
  ~DepictionHeap();
  DepictionHeap(const DepictionHeap&) = delete;
  DepictionHeap& operator=(const DepictionHeap&) = delete;

  // 16-byte aligned; throws std::bad_alloc when the reservation is used up.
  void* allocate(std::size_t size);
  // `p` must come from allocate() since the last reset().
  void release(void* p) noexcept;
  bool owns(const void* p) const noexcept { return p >= base_ && p < base_ + reserved_; }
  // Back to the empty state: free lists dropped, every byte handed out since
  // the last reset zeroed again, memory beyond a few MiB returned to the system.
  void reset() noexcept;

  std::size_t high_water() const noexcept { return used_; }  // bytes carved since the last reset
  const char* base() const noexcept { return base_; }

 private:
  static constexpr std::size_t kClasses = 160;
  static std::size_t size_class(std::size_t size) noexcept;
  static std::size_t class_size(std::size_t cls) noexcept;

  char* base_ = nullptr;
  std::size_t reserved_ = 0;
  std::size_t committed_ = 0;
  std::size_t used_ = 0;
  void* free_[kClasses] = {};
};

// While one is alive on a thread, the allocations of the routed libraries
// (route_library_allocations) on that thread come from the thread's
// DepictionHeap; when it ends, the heap is reset (or, where the address space
// is limited, given back). Allocations outside a scope, and on other threads,
// go to the process heap as before. Throws std::logic_error when scopes are
// nested on one thread, std::bad_alloc when no address space can be reserved.
// Everything allocated inside the scope must be freed, or abandoned, before it
// ends.
class DepictionHeapScope {
 public:
  DepictionHeapScope();
  ~DepictionHeapScope();
  DepictionHeapScope(const DepictionHeapScope&) = delete;
  DepictionHeapScope& operator=(const DepictionHeapScope&) = delete;

  // Allocate in / release to the active heap, as a routed library's calls do.
  void* allocate(std::size_t size);
  void release(void* p) noexcept;
  const DepictionHeap& heap() const noexcept { return *heap_; }

 private:
  DepictionHeap* heap_;
  bool give_back_ = false;
};

// Routes the operator new/delete calls of the loaded shared object whose file
// name starts with `file_name` (e.g. "libcoordgen.so") to this file's
// scope-aware versions, by rewriting its import slots. Call it once per
// library, before any DepictionHeapScope is opened. Throws std::runtime_error,
// changing nothing, if the object is not loaded or also imports an allocation
// function whose blocks could not be told apart (malloc, aligned new, ...).
void route_library_allocations(std::string_view file_name);

}  // namespace tessarin::layout
