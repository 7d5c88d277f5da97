#pragma once
// One duktape heap with bounds a hostile page cannot pass: the bytes it may allocate and
// the real time one entry into it (a script, a call) may run. An entry that runs too long
// is stopped with a RangeError that even a `try` in the page cannot keep going; an
// allocation past the bound fails as out of memory. Single-threaded: the owner (a web
// view, on the main thread) is the only caller.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct duk_hthread;
typedef struct duk_hthread duk_context;

namespace webkit {

struct ScriptLimits {
  std::size_t heapBytes = 64u << 20;
  double runSeconds = 1.0;
};

class ScriptContext {
 public:
  explicit ScriptContext(ScriptLimits limits);
  ~ScriptContext();
  ScriptContext(const ScriptContext&) = delete;
  ScriptContext& operator=(const ScriptContext&) = delete;

  struct Result {
    bool ok = false;
    std::string value;  // the result as text; "" for undefined and null
    std::string error;  // the error's text when !ok
  };

  // Compiles and runs `source` as a global program.
  Result evaluate(std::string_view source, std::string_view fileName = "eval");
  // Compiles `source` as a global program into duktape bytecode, in a heap of its own, for
  // runCompiled in any heap; nullopt when it does not compile. Callable on any thread.
  // Bytecode is trusted input to duktape: only ever pass it what compile() made.
  static std::optional<std::string> compile(std::string_view source, std::string_view fileName);
  // Runs a program that compile() made, as evaluate() runs its source, without parsing it
  // again.
  Result runCompiled(std::string_view bytecode);
  // Calls the function on top of the value stack prepared by `pushArgs`, under the bounds.
  // The function is looked up by `lookup`, which pushes it (and returns false when there
  // is none: nothing runs).
  Result call(const std::function<bool(duk_context*)>& pushFunction,
              const std::function<int(duk_context*)>& pushArgs);

  duk_context* context() const { return ctx_; }
  std::size_t bytesInUse() const;
  bool timedOut() const;

  // The object that registered natives reach through nativeOwner().
  void setNativeOwner(void* owner);
  static void* nativeOwner(duk_context* ctx);
  // Registers a global function implemented in C.
  void defineGlobalFunction(const char* name, int (*fn)(duk_context*), int nargs);

  struct Heap;

 private:
  Result runProtected(const std::function<int(duk_context*)>& body);
  std::unique_ptr<Heap> heap_;
  duk_context* ctx_ = nullptr;
};

}  // namespace webkit
