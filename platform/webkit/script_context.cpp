#include "platform/webkit/script_context.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "duktape.h"
#include "platform/foundation/log.h"

namespace webkit {

struct ScriptContext::Heap {
  std::size_t bytes = 0;
  std::size_t limit = 0;
  double runSeconds = 1.0;
  bool armed = false;
  bool timedOut = false;
  std::chrono::steady_clock::time_point deadline;
  void* owner = nullptr;
};

namespace {

// Every block carries its size in front, so the heap's total can be kept.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* heapAlloc(void* udata, duk_size_t size) {
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  if (size == 0) return nullptr;
  if (size > heap->limit || heap->bytes + size > heap->limit) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  heap->bytes += size;
  return block + kHeader;
}

void heapFree(void* udata, void* ptr) {
  if (!ptr) return;
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t size;
  std::memcpy(&size, block, sizeof size);
  heap->bytes -= size;
  std::free(block);
}

void* heapRealloc(void* udata, void* ptr, duk_size_t size) {
  auto* heap = static_cast<ScriptContext::Heap*>(udata);
  if (!ptr) return heapAlloc(udata, size);
  if (size == 0) {
    heapFree(udata, ptr);
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t old;
  std::memcpy(&old, block, sizeof old);
  if (size > old && (size - old > heap->limit || heap->bytes + (size - old) > heap->limit)) return nullptr;
  auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
  if (!grown) return nullptr;
  std::memcpy(grown, &size, sizeof size);
  heap->bytes = heap->bytes - old + size;
  return grown + kHeader;
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
  if (ctx_) duk_destroy_heap(ctx_);
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
