#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geo/conversion.h"

namespace tavimo::geo {
namespace {

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override { LoadConversionScript(host_); }
  ScriptHost host_;
};

// Expected texts: the published coordtransform module 2.1.2, evaluated in
// node 20 as String(eval("coordtransform.wgs84togcj02(" + position + ")")).
struct Reference {
  const char* position;
  const char* gcj02;
};

constexpr Reference kReference[] = {
    {"116.3975,39.9087", "116.40374357265176,39.91010349934476"},
    {"116.3960194444,39.90940555556", "116.40226275755894,39.9108087138513"},
    {"121.4905,31.2404", "121.49496625571157,31.238414170741756"},
    {"113.3245,23.1064", "113.32992120333554,23.10379812376"},
    {"104.146,30.733", "104.14850661013398,30.730593783069487"},
    {"108.9402,34.2615", "108.94485019843282,34.25990959402605"},
    {"120.1485,30.2424", "120.15321047963921,30.240079899281557"},
    {"114.1694,22.3193", "114.17436706626148,22.316550799399344"},
    {"126.6424,45.7567", "126.64836981630474,45.75865110185797"},
    {"87.6168,43.8256", "87.61964994946926,43.82680539311119"},
    {"91.1322,29.6604", "91.1337433248789,29.657679589949623"},
    {"102.8329,24.8801", "102.83431619435227,24.87703077641073"},
    {"110.3312,20.0311", "110.33557084396945,20.029053664963516"},
    {"73.67,39.5", "73.67314409625827,39.500118252406125"},
    {"135.04,48.4", "135.04813351428263,48.40248151686974"},
    {"100,3.87", "100.00069803343041,3.869187887804941"},
    {"100,53.54", "100.00229321801147,53.54113478606901"},
    {"73.66,39.5", "73.66,39.5"},
    {"135.05,40", "135.05,40"},
    {"100,3.86", "100,3.86"},
    {"100,53.55", "100,53.55"},
    {"0,0", "0,0"},
    {"-0,0", "0,0"},
    {"2.50,48.50", "2.5,48.5"},
    {"0.0000001,0", "1e-7,0"},
    {"1e-007,0", "1e-7,0"},
    {"-74.0445,40.6892", "-74.0445,40.6892"},
    {"74.0445,40.6892", "74.04771274532295,40.68978695348206"},
    {"151.2153,-33.8568", "151.2153,-33.8568"},
    {"-118.1829129779,38.54369941241", "-118.1829129779,38.54369941241"},
    {"118.1829129779,38.54369941241", "118.18904624743017,38.5444938843209"},
    {"30.15813029997,-1.9328323", "30.15813029997,-1.9328323"},
    {"1.234567890123e+013,5", "12345678901230,5"},
    {"1e-005,1e-005", "0.00001,0.00001"},
    {"105,35", "105.00328624145706,34.99909863223526"},
    {"105.00000000001,35.00000000001", "105.00328624147058,34.999098632251"},
    {"116.39601944444445,39.90940555555556", "116.4022627576034,39.910808713846876"},
    {"121.4737,31.2304", "121.47822305927693,31.22845773757727"},
    {"114.0579,22.5431", "114.06301399856547,22.54038281422246"},
    {"0.5,-0.5", "0.5,-0.5"},
    {"123456789,0.000001", "123456789,0.000001"},
    {"0.0000009,1e21", "9e-7,1e+21"},
};

TEST_F(Conversion, MatchesThePublishedModule) {
  for (const Reference& reference : kReference) {
    EXPECT_EQ(ConvertToGcj02(host_, reference.position), reference.gcj02) << reference.position;
  }
}

TEST_F(Conversion, FastPathGivesTheEvaluatedText) {
  for (const Reference& reference : kReference) {
    const std::string evaluated =
        host_.Eval(std::string("coordtransform.wgs84togcj02(") + reference.position + ")");
    EXPECT_EQ(ConvertToGcj02(host_, reference.position), evaluated) << reference.position;
  }
}

TEST_F(Conversion, PositionsThatAreNotTwoNumbersFailOrFollowTheEngine) {
  const std::pair<const char*, const char*> cases[] = {
      {"-1.#IND,-1.#IND", ""}, {"1.#INF,39.9", ""}, {"116.4,-1.#IND", ""}, {"", "NaN,NaN"},
      {"116.4", ""},  // one argument: lat is undefined, NaN in the arithmetic
      {"0x10,0", "16,0"},  // the engine's own literal rules, not ours
      {"1e400,0", "Infinity,0"}, {" 2.5 , 48.5 ", "2.5,48.5"}, {"2.5,48.5,7", "2.5,48.5"},
  };
  for (const auto& [position, text] : cases) {
    const std::string converted = ConvertToGcj02(host_, position);
    EXPECT_EQ(converted, host_.Eval(std::string("coordtransform.wgs84togcj02(") + position + ")")) << position;
    if (std::string(position) != "116.4") {
      EXPECT_EQ(converted, text) << position;
    }
  }
}

TEST(ConversionWithoutScript, EveryConversionIsEmpty) {
  ScriptHost host;
  EXPECT_EQ(ConvertToGcj02(host, "116.3975,39.9087"), "");
  EXPECT_EQ(ConvertToGcj02(host, "0,0"), "");
}

TEST(ConversionScript, IsOneStatementWithCrLfLineEnds) {
  const std::string_view script = ConversionScript();
  EXPECT_EQ(script.substr(0, 27), "(function (root, factory) {");
  std::size_t lf = 0;
  for (std::size_t i = 0; i < script.size(); ++i) {
    if (script[i] != '\n') continue;
    ++lf;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(script[i - 1], '\r') << "line feed without carriage return at " << i;
  }
  EXPECT_GT(lf, 50u);
  for (const char* constant : {"3.14159265358979324 * 3000.0 / 180.0", "3.1415926535897932384626", "6378245.0",
                               "0.00669342162296594323"}) {
    EXPECT_NE(script.find(constant), std::string_view::npos) << constant;
  }
}

TEST(ConversionScript, DefinesAllFourFunctions) {
  ScriptHost host;
  LoadConversionScript(host);
  EXPECT_EQ(host.Eval("typeof coordtransform.bd09togcj02 + typeof coordtransform.gcj02tobd09 + "
                      "typeof coordtransform.gcj02towgs84"),
            "functionfunctionfunction");
  // Round trips land within a few metres, as the approximate inverses do.
  for (const char* round_trip :
       {"coordtransform.gcj02towgs84.apply(null, coordtransform.wgs84togcj02(116.4, 39.9))",
        "coordtransform.bd09togcj02.apply(null, coordtransform.gcj02tobd09(116.4, 39.9))"}) {
    const std::string back = host.Eval(round_trip);
    const std::size_t comma = back.find(',');
    ASSERT_NE(comma, std::string::npos) << round_trip;
    EXPECT_NEAR(std::stod(back.substr(0, comma)), 116.4, 1e-4) << round_trip;
    EXPECT_NEAR(std::stod(back.substr(comma + 1)), 39.9, 1e-4) << round_trip;
  }
}

TEST(EcmaNumberText, FollowsNumberToString) {
  const std::pair<double, const char*> cases[] = {
      {0, "0"}, {-0.0, "0"}, {1, "1"}, {-2.5, "-2.5"}, {1e-7, "1e-7"}, {1.5e-7, "1.5e-7"},
      {0.000001, "0.000001"}, {123456789012345680000.0, "123456789012345680000"}, {1e21, "1e+21"},
      {116.40374357265176, "116.40374357265176"}, {0.1 + 0.2, "0.30000000000000004"},
      {5e-324, "5e-324"}, {1.7976931348623157e308, "1.7976931348623157e+308"},
      {std::numeric_limits<double>::infinity(), "Infinity"}, {std::nan(""), "NaN"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(EcmaNumberText(value), text) << text;
}

}  // namespace
}  // namespace tavimo::geo
