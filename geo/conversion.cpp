#include "geo/conversion.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tavimo::geo {
namespace {

// One statement that defines the global object coordtransform.
constexpr std::string_view kConversionScript =
    "(function (root, factory) {\r\n"
    "  // 通用模块定义：AMD、CommonJS，否则挂到全局对象上\r\n"
    "  if (typeof define === 'function' && define.amd) {\r\n"
    "    define([], factory);\r\n"
    "  } else if (typeof module === 'object' && module.exports) {\r\n"
    "    module.exports = factory();\r\n"
    "  } else {\r\n"
    "    root.coordtransform = factory();\r\n"
    "  }\r\n"
    "}(this, function () {\r\n"
    "  // 常量：百度用的 π、圆周率、克拉索夫斯基椭球长半轴与第一偏心率平方\r\n"
    "  var x_PI = 3.14159265358979324 * 3000.0 / 180.0;\r\n"
    "  var PI = 3.1415926535897932384626;\r\n"
    "  var a = 6378245.0;\r\n"
    "  var ee = 0.00669342162296594323;\r\n"
    "\r\n"
    "  // 国外的点不做偏移\r\n"
    "  var out_of_china = function (lng, lat) {\r\n"
    "    lng = +lng;\r\n"
    "    lat = +lat;\r\n"
    "    return !(lng > 73.66 && lng < 135.05 && lat > 3.86 && lat < 53.55);\r\n"
    "  };\r\n"
    "\r\n"
    "  // 纬度偏移量，x、y 为相对 105°E、35°N 的经纬度差\r\n"
    "  var transformlat = function (x, y) {\r\n"
    "    x = +x;\r\n"
    "    y = +y;\r\n"
    "    var ret = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * Math.sqrt(Math.abs(x));\r\n"
    "    ret += (20.0 * Math.sin(6.0 * x * PI) + 20.0 * Math.sin(2.0 * x * PI)) * 2.0 / 3.0;\r\n"
    "    ret += (20.0 * Math.sin(y * PI) + 40.0 * Math.sin(y / 3.0 * PI)) * 2.0 / 3.0;\r\n"
    "    ret += (160.0 * Math.sin(y / 12.0 * PI) + 320 * Math.sin(y * PI / 30.0)) * 2.0 / 3.0;\r\n"
    "    return ret;\r\n"
    "  };\r\n"
    "\r\n"
    "  // 经度偏移量\r\n"
    "  var transformlng = function (x, y) {\r\n"
    "    x = +x;\r\n"
    "    y = +y;\r\n"
    "    var ret = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * Math.sqrt(Math.abs(x));\r\n"
    "    ret += (20.0 * Math.sin(6.0 * x * PI) + 20.0 * Math.sin(2.0 * x * PI)) * 2.0 / 3.0;\r\n"
    "    ret += (20.0 * Math.sin(x * PI) + 40.0 * Math.sin(x / 3.0 * PI)) * 2.0 / 3.0;\r\n"
    "    ret += (150.0 * Math.sin(x / 12.0 * PI) + 300.0 * Math.sin(x / 30.0 * PI)) * 2.0 / 3.0;\r\n"
    "    return ret;\r\n"
    "  };\r\n"
    "\r\n"
    "  // 火星坐标偏移后的点 [经度, 纬度]\r\n"
    "  var shifted = function (lng, lat) {\r\n"
    "    var dlat = transformlat(lng - 105.0, lat - 35.0);\r\n"
    "    var dlng = transformlng(lng - 105.0, lat - 35.0);\r\n"
    "    var radlat = lat / 180.0 * PI;\r\n"
    "    var magic = Math.sin(radlat);\r\n"
    "    magic = 1 - ee * magic * magic;\r\n"
    "    var sqrtmagic = Math.sqrt(magic);\r\n"
    "    dlat = (dlat * 180.0) / ((a * (1 - ee)) / (magic * sqrtmagic) * PI);\r\n"
    "    dlng = (dlng * 180.0) / (a / sqrtmagic * Math.cos(radlat) * PI);\r\n"
    "    return [lng + dlng, lat + dlat];\r\n"
    "  };\r\n"
    "\r\n"
    "  // WGS-84 转 GCJ-02\r\n"
    "  var wgs84togcj02 = function (lng, lat) {\r\n"
    "    lat = +lat;\r\n"
    "    lng = +lng;\r\n"
    "    if (out_of_china(lng, lat)) {\r\n"
    "      return [lng, lat];\r\n"
    "    }\r\n"
    "    return shifted(lng, lat);\r\n"
    "  };\r\n"
    "\r\n"
    "  // GCJ-02 转 WGS-84（近似）\r\n"
    "  var gcj02towgs84 = function (lng, lat) {\r\n"
    "    lat = +lat;\r\n"
    "    lng = +lng;\r\n"
    "    if (out_of_china(lng, lat)) {\r\n"
    "      return [lng, lat];\r\n"
    "    }\r\n"
    "    var moved = shifted(lng, lat);\r\n"
    "    return [lng * 2 - moved[0], lat * 2 - moved[1]];\r\n"
    "  };\r\n"
    "\r\n"
    "  // BD-09 转 GCJ-02\r\n"
    "  var bd09togcj02 = function (bd_lon, bd_lat) {\r\n"
    "    bd_lon = +bd_lon;\r\n"
    "    bd_lat = +bd_lat;\r\n"
    "    var x = bd_lon - 0.0065;\r\n"
    "    var y = bd_lat - 0.006;\r\n"
    "    var z = Math.sqrt(x * x + y * y) - 0.00002 * Math.sin(y * x_PI);\r\n"
    "    var theta = Math.atan2(y, x) - 0.000003 * Math.cos(x * x_PI);\r\n"
    "    return [z * Math.cos(theta), z * Math.sin(theta)];\r\n"
    "  };\r\n"
    "\r\n"
    "  // GCJ-02 转 BD-09\r\n"
    "  var gcj02tobd09 = function (lng, lat) {\r\n"
    "    lat = +lat;\r\n"
    "    lng = +lng;\r\n"
    "    var z = Math.sqrt(lng * lng + lat * lat) + 0.00002 * Math.sin(lat * x_PI);\r\n"
    "    var theta = Math.atan2(lat, lng) + 0.000003 * Math.cos(lng * x_PI);\r\n"
    "    return [z * Math.cos(theta) + 0.0065, z * Math.sin(theta) + 0.006];\r\n"
    "  };\r\n"
    "\r\n"
    "  return {\r\n"
    "    bd09togcj02: bd09togcj02,\r\n"
    "    gcj02tobd09: gcj02tobd09,\r\n"
    "    wgs84togcj02: wgs84togcj02,\r\n"
    "    gcj02towgs84: gcj02towgs84\r\n"
    "  };\r\n"
    "}));\r\n";

constexpr std::string_view kCallPrefix = "coordtransform.wgs84togcj02(";

// A numeric literal as our own texts write them: an optional minus, digits
// without a leading zero, an optional fraction and exponent. Anything else
// (hex, leading zeros, "#", spaces) is left to the engine's parser.
bool IsPlainNumber(std::string_view text) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && text[i] == '-') ++i;
  const std::size_t first = i;
  const std::size_t whole = digits();
  if (whole == 0 || (whole > 1 && text[first] == '0')) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (digits() == 0) return false;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

