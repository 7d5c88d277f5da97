#include "platform/runtime/runtime.h"

#include <gtest/gtest.h>

namespace runtime {
namespace {

struct Counter : Object {
  using Object::Object;
  int calls = 0;
};

ClassRef makeCounterClass(const std::string& name) {
  auto cls = Class::make(name);
  cls->setFactory([](const ClassRef& c) { return std::make_shared<Counter>(c); });
  cls->addMethod<int(int)>("addOne:", [](const Id& self, int x) {
    static_cast<Counter&>(*self).calls++;
    return x + 1;
  });
  return cls;
}

TEST(Runtime, RegistryFindsClassesByNameUntilDisposed) {
  auto cls = makeCounterClass("RTRegistryCounter");
  EXPECT_EQ(objc_getClass("RTRegistryCounter"), nullptr);
  objc_registerClassPair(cls);
  EXPECT_EQ(objc_getClass("RTRegistryCounter"), cls);
  objc_disposeClassPair("RTRegistryCounter");
  EXPECT_EQ(objc_getClass("RTRegistryCounter"), nullptr);
}

TEST(Runtime, SendsDispatchThroughSuperclassesAndNilAnswersZero) {
  auto base = makeCounterClass("RTBase");
  auto sub = Class::make("RTSub", base);
  sub->setFactory([](const ClassRef& c) { return std::make_shared<Counter>(c); });
  auto obj = sub->createInstance();
  EXPECT_EQ(obj->isa(), sub);
  EXPECT_EQ(msgSend<int(int)>(obj, "addOne:", 41), 42);
  EXPECT_TRUE(respondsToSelector(obj, "addOne:"));
  EXPECT_FALSE(respondsToSelector(obj, "missing"));
  EXPECT_FALSE(respondsToSelector(nullptr, "addOne:"));

  EXPECT_EQ(msgSend<int(int)>(nullptr, "addOne:", 1), 0);
  EXPECT_EQ(msgSend<std::string()>(nullptr, "name"), "");
  msgSend<void()>(nullptr, "anything");

  EXPECT_THROW(msgSend<int()>(obj, "missing"), UnrecognizedSelector);
  EXPECT_THROW(msgSend<int(double)>(obj, "addOne:", 1.0), UnrecognizedSelector);

  base->addClassMethod<int()>("answer", [] { return 7; });
  EXPECT_EQ(msgSendClass<int()>(sub, "answer"), 7);
  EXPECT_EQ(msgSendClass<int()>(nullptr, "answer"), 0);
}

TEST(Runtime, ProtocolsAreInheritedFromSuperclasses) {
  auto base = Class::make("RTProtocolBase");
  base->addProtocol("RTShape");
  base->addProtocol("RTShape");  // adopted once
  auto sub = Class::make("RTProtocolSub", base);
  sub->addProtocol("RTColoured");
  EXPECT_TRUE(sub->conformsToProtocol("RTShape"));
  EXPECT_TRUE(sub->conformsToProtocol("RTColoured"));
  EXPECT_FALSE(base->conformsToProtocol("RTColoured"));
  EXPECT_FALSE(sub->conformsToProtocol("rtshape"));
}

TEST(Runtime, HookReplacesEntryAndHandsBackThePreviousOne) {
  auto base = makeCounterClass("RTHookBase");
  auto sub = Class::make("RTHookSub", base);
  sub->setFactory([](const ClassRef& c) { return std::make_shared<Counter>(c); });
  auto baseObj = base->createInstance();
  auto subObj = sub->createInstance();

  // Hooking the subclass for an inherited method leaves the superclass alone.
  Imp<int(int)> saved;
  ASSERT_TRUE(MSHookMessageEx<int(int)>(sub, "addOne:", [&](const Id& self, int x) { return saved(self, x) * 10; },
                                        &saved));
  ASSERT_TRUE(saved);
  EXPECT_EQ(msgSend<int(int)>(subObj, "addOne:", 1), 20);
  EXPECT_EQ(static_cast<Counter&>(*subObj).calls, 1);  // the original ran through the saved entry
  EXPECT_EQ(msgSend<int(int)>(baseObj, "addOne:", 1), 2);

  // A second hook chains onto the first.
  Imp<int(int)> saved2;
  ASSERT_TRUE(
      MSHookMessageEx<int(int)>(sub, "addOne:", [&](const Id& self, int x) { return saved2(self, x) + 1; }, &saved2));
  EXPECT_EQ(msgSend<int(int)>(subObj, "addOne:", 1), 21);

  // Wrong signature or no class: nothing is replaced.
  Imp<void()> wrong;
  EXPECT_FALSE(MSHookMessageEx<void()>(sub, "addOne:", [](const Id&) {}, &wrong));
  EXPECT_FALSE(MSHookMessageEx<void()>(nullptr, "addOne:", [](const Id&) {}, &wrong));
  EXPECT_EQ(msgSend<int(int)>(subObj, "addOne:", 1), 21);

  // A method nobody had: the saved entry is empty.
  Imp<int()> none;
  ASSERT_TRUE(MSHookMessageEx<int()>(sub, "fresh", [](const Id&) { return 5; }, &none));
  EXPECT_FALSE(none);
  EXPECT_EQ(msgSend<int()>(subObj, "fresh"), 5);
}

TEST(Runtime, InstanceVariablesByName) {
  auto base = Class::make("RTIvarBase");
  base->addIvar("_icon");
  auto sub = Class::make("RTIvarSub", base);
  auto obj = sub->createInstance();
  auto icon = base->createInstance();

  const Ivar* ivar = class_getInstanceVariable(sub, "_icon");
  ASSERT_NE(ivar, nullptr);
  EXPECT_EQ(object_getIvar(obj, ivar), nullptr);  // declared, not set
  obj->setIvar("_icon", icon);
  EXPECT_EQ(object_getIvar(obj, ivar), icon);

  EXPECT_EQ(class_getInstanceVariable(sub, "_missing"), nullptr);
  EXPECT_EQ(class_getInstanceVariable(nullptr, "_icon"), nullptr);
  EXPECT_EQ(object_getIvar(nullptr, ivar), nullptr);
  EXPECT_EQ(object_getIvar(obj, nullptr), nullptr);
}

}  // namespace
}  // namespace runtime
