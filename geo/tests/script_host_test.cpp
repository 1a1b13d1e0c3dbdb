#include <gtest/gtest.h>

#include <QJSEngine>

#include "geo/script_host.h"

namespace tavimo::geo {
namespace {

TEST(ScriptHost, StatementsShareOneGlobalScope) {
  ScriptHost host;
  EXPECT_FALSE(host.ExecuteStatement("var answer = ;"));
  EXPECT_FALSE(ScriptHost::ErrorText().empty());
  EXPECT_TRUE(host.ExecuteStatement("var answer = 42;"));
  EXPECT_EQ(ScriptHost::ErrorText(), "");
  EXPECT_EQ(host.Eval("answer"), "42");
}

TEST(ScriptHost, EvalGivesTheValueAsText) {
  ScriptHost host;
  const std::pair<const char*, const char*> cases[] = {
      {"[1, 2]", "1,2"},           {"'abc'", "abc"},  {"undefined", ""},
      {"[1e-7, 2.50, -0]", "1e-7,2.5,0"}, {"0.1 + 0.2", "0.30000000000000004"},
      {"1 / 0", "Infinity"},       {"true", "true"},
  };
  for (const auto& [expression, text] : cases) {
    EXPECT_EQ(host.Eval(expression), text) << expression;
    EXPECT_EQ(ScriptHost::ErrorText(), "") << expression;
  }
}

TEST(ScriptHost, FailuresGiveEmptyTextAndAFailureText) {
  ScriptHost host;
  for (const char* expression : {"1.#INF", "throw 5", "throw new Error('x')", "nothing.here", "null"}) {
    EXPECT_EQ(host.Eval(expression), "") << expression;
    EXPECT_NE(ScriptHost::ErrorText(), "") << expression;
    EXPECT_EQ(host.Eval("1"), "1");
    EXPECT_EQ(ScriptHost::ErrorText(), "");
  }
}

TEST(ScriptHost, ResetForgetsDefinitions) {
  ScriptHost host;
  ASSERT_TRUE(host.ExecuteStatement("var kept = 1;"));
  host.Reset();
  EXPECT_EQ(host.Eval("typeof kept"), "undefined");
}

TEST(ScriptHost, CopiesShareTheEngine) {
  ScriptHost host;
  const ScriptHost copy = host;
  ASSERT_TRUE(host.ExecuteStatement("var shared = 'yes';"));
  EXPECT_EQ(copy.HostedObject(), host.HostedObject());
  EXPECT_EQ(copy.HostedObject()->evaluate("shared").toString(), "yes");
}

TEST(ScriptHost, RunPassesTheLeadingRunOfSuppliedArguments) {
  ScriptHost host;
  ASSERT_TRUE(host.ExecuteStatement("function count() { return arguments.length + ':' + Array.prototype.join.call(arguments, '|'); }"));
  EXPECT_EQ(host.Run("count"), "0:");
  EXPECT_EQ(host.Run("count", {"a", "b", std::nullopt, "d"}), "2:a|b");
  EXPECT_EQ(host.Run("count", {"1", "2", "3", "4", "5", "6"}), "6:1|2|3|4|5|6");
  EXPECT_EQ(host.Run("missing"), "");
  EXPECT_NE(ScriptHost::ErrorText(), "");
}

TEST(ScriptHost, PropertiesKeepWhatIsWritten) {
  ScriptHost host;
  EXPECT_EQ(host.Language(2), "JScript");
  EXPECT_EQ(host.Language(1), "vbs");
  EXPECT_EQ(host.Language(0), "JScript");
  EXPECT_EQ(host.Timeout(5000), 5000);
  EXPECT_EQ(host.Timeout(), -1);
  EXPECT_EQ(host.State(), 0);
  EXPECT_EQ(host.State(1), 1);
  EXPECT_EQ(host.State(), 1);
  EXPECT_TRUE(host.AllowUI(true));
  EXPECT_FALSE(host.AllowUI(false));
  EXPECT_FALSE(host.AllowUI());
  EXPECT_EQ(host.SitehWnd(77), 77);
  EXPECT_EQ(host.SitehWnd(), 77);
}

TEST(ScriptHost, AddCodeDefinesInTheGlobalScope) {
  ScriptHost host;
  host.AddCode("function twice(x) { return 2 * x; }");
  EXPECT_EQ(host.Eval("twice(21)"), "42");
  host.AddCode("function broken( {");
  EXPECT_NE(ScriptHost::ErrorText(), "");
}

}  // namespace
}  // namespace tavimo::geo