bool ParseNumber(std::string_view text, double& value) {
  if (!IsPlainNumber(text)) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

}  // namespace

std::string_view ConversionScript() { return kConversionScript; }

void LoadConversionScript(ScriptHost& host) { host.ExecuteStatement(std::string(kConversionScript)); }

std::string ConvertToGcj02(ScriptHost& host, const std::string& position) {
  // Calling the function with the two numbers gives the same text as
  // evaluating the expression, at a tenth of the cost; every other position
  // text is evaluated, so its failures and oddities stay the engine's.
  const std::size_t comma = position.find(',');
  double numbers[2];
  if (comma != std::string::npos && ParseNumber(std::string_view(position).substr(0, comma), numbers[0]) &&
      ParseNumber(std::string_view(position).substr(comma + 1), numbers[1])) {
    if (auto text = host.CallWithNumbers("coordtransform", "wgs84togcj02", numbers)) return *text;
  }
  std::string expression(kCallPrefix);
  expression += position;
  expression += ')';
  return host.Eval(expression);
}

std::string EcmaNumberText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";
  // Shortest digits that read back as the same double: "d.ddde±x".
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e_at = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e_at)) {
    if (c != '.') digits += c;
  }
  const int k = static_cast<int>(digits.size());
  const int n = std::atoi(std::string(text.substr(e_at + 1)).c_str()) + 1;
  std::string out = value < 0 ? "-" : "";
  if (k <= n && n <= 21) {
    out += digits;
    out.append(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out += digits.substr(0, static_cast<std::size_t>(n));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out += digits;
  } else {
    out += digits[0];
    if (k > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += n - 1 < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

}  // namespace tavimo::geo
