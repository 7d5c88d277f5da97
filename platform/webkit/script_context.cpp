#include "platform/webkit/script_context.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "duktape.h"
#include "platform/foundation/log.h"

namespace webkit {

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WV_SCRIPT_HEAP_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define WV_SCRIPT_HEAP_SANITIZED 1
#endif

// Every block carries a header in front: its size, so the heap's total can be kept, and
// whether it was cut from one of the heap's chunks.
struct BlockHeader {
  std::size_t size;
  std::size_t chunked;
};
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(sizeof(BlockHeader) <= kHeader);
// Blocks up to this size come from the heap's own chunks, by size class.
constexpr std::size_t kClassStep = kHeader;
constexpr std::size_t kSmallMax = 512;
constexpr std::size_t kClasses = kSmallMax / kClassStep;
constexpr std::size_t kChunkBytes = 32u << 10;
// Chunks a heap may hold; past them its blocks come from malloc. A document's heap rarely
// needs more, and free slots of one class never serve another, so this also bounds what
// a page that keeps changing its allocation sizes can leave unusable.
constexpr std::size_t kMaxChunks = 32;
#if defined(WV_SCRIPT_HEAP_SANITIZED)
// Under AddressSanitizer every block is its own allocation, so the sanitizer sees the
// engine's use of each.
constexpr bool kChunked = false;
#else
constexpr bool kChunked = true;
#endif

std::size_t classOf(std::size_t size) { return (size + kClassStep - 1) / kClassStep - 1; }
std::size_t slotBytes(std::size_t cls) { return kHeader + (cls + 1) * kClassStep; }

BlockHeader headerOf(const unsigned char* block) {
  BlockHeader h;
  std::memcpy(&h, block, sizeof h);
  return h;
}
void setHeader(unsigned char* block, std::size_t size, bool chunked) {
  const BlockHeader h{size, chunked ? 1u : 0u};
  std::memcpy(block, &h, sizeof h);
}

}  // namespace

// The memory of one duktape heap. Small blocks (most of what the engine allocates) are
// cut from chunks the heap owns and kept on free lists of its own: the heap is used by one
// thread at a time, so this takes no lock, and a heap made on one thread, used on another
// and destroyed on a third never makes those threads wait on each other's malloc. The
// chunks go back when the heap goes.
struct ScriptContext::Heap {
  std::size_t bytes = 0;  // what the engine holds: the sizes it asked for
  std::size_t limit = 0;
  double runSeconds = 1.0;
  bool armed = false;
  bool timedOut = false;
  std::chrono::steady_clock::time_point deadline;
  void* owner = nullptr;

  std::vector<void*> chunks;
  unsigned char* bump = nullptr;
  std::size_t bumpLeft = 0;
  void* freeLists[kClasses] = {};

  Heap() = default;
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;
  ~Heap() {
    for (void* c : chunks) std::free(c);
  }

  // A free slot of the class, or a new one; null when the chunks are used up.
  unsigned char* takeSlot(std::size_t cls) {
    if (void* head = freeLists[cls]) {
      std::memcpy(&freeLists[cls], head, sizeof(void*));
      return static_cast<unsigned char*>(head);
    }
    const std::size_t need = slotBytes(cls);
    if (bumpLeft < need) {
      if (chunks.size() >= kMaxChunks) return nullptr;
      auto* chunk = static_cast<unsigned char*>(std::malloc(kChunkBytes));
      if (!chunk) return nullptr;
      chunks.push_back(chunk);
      // The rest of the old chunk is cut into slots of the largest classes it fits.
      while (bumpLeft >= slotBytes(0)) {
        std::size_t c = std::min(classOf(bumpLeft - kHeader), kClasses - 1);
        while (slotBytes(c) > bumpLeft) --c;
        std::memcpy(bump, &freeLists[c], sizeof(void*));
        freeLists[c] = bump;
        bump += slotBytes(c);
        bumpLeft -= slotBytes(c);
      }
      bump = chunk;
      bumpLeft = kChunkBytes;
    }
    unsigned char* slot = bump;
    bump += need;
    bumpLeft -= need;
    return slot;
  }
  void giveSlot(unsigned char* block, std::size_t size) {
    const std::size_t cls = classOf(size);
    std::memcpy(block, &freeLists[cls], sizeof(void*));
    freeLists[cls] = block;
  }
};

