#include "control/DispatchMap.h"

#include "com/CodePage.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using control::DispArgs;
using control::DispatchMap;
using control::DispResult;
using control::ParamKind;

VARIANT text(const char16_t* s)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
}

VARIANT number(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

struct Table : ::testing::Test {
    DispatchMap map;
    std::string seen;
    std::string property = "initial";

    void SetUp() override
    {
        map.Method("Login", 1, { ParamKind::Text, ParamKind::Long, ParamKind::Bool }, [this](const DispArgs& a) -> DispResult {
               seen = a.Text(0) + "|" + std::to_string(a.Long(1)) + "|" + (a.Bool(2) ? "true" : "false");
               return std::nullopt;
           })
            .Method("test", 19, {}, [](const DispArgs&) -> DispResult { return std::string("3.1.0.9"); })
            .Method("Broken", 7, {}, [](const DispArgs&) -> DispResult { throw std::runtime_error("boom"); })
            .Property("RecordPath", 34, [this](const DispArgs&) -> DispResult { return property; }, [this](const std::string& v) { property = v; });
    }
    DISPID lookup(const char16_t* name)
    {
        std::u16string n(name);
        LPOLESTR names[] = { n.data() };
        DISPID id = 0;
        map.GetIDsOfNames(names, 1, &id);
        return id;
    }
};

TEST_F(Table, NamesAreFoundWhateverTheirCase)
{
    EXPECT_EQ(lookup(u"login"), 1);
    EXPECT_EQ(lookup(u"RECORDPATH"), 34);
    EXPECT_EQ(lookup(u"nothing"), DISPID_UNKNOWN);
}

TEST_F(Table, ArgumentsArriveLastFirstAndAreConverted)
{
    // The caller hands (text, long, bool) as rgvarg = { bool, long, text }.
    VARIANT args[3] = { number(1), text(u"25"), text(u"127.0.0.1") };
    DISPPARAMS params { args, nullptr, 3, 0 };
    EXPECT_EQ(map.Invoke(1, DISPATCH_METHOD, &params, nullptr, nullptr), S_OK);
    EXPECT_EQ(seen, "127.0.0.1|25|true");
    for (auto& a : args)
        VariantClear(&a);
}

TEST_F(Table, AWrongArgumentCountOrTypeIsAStatusNotACall)
{
    VARIANT one[1] = { number(1) };
    DISPPARAMS params { one, nullptr, 1, 0 };
    EXPECT_EQ(map.Invoke(1, DISPATCH_METHOD, &params, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
    VARIANT bad[3] = { number(0), text(u"not a number"), text(u"x") };
    DISPPARAMS badParams { bad, nullptr, 3, 0 };
    UINT argErr = 99;
    EXPECT_EQ(map.Invoke(1, DISPATCH_METHOD, &badParams, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(map.Invoke(99, DISPATCH_METHOD, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    for (auto& a : bad)
        VariantClear(&a);
}

TEST_F(Table, TextResultsAndPropertiesTravelAsBstrs)
{
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(map.Invoke(19, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, &result, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(com::BstrToUtf8(result.bstrVal), "3.1.0.9");
    VariantClear(&result);

    VARIANT value[1] = { text(u"/tmp/rec") };
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put { value, &named, 1, 1 };
    ASSERT_EQ(map.Invoke(34, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr), S_OK);
    EXPECT_EQ(property, "/tmp/rec");
    ASSERT_EQ(map.Invoke(34, DISPATCH_PROPERTYGET, nullptr, &result, nullptr), S_OK);
    EXPECT_EQ(com::BstrToUtf8(result.bstrVal), "/tmp/rec");
    VariantClear(&result);
    VariantClear(&value[0]);
}

TEST_F(Table, AFailingMemberNeverThrowsAtTheCaller)
{
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    EXPECT_NO_THROW(hr = map.Invoke(7, DISPATCH_METHOD, nullptr, &result, nullptr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

}
