#include "layout/depiction_heap.h"

#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::layout {
namespace {

constexpr std::size_t kHeader = 16;                  // size class of the block, keeps payloads 16-aligned
constexpr std::size_t kCommitStep = 1u << 20;        // commit address space 1 MiB at a time
constexpr std::size_t kRetained = 8u << 20;          // committed memory kept between depictions
constexpr std::size_t kLargestReserve = 1ull << 36;  // 64 GiB of address space, nothing committed
constexpr std::size_t kSmallestReserve = 16u << 20;

}  // namespace

// Sizes up to 1 KiB in steps of 16 bytes (classes 0..63); above, four classes
// per power of two: (5, 6, 7, 8) * 2^(e-2) for sizes in (2^e, 2^(e+1)].
std::size_t DepictionHeap::size_class(std::size_t size) noexcept {
  if (size <= 1024) return size == 0 ? 0 : (size - 1) / 16;
  const int e = static_cast<int>(std::bit_width(size - 1)) - 1;  // 2^e < size <= 2^(e+1)
  const std::size_t step = std::size_t{1} << (e - 2);
  const std::size_t multiple = (size + step - 1) / step;  // 5..8
  return 64 + static_cast<std::size_t>(e - 10) * 4 + (multiple - 5);
}

std::size_t DepictionHeap::class_size(std::size_t cls) noexcept {
  if (cls < 64) return (cls + 1) * 16;
  const std::size_t e = 10 + (cls - 64) / 4;
  return (5 + (cls - 64) % 4) * (std::size_t{1} << (e - 2));
}

DepictionHeap::DepictionHeap(std::size_t reserve) {
  // Halved down to a floor where the address space is limited (ulimit -v).
  for (std::size_t size = reserve;; size /= 2) {
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      base_ = static_cast<char*>(p);
      reserved_ = size;
      return;
    }
    if (size / 2 < std::min(reserve, kSmallestReserve)) break;
  }
  throw std::bad_alloc();
}

DepictionHeap::~DepictionHeap() { ::munmap(base_, reserved_); }