namespace {

void* heapAlloc(void* udata, duk_size_t size) {
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  if (size == 0) return nullptr;
  if (size > heap->limit || heap->bytes + size > heap->limit) return nullptr;
  unsigned char* block = kChunked && size <= kSmallMax ? heap->takeSlot(classOf(size)) : nullptr;
  const bool chunked = block != nullptr;
  if (!block) block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  setHeader(block, size, chunked);
  heap->bytes += size;
  return block + kHeader;
}

void heapFree(void* udata, void* ptr) {
  if (!ptr) return;
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  const BlockHeader h = headerOf(block);
  heap->bytes -= h.size;
  if (h.chunked) heap->giveSlot(block, h.size);
  else std::free(block);
}

void* heapRealloc(void* udata, void* ptr, duk_size_t size) {
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  if (!ptr) return heapAlloc(udata, size);
  if (size == 0) {
    heapFree(udata, ptr);
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  const BlockHeader h = headerOf(block);
  const std::size_t old = h.size;
  if (size > old && (size - old > heap->limit || heap->bytes + (size - old) > heap->limit)) return nullptr;
  if (h.chunked && size <= kSmallMax && classOf(old) == classOf(size)) {
    setHeader(block, size, true);
    heap->bytes = heap->bytes - old + size;
    return ptr;
  }
  if (!h.chunked && (size > kSmallMax || !kChunked)) {
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
    if (!grown) return nullptr;
    setHeader(grown, size, false);
    heap->bytes = heap->bytes - old + size;
    return grown + kHeader;
  }
  // Into or out of a chunk's slot: a new block, the contents copied.
  heap->bytes -= old;  // the old block's bytes are not counted twice against the limit
  void* moved = heapAlloc(udata, size);
  heap->bytes += old;
  if (!moved) return nullptr;
  std::memcpy(moved, ptr, std::min<std::size_t>(old, size));
  heapFree(udata, ptr);
  return moved;
}

void heapFatal(void*, const char* msg) {
  // Only reached for an error outside every protected call, which this file never makes.
  foundation::systemLog(std::string("webkit: fatal script engine error: ") + (msg ? msg : "?"));
  std::abort();
}

struct CallState {
  const std::function<int(duk_context*)>* body;
};

duk_ret_t protectedBody(duk_context* ctx, void* udata) {
  auto* state = static_cast<CallState*>(udata);
  (*state->body)(ctx);
  // Convert inside the protected call: a page's toString may throw or loop.
  if (duk_is_undefined(ctx, -1) || duk_is_null(ctx, -1)) {
    duk_pop(ctx);
    duk_push_string(ctx, "");
  } else {
    duk_to_string(ctx, -1);
  }
  return 1;
}

}  // namespace

}  // namespace webkit

extern "C" duk_bool_t wv_duk_exec_timeout_check(void* udata) {
  auto* heap = static_cast<webkit::ScriptContext::Heap*>(udata);
  if (!heap || !heap->armed) return 0;
  if (heap->timedOut) return 1;
  if (std::chrono::steady_clock::now() >= heap->deadline) {
    heap->timedOut = true;
    return 1;
  }
  return 0;
}

namespace webkit {

ScriptContext::ScriptContext(ScriptLimits limits) : heap_(std::make_unique<Heap>()) {
  heap_->limit = limits.heapBytes;
  heap_->runSeconds = limits.runSeconds;
  ctx_ = duk_create_heap(heapAlloc, heapRealloc, heapFree, heap_.get(), heapFatal);
}

ScriptContext::~ScriptContext() {
  if (!ctx_) return;
  // duktape runs the page's finalizers while the heap goes: they get the run time of one
  // entry, like everything else the page runs.
  heap_->armed = true;
  heap_->timedOut = false;
  heap_->deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(heap_->runSeconds));
  duk_destroy_heap(ctx_);
}

