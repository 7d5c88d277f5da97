#include "platform/runtime/runtime.h"

#include <algorithm>

namespace runtime {
namespace {

struct Registry {
  std::mutex mu;
  std::map<std::string, ClassRef, std::less<>> classes;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

void Object::setIvar(std::string_view name, Id value) {
  std::lock_guard lock(mu_);
  ivars_[std::string(name)] = std::move(value);
}

Id Object::ivarValue(std::string_view name) const {
  std::lock_guard lock(mu_);
  auto it = ivars_.find(name);
  return it == ivars_.end() ? nullptr : it->second;
}

ClassRef Class::make(std::string name, ClassRef superclass) {
  return std::make_shared<Class>(std::move(name), std::move(superclass));
}

bool Class::respondsToClassSelector(std::string_view selector) const { return findClassEntry(selector) != nullptr; }

void Class::addProtocol(std::string name) {
  std::lock_guard lock(mu_);
  if (std::find(protocols_.begin(), protocols_.end(), name) == protocols_.end()) protocols_.push_back(std::move(name));
}

bool Class::conformsToProtocol(std::string_view name) const {
  {
    std::lock_guard lock(mu_);
    if (std::find(protocols_.begin(), protocols_.end(), name) != protocols_.end()) return true;
  }
  return superclass_ && superclass_->conformsToProtocol(name);
}

void Class::addIvar(std::string name) {
  std::lock_guard lock(mu_);
  ivars_.push_back(Ivar{std::move(name)});
}

const Ivar* Class::instanceVariable(std::string_view name) const {
  {
    std::lock_guard lock(mu_);
    for (const auto& ivar : ivars_)
      if (ivar.name == name) return &ivar;
  }
  return superclass_ ? superclass_->instanceVariable(name) : nullptr;
}

Id Class::createInstance() {
  if (factory_) return factory_(shared_from_this());
  return std::make_shared<Object>(shared_from_this());
}

std::shared_ptr<const std::any> Class::findEntry(std::string_view selector) const {
  {
    std::lock_guard lock(mu_);
    auto it = methods_.find(selector);
    if (it != methods_.end()) return it->second;
  }
  return superclass_ ? superclass_->findEntry(selector) : nullptr;
}

std::shared_ptr<const std::any> Class::findClassEntry(std::string_view selector) const {
  {
    std::lock_guard lock(mu_);
    auto it = classMethods_.find(selector);
    if (it != classMethods_.end()) return it->second;
  }
  return superclass_ ? superclass_->findClassEntry(selector) : nullptr;
}

std::shared_ptr<const std::any> Class::setEntry(std::string_view selector, std::shared_ptr<const std::any> imp) {
  auto previous = findEntry(selector);
  std::lock_guard lock(mu_);
  methods_[std::string(selector)] = std::move(imp);
  return previous;
}

void objc_registerClassPair(const ClassRef& cls) {
  if (!cls) return;
  auto& r = registry();
  std::lock_guard lock(r.mu);
  r.classes[cls->name()] = cls;
}

void objc_disposeClassPair(std::string_view name) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  auto it = r.classes.find(name);
  if (it != r.classes.end()) r.classes.erase(it);
}

ClassRef objc_getClass(std::string_view name) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  auto it = r.classes.find(name);
  return it == r.classes.end() ? nullptr : it->second;
}

std::vector<std::string> registeredClassNames() {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  std::vector<std::string> names;
  for (const auto& [name, cls] : r.classes) names.push_back(name);
  return names;
}

const Ivar* class_getInstanceVariable(const ClassRef& cls, std::string_view name) {
  return cls ? cls->instanceVariable(name) : nullptr;
}

Id object_getIvar(const Id& object, const Ivar* ivar) {
  if (!object || !ivar) return nullptr;
  return object->ivarValue(ivar->name);
}

bool respondsToSelector(const Id& object, std::string_view selector) {
  return object && object->isa()->instancesRespondToSelector(selector);
}

}  // namespace runtime
