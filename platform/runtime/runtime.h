#pragma once
// A small object runtime: classes registered by name, per-class method tables whose
// entries can be replaced at run time (the hooking function hands back the entry it
// replaced), named instance fields, and "responds to".
//
// A method's implementation is a std::function taking the receiver first, then the
// arguments; its signature is written at every send and checked when the entry is
// read, so a mismatch fails loudly instead of calling through the wrong type.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace runtime {

class Class;
class Object;
using Id = std::shared_ptr<Object>;
using ClassRef = std::shared_ptr<Class>;

// The implementation type of a method with signature R(Args...).
template <typename Sig>
struct MethodType;
template <typename R, typename... Args>
struct MethodType<R(Args...)> {
  using Imp = std::function<R(const Id& self, Args...)>;
  using ClassImp = std::function<R(Args...)>;
  using Result = R;
};
template <typename Sig>
using Imp = typename MethodType<Sig>::Imp;

// A declared instance variable; its name is its identity (the platform's offset).
struct Ivar {
  std::string name;
};

class Object {
 public:
  explicit Object(ClassRef cls) : isa_(std::move(cls)) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const ClassRef& isa() const { return isa_; }

  // Object-valued instance variables, by name.
  void setIvar(std::string_view name, Id value);
  Id ivarValue(std::string_view name) const;

 private:
  ClassRef isa_;
  mutable std::mutex mu_;
  std::map<std::string, Id, std::less<>> ivars_;
};

class Class : public std::enable_shared_from_this<Class> {
 public:
  using Factory = std::function<Id(const ClassRef& cls)>;

  // A new class, not yet registered.
  static ClassRef make(std::string name, ClassRef superclass = nullptr);

  const std::string& name() const { return name_; }
  const ClassRef& superclass() const { return superclass_; }

  // Instance methods of this class (not its superclasses).
  template <typename Sig>
  void addMethod(std::string_view selector, Imp<Sig> imp) {
    setEntry(selector, std::make_shared<const std::any>(std::move(imp)));
  }
  template <typename Sig>
  void addClassMethod(std::string_view selector, typename MethodType<Sig>::ClassImp imp) {
    std::lock_guard lock(mu_);
    classMethods_[std::string(selector)] = std::make_shared<const std::any>(std::move(imp));
  }

  bool instancesRespondToSelector(std::string_view selector) const { return findEntry(selector) != nullptr; }
  bool respondsToClassSelector(std::string_view selector) const;

  // Protocols the class adopts, by name; a class conforms to those of its superclasses too.
  void addProtocol(std::string name);
  bool conformsToProtocol(std::string_view name) const;

  // Instance variables are declared on a class and found through its superclasses.
  void addIvar(std::string name);
  const Ivar* instanceVariable(std::string_view name) const;

  // How instances are made: a factory, or a plain Object of this class.
  void setFactory(Factory factory) { factory_ = std::move(factory); }
  Id createInstance();

  // The implementation in force for `selector` (looked up through the superclasses),
  // or null. For the send helpers and the hooking function.
  std::shared_ptr<const std::any> findEntry(std::string_view selector) const;
  std::shared_ptr<const std::any> findClassEntry(std::string_view selector) const;
  // Replaces this class's own entry; returns the one in force before (maybe inherited).
  std::shared_ptr<const std::any> setEntry(std::string_view selector, std::shared_ptr<const std::any> imp);

  Class(std::string name, ClassRef superclass) : name_(std::move(name)), superclass_(std::move(superclass)) {}

 private:
  std::string name_;
  ClassRef superclass_;
  mutable std::mutex mu_;
  std::map<std::string, std::shared_ptr<const std::any>, std::less<>> methods_;
  std::map<std::string, std::shared_ptr<const std::any>, std::less<>> classMethods_;
  std::vector<Ivar> ivars_;
  std::vector<std::string> protocols_;
  Factory factory_;
};

// Thrown for a message the receiver's class does not implement, or an implementation
// read with another signature than it was installed with.
class UnrecognizedSelector : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The registry of classes by name.
void objc_registerClassPair(const ClassRef& cls);
void objc_disposeClassPair(std::string_view name);
ClassRef objc_getClass(std::string_view name);
std::vector<std::string> registeredClassNames();

// Instance variable by name on a class (through its superclasses); null when missing.
const Ivar* class_getInstanceVariable(const ClassRef& cls, std::string_view name);
// The object held in an instance variable of `object`; null for a null object or ivar.
Id object_getIvar(const Id& object, const Ivar* ivar);

bool respondsToSelector(const Id& object, std::string_view selector);

namespace detail {
template <typename F>
const F& entryAs(const std::shared_ptr<const std::any>& entry, std::string_view selector) {
  const F* f = std::any_cast<F>(entry.get());
  if (!f || !*f) throw UnrecognizedSelector("implementation of " + std::string(selector) + " has another signature");
  return *f;
}
}  // namespace detail

// Sends `selector` to `self`. A message to a null object does nothing and answers the
// zero value of its result type.
template <typename Sig, typename... CallArgs>
typename MethodType<Sig>::Result msgSend(const Id& self, std::string_view selector, CallArgs&&... args) {
  using R = typename MethodType<Sig>::Result;
  if (!self) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  auto entry = self->isa()->findEntry(selector);
  if (!entry) throw UnrecognizedSelector("-[" + self->isa()->name() + " " + std::string(selector) + "]");
  return detail::entryAs<Imp<Sig>>(entry, selector)(self, std::forward<CallArgs>(args)...);
}

template <typename Sig, typename... CallArgs>
typename MethodType<Sig>::Result msgSendClass(const ClassRef& cls, std::string_view selector, CallArgs&&... args) {
  using R = typename MethodType<Sig>::Result;
  if (!cls) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  auto entry = cls->findClassEntry(selector);
  if (!entry) throw UnrecognizedSelector("+[" + cls->name() + " " + std::string(selector) + "]");
  return detail::entryAs<typename MethodType<Sig>::ClassImp>(entry, selector)(std::forward<CallArgs>(args)...);
}

// The hooking function: replaces the instance method `selector` of `cls` with
// `replacement` and stores the implementation that was in force (possibly inherited,
// or empty when there was none) in `*saved`, through which the replacement passes calls
// on. Returns false when `cls` is null or the old entry has another signature.
template <typename Sig>
bool MSHookMessageEx(const ClassRef& cls, std::string_view selector, Imp<Sig> replacement, Imp<Sig>* saved) {
  if (!cls) return false;
  auto previous = cls->findEntry(selector);
  if (previous && !std::any_cast<Imp<Sig>>(previous.get())) return false;
  if (saved) *saved = previous ? *std::any_cast<Imp<Sig>>(previous.get()) : Imp<Sig>{};
  cls->setEntry(selector, std::make_shared<const std::any>(std::move(replacement)));
  return true;
}

}  // namespace runtime
