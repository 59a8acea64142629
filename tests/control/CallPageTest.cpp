#include "support/PageFixture.h"

namespace {

using control::PageArg;
using testing_support::Arg;
using testing_support::PageFixture;

class CallPage : public PageFixture { };

TEST_F(CallPage, ArgumentsReachThePageInOrderPackedLastFirst)
{
    auto* c = makeControl(0);
    // "连接失败" in the control's code page 936.
    std::string chinese = "\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC";
    EXPECT_EQ(c->callPage("PluginCallBack", { std::int32_t { 100 }, std::string("a"), std::int32_t { -3 }, chinese }, false), 0);
    ASSERT_EQ(script.calls.size(), 1u);
    const auto& call = script.calls[0];
    EXPECT_EQ(call.name, "PluginCallBack");
    EXPECT_EQ(call.args, (std::vector<Arg> { 100, std::string("a"), -3, std::string("连接失败") }));
    EXPECT_EQ(call.raw, (std::vector<VARTYPE> { VT_BSTR, VT_I4, VT_BSTR, VT_I4 })) << "rgvarg[0] must be the last argument";
    EXPECT_EQ(SysLiveStringCount(), 0) << "argument strings leaked";
}

TEST_F(CallPage, TheNameIsLookedUpOnEveryCall)
{
    auto* c = makeControl(0);
    int before = script.lookups;
    c->callPage("PluginCallBack", {}, false);
    script.functions["PluginCallBack"] = 77; // the page redefined its function
    c->callPage("PluginCallBack", {}, false);
    EXPECT_EQ(script.lookups - before, 2);
    ASSERT_EQ(script.calls.size(), 2u);
    EXPECT_EQ(script.calls[1].id, 77);
}

TEST_F(CallPage, AFailedCallIsRetriedOnceAfterFetchingTheScriptAgain)
{
    auto* c = makeControl(0);
    int readsBefore = site->ScriptReads();
    script.failuresLeft = 1;
    EXPECT_EQ(c->callPage("PluginCallBack", { std::int32_t { 1 } }, false), 0);
    EXPECT_EQ(script.calls.size(), 2u);
    EXPECT_EQ(site->ScriptReads() - readsBefore, 1);
    EXPECT_TRUE(c->HasScript());
}

TEST_F(CallPage, NeverMoreThanOneRetry)
{
    auto* c = makeControl(0);
    script.failuresLeft = 5;
    EXPECT_EQ(c->callPage("PluginCallBack", {}, false), 0) << "a failure is not reported";
    EXPECT_EQ(script.calls.size(), 2u);
}

TEST_F(CallPage, WithoutAScriptOrAKnownNameTheCallReturnsMinusOne)
{
    auto* c = makeControl(0);
    EXPECT_EQ(c->callPage("NoSuchFunction", {}, false), -1);
    script.failuresLeft = 1;
    site->SetScript(nullptr); // the page goes: the failed call drops the script object
    c->callPage("PluginCallBack", {}, false);
    ASSERT_FALSE(c->HasScript());
    script.calls.clear();
    EXPECT_EQ(c->callPage("PluginCallBack", {}, false), -1);
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(CallPage, AFailureWhenTheScriptCannotBeFetchedAgainGivesUp)
{
    auto* c = makeControl(0);
    script.failuresLeft = 1;
    site->SetScript(nullptr); // the page is going away
    EXPECT_EQ(c->callPage("PluginCallBack", {}, false), 0);
    EXPECT_EQ(script.calls.size(), 1u);
    EXPECT_FALSE(c->HasScript());
}

TEST_F(CallPage, AnInactiveInstanceSkipsOnlyWhenActiveCallsButMakesOthers)
{
    auto* secondary = makeControl(3);
    ASSERT_FALSE(secondary->IsActive());
    EXPECT_EQ(secondary->callPage("PluginCallBack", { std::int32_t { 200 } }, true), 0);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(secondary->callPage("PluginCallBack", { std::int32_t { 213 } }, false), 0);
    EXPECT_EQ(script.calls.size(), 1u);
    secondary->activate(); // reports itself with event 209
    script.calls.clear();
    secondary->callPage("PluginCallBack", { std::int32_t { 200 } }, true);
    EXPECT_EQ(script.calls.size(), 1u);
}

}