void* DepictionHeap::allocate(std::size_t size) {
  const std::size_t cls = size_class(size);
  if (cls >= kClasses) throw std::bad_alloc();
  if (void* block = free_[cls]) {
    std::memcpy(&free_[cls], block, sizeof(void*));
    std::memset(block, 0, sizeof(void*));
    return block;
  }
  const std::size_t need = kHeader + class_size(cls);
  if (need > reserved_ - used_) throw std::bad_alloc();
  if (used_ + need > committed_) {
    std::size_t grow = (used_ + need - committed_ + kCommitStep - 1) / kCommitStep * kCommitStep;
    if (grow > reserved_ - committed_) grow = reserved_ - committed_;
    if (::mprotect(base_ + committed_, grow, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
    committed_ += grow;
  }
  char* header = base_ + used_;
  used_ += need;
  std::memcpy(header, &cls, sizeof cls);
  return header + kHeader;
}

void DepictionHeap::release(void* p) noexcept {
  if (p == nullptr) return;
  std::size_t cls = 0;
  std::memcpy(&cls, static_cast<char*>(p) - kHeader, sizeof cls);
  std::memcpy(p, &free_[cls], sizeof(void*));
  free_[cls] = p;
}

void DepictionHeap::reset() noexcept {
  std::fill(std::begin(free_), std::end(free_), nullptr);
  if (committed_ > kRetained) {
    // Fresh zero pages in place of the tail.
    void* tail = ::mmap(base_ + kRetained, committed_ - kRetained, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    if (tail != MAP_FAILED) {
      committed_ = kRetained;
      if (used_ > kRetained) used_ = kRetained;
    }
  }
  std::memset(base_, 0, used_);
  used_ = 0;
}

namespace {

// The heap of the thread's open scope (null outside one), and the thread's heap
// itself, kept for the thread's later depictions.
thread_local DepictionHeap* t_active = nullptr;
thread_local DepictionHeap* t_heap = nullptr;
struct HeapOwner {
  std::unique_ptr<DepictionHeap> heap;
  ~HeapOwner() { t_heap = nullptr; }
};
thread_local HeapOwner t_heap_owner;

void* routed_new(std::size_t size) {
  if (DepictionHeap* heap = t_active) return heap->allocate(size);
  return ::operator new(size);
}

void* routed_new_nothrow(std::size_t size, const std::nothrow_t& tag) noexcept {
  if (DepictionHeap* heap = t_active) {
    try {
      return heap->allocate(size);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return ::operator new(size, tag);
}

void routed_delete(void* p) noexcept {
  if (p == nullptr) return;
  if (const DepictionHeap* heap = t_heap; heap != nullptr && heap->owns(p)) {
    // Outside a scope the block's heap has been reset already: nothing to give back.
    if (t_active != nullptr) t_active->release(p);
    return;
  }
  ::operator delete(p);
}

void routed_sized_delete(void* p, std::size_t) noexcept { routed_delete(p); }
void routed_delete_nothrow(void* p, const std::nothrow_t&) noexcept { routed_delete(p); }

// The routed version of an allocation function, or null. Scalar and array
// forms share one heap: a block never needs to know which form made it.
void* route_for(std::string_view symbol) {
  if (symbol == "_Znwm" || symbol == "_Znam") return reinterpret_cast<void*>(&routed_new);
  if (symbol == "_ZnwmRKSt9nothrow_t" || symbol == "_ZnamRKSt9nothrow_t") {
    return reinterpret_cast<void*>(&routed_new_nothrow);
  }
  if (symbol == "_ZdlPv" || symbol == "_ZdaPv") return reinterpret_cast<void*>(&routed_delete);
  if (symbol == "_ZdlPvm" || symbol == "_ZdaPvm") return reinterpret_cast<void*>(&routed_sized_delete);
  if (symbol == "_ZdlPvRKSt9nothrow_t" || symbol == "_ZdaPvRKSt9nothrow_t") {
    return reinterpret_cast<void*>(&routed_delete_nothrow);
  }
  return nullptr;
}

// Allocation functions whose blocks this file could not tell from the process
// heap's: a library importing one of them cannot be routed.
bool unroutable(std::string_view name) {
  for (std::string_view c : {"malloc", "calloc", "realloc", "reallocarray", "free", "aligned_alloc", "posix_memalign",
                             "memalign", "valloc", "pvalloc", "strdup", "strndup"}) {
    if (name == c) return true;
  }
  for (std::string_view prefix : {"_Znw", "_Zna", "_Zdl", "_Zda"}) {
    if (name.starts_with(prefix)) return true;  // any form route_for() lacks (aligned, ...)
  }
  return false;
}

#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT, kGlobDat = R_X86_64_GLOB_DAT;
#elif defined(__aarch64__)
constexpr unsigned kJumpSlot = R_AARCH64_JUMP_SLOT, kGlobDat = R_AARCH64_GLOB_DAT;
#else
#error "routing a library's allocations is written for x86-64 and AArch64 only"
#endif

// The loaded object whose file name starts with the given one.
struct Loaded {
  std::string_view name;
  bool found = false;
  ElfW(Addr) bias = 0;
  const ElfW(Dyn) * dynamic = nullptr;
  std::uintptr_t relro_begin = 0, relro_end = 0;
};

int find_loaded(dl_phdr_info* info, std::size_t, void* data) {
  auto* l = static_cast<Loaded*>(data);
  std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
  const std::size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  if (!path.starts_with(l->name)) return 0;
  l->found = true;
  l->bias = info->dlpi_addr;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_DYNAMIC) l->dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + ph.p_vaddr);
    if (ph.p_type == PT_GNU_RELRO) {
      l->relro_begin = info->dlpi_addr + ph.p_vaddr;
      l->relro_end = l->relro_begin + ph.p_memsz;
    }
  }
  return 1;
}

[[noreturn]] void cannot_route(std::string_view file_name, const std::string& why) {
  throw std::runtime_error("cannot route the memory of " + std::string(file_name) + ": " + why);
}

// Writes one import slot; a slot in the read-only-after-relocation part is
// made writable for the write.
void write_slot(void** slot, void* target, const Loaded& lib) {
  const auto at = reinterpret_cast<std::uintptr_t>(slot);
  const bool read_only = at >= lib.relro_begin && at < lib.relro_end;
  const auto page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first_page = at & ~(page_size - 1);
  const std::uintptr_t last_page = (at + sizeof(void*) - 1) & ~(page_size - 1);
  void* page = reinterpret_cast<void*>(first_page);
  const std::size_t span = last_page - first_page + page_size;
  if (read_only && ::mprotect(page, span, PROT_READ | PROT_WRITE) != 0) cannot_route(lib.name, "mprotect failed");
  __atomic_store_n(slot, target, __ATOMIC_SEQ_CST);
  if (read_only) ::mprotect(page, span, PROT_READ);
}

}  // namespace

void route_library_allocations(std::string_view file_name) {
  Loaded lib{file_name};
  ::dl_iterate_phdr(find_loaded, &lib);
  if (!lib.found || lib.dynamic == nullptr) cannot_route(file_name, "it is not loaded");
  const ElfW(Addr) bias = lib.bias;
  // The loader relocates dynamic-section addresses in memory on these targets;
  // one it left alone is still below the load address.
  const auto absolute = [bias](ElfW(Addr) a) { return a < bias ? a + bias : a; };
  const ElfW(Sym)* symtab = nullptr;
  const char* strtab = nullptr;
  ElfW(Addr) jmprel = 0, rela = 0;
  std::size_t jmprel_size = 0, rela_size = 0;
  for (const ElfW(Dyn)* d = lib.dynamic; d->d_tag != DT_NULL; ++d) {
    switch (d->d_tag) {
      case DT_SYMTAB:
        symtab = reinterpret_cast<const ElfW(Sym)*>(absolute(d->d_un.d_ptr));
        break;
      case DT_STRTAB:
        strtab = reinterpret_cast<const char*>(absolute(d->d_un.d_ptr));
        break;
      case DT_JMPREL:
        jmprel = absolute(d->d_un.d_ptr);
        break;
      case DT_PLTRELSZ:
        jmprel_size = d->d_un.d_val;
        break;
      case DT_RELA:
        rela = absolute(d->d_un.d_ptr);
        break;
      case DT_RELASZ:
        rela_size = d->d_un.d_val;
        break;
      case DT_PLTREL:
        if (d->d_un.d_val != DT_RELA) cannot_route(file_name, "its imports use REL relocations");
        break;
      default:
        break;
    }
  }
  if (symtab == nullptr || strtab == nullptr) cannot_route(file_name, "it has no dynamic symbol table");
  const std::pair<ElfW(Addr), std::size_t> tables[] = {{jmprel, jmprel_size}, {rela, rela_size}};

  // Every slot is found before any is written: a library that cannot be routed is left as it was.
  std::vector<std::pair<void**, void*>> writes;
  for (const auto& [address, bytes] : tables) {
    const auto* first = reinterpret_cast<const ElfW(Rela)*>(address);
    for (std::size_t i = 0; address != 0 && i < bytes / sizeof(ElfW(Rela)); ++i) {
      const ElfW(Rela)& r = first[i];
      const auto type = static_cast<unsigned>(ELF64_R_TYPE(r.r_info));
      const auto sym = static_cast<std::size_t>(ELF64_R_SYM(r.r_info));
      if ((type != kJumpSlot && type != kGlobDat) || sym == 0) continue;
      const ElfW(Sym)& symbol = symtab[sym];
      const std::string_view name(strtab + symbol.st_name);
      void** slot = reinterpret_cast<void**>(bias + r.r_offset);
      if (void* routed = route_for(name)) {
        writes.emplace_back(slot, routed);
      } else if (type == kJumpSlot && symbol.st_shndx != SHN_UNDEF && ELF64_ST_TYPE(symbol.st_info) == STT_FUNC) {
        // A call to a function the library defines itself, typically a
        // template instance such as std::vector<int>::_M_realloc_insert, may be
        // bound to another object's copy, whose operator new/delete are not
        // routed: bind the call to the library's own copy (the same code, by
        // the one-definition rule). Taken addresses are left as they are.
        writes.emplace_back(slot, reinterpret_cast<void*>(bias + symbol.st_value));
      } else if (unroutable(name)) {
        cannot_route(file_name, "it imports " + std::string(name));
      }
    }
  }
  if (std::none_of(writes.begin(), writes.end(),
                   [](const auto& w) { return w.second == reinterpret_cast<void*>(&routed_new); })) {
    cannot_route(file_name, "it imports no operator new");
  }
  for (const auto& [slot, target] : writes) write_slot(slot, target, lib);
}

namespace {

// The address space to reserve for a thread's heap, and whether to give it back
// after each depiction: where it is unlimited, 64 GiB kept for the thread's
// life; under a limit (ulimit -v, a batch system's memory limit), an eighth of
// the limit, reserved for one depiction at a time.
struct ReservePolicy {
  std::size_t bytes;
  bool per_depiction;
};

ReservePolicy reserve_policy() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return {kLargestReserve, false};
  return {std::clamp<std::size_t>(limit.rlim_cur / 8, kSmallestReserve, kLargestReserve), true};
}

}  // namespace

DepictionHeapScope::DepictionHeapScope() {
  if (t_active != nullptr) throw std::logic_error("depiction heap scopes do not nest");
  const ReservePolicy policy = reserve_policy();
  if (t_heap == nullptr) {
    t_heap_owner.heap = std::make_unique<DepictionHeap>(policy.bytes);
    t_heap = t_heap_owner.heap.get();
  }
  heap_ = t_heap;
  give_back_ = policy.per_depiction;
  t_active = heap_;
}

DepictionHeapScope::~DepictionHeapScope() {
  t_active = nullptr;
  if (give_back_) {
    t_heap_owner.heap.reset();  // fresh zero pages next time
    t_heap = nullptr;
  } else {
    heap_->reset();
  }
}

void* DepictionHeapScope::allocate(std::size_t size) { return routed_new(size); }
void DepictionHeapScope::release(void* p) noexcept { routed_delete(p); }

}  // namespace tessarin::layout