std::size_t ScriptContext::bytesInUse() const { return heap_->bytes; }
bool ScriptContext::timedOut() const { return heap_->timedOut; }

void ScriptContext::setNativeOwner(void* owner) { heap_->owner = owner; }

void* ScriptContext::nativeOwner(duk_context* ctx) {
  duk_memory_functions funcs;
  duk_get_memory_functions(ctx, &funcs);
  auto* heap = static_cast<Heap*>(funcs.udata);
  return heap ? heap->owner : nullptr;
}

void ScriptContext::defineGlobalFunction(const char* name, int (*fn)(duk_context*), int nargs) {
  if (!ctx_) return;
  duk_push_global_object(ctx_);
  duk_push_c_function(ctx_, fn, nargs);
  duk_put_prop_string(ctx_, -2, name);
  duk_pop(ctx_);
}

ScriptContext::Result ScriptContext::runProtected(const std::function<int(duk_context*)>& body) {
  Result result;
  if (!ctx_) {
    result.error = "no script engine";
    return result;
  }
  // Nested entries (a native called from the page that evaluates again) share the
  // outer entry's deadline.
  const bool outermost = !heap_->armed;
  if (outermost) {
    heap_->armed = true;
    heap_->timedOut = false;
    heap_->deadline = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(heap_->runSeconds));
  }
  CallState state{&body};
  const duk_int_t rc = duk_safe_call(ctx_, protectedBody, &state, 0, 1);
  const bool timedOut = heap_->timedOut;
  if (outermost) heap_->armed = false;
  if (rc == DUK_EXEC_SUCCESS) {
    result.ok = true;
    result.value = duk_get_string(ctx_, -1) ? duk_get_string(ctx_, -1) : "";
  } else {
    result.error = timedOut ? "RangeError: script ran too long" : duk_safe_to_string(ctx_, -1);
  }
  duk_pop(ctx_);
  return result;
}

ScriptContext::Result ScriptContext::evaluate(std::string_view source, std::string_view fileName) {
  return runProtected([&](duk_context* ctx) {
    duk_push_lstring(ctx, source.data(), source.size());
    duk_push_lstring(ctx, fileName.data(), fileName.size());
    duk_compile(ctx, 0);
    duk_call(ctx, 0);
    return 1;
  });
}

std::optional<std::string> ScriptContext::compile(std::string_view source, std::string_view fileName) {
  ScriptContext scratch(ScriptLimits{});
  std::optional<std::string> bytecode;
  auto result = scratch.runProtected([&](duk_context* ctx) {
    duk_push_lstring(ctx, source.data(), source.size());
    duk_push_lstring(ctx, fileName.data(), fileName.size());
    duk_compile(ctx, 0);
    duk_dump_function(ctx);
    duk_size_t size = 0;
    const void* data = duk_get_buffer(ctx, -1, &size);
    bytecode.emplace(static_cast<const char*>(data), size);
    duk_pop(ctx);
    duk_push_undefined(ctx);
    return 1;
  });
  if (!result.ok) return std::nullopt;
  return bytecode;
}

ScriptContext::Result ScriptContext::runCompiled(std::string_view bytecode) {
  return runProtected([&](duk_context* ctx) {
    void* buffer = duk_push_fixed_buffer(ctx, bytecode.size());
    std::memcpy(buffer, bytecode.data(), bytecode.size());
    duk_load_function(ctx);
    duk_call(ctx, 0);
    return 1;
  });
}

ScriptContext::Result ScriptContext::call(const std::function<bool(duk_context*)>& pushFunction,
                                          const std::function<int(duk_context*)>& pushArgs) {
  return runProtected([&](duk_context* ctx) {
    if (!pushFunction(ctx)) {
      duk_push_undefined(ctx);
      return 1;
    }
    const int nargs = pushArgs ? pushArgs(ctx) : 0;
    duk_call(ctx, nargs);
    return 1;
  });
}

}  // namespace webkit
