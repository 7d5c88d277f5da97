#include "platform/webkit/script_context.h"

#include <gtest/gtest.h>

namespace webkit {
namespace {

// Small blocks come from the heap's own chunks, whose free slots serve only their own
// size: a page whose allocation sizes keep growing must still get memory up to its limit,
// and no further.
TEST(ScriptContextTest, MemoryUpToTheLimitWhateverSizesThePageAllocates) {
  // Some 10 MB in all, under 0.5 MB alive at once, in 47 sizes from 10 to 470 bytes.
  ScriptContext ctx({2u << 20, 10.0});
  auto rounds = ctx.evaluate(
      "var total = 0;"
      "for (var round = 1; round < 48; round++) {"
      "  var a = [], s = new Array(round * 10).join('x');"
      "  for (var i = 0; i < 800; i++) a.push(s + i);"
      "  total += a.length; a = null; Duktape.gc();"
      "}"
      "total");
  ASSERT_TRUE(rounds.ok) << rounds.error;
  EXPECT_EQ(rounds.value, "37600");
  // Past the limit allocations still fail (the web view's hostile-page test fills a heap).
  EXPECT_FALSE(ctx.evaluate("var s = 'y'; while (true) s = s + s; 1").ok);
  EXPECT_LE(ctx.bytesInUse(), std::size_t{2u << 20});
  EXPECT_EQ(ctx.evaluate("'alive'").value, "alive");
}

TEST(ScriptContextTest, CompiledProgramsRunAsTheirSource) {
  auto bytecode = ScriptContext::compile("var seen = typeof this; function twice(x) { return 2 * x; } twice(21)", "t");
  ASSERT_TRUE(bytecode);
  ScriptContext ctx({4u << 20, 1.0});
  auto r = ctx.runCompiled(*bytecode);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.value, "42");
  EXPECT_FALSE(ScriptContext::compile("function (", "broken"));
}

}  // namespace
}  // namespace webkit
