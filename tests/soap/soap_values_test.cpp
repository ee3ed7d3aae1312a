#include "soap/soap_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/regional.h"

namespace orv::soap {
namespace {

TEST(ParseInt32, AcceptedForms) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"12", 12},          {" 12 ", 12},          {"\t\r\n12\x01", 12},
      {"+7", 7},           {"-7", -7},            {"0x10", 16},
      {"0X10", 16},        {"$10", 16},           {"x1f", 31},
      {"XFF", 255},        {"-$10", -16},         {"$7FFFFFFF", 2147483647},
      {"$FFFFFFFF", -1},   {"$80000000", INT32_MIN},
      {"2147483647", 2147483647},                 {"-2147483648", INT32_MIN},
      {"000123", 123},     {"$00000000000F", 15},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.value) << c.text;
}

TEST(ParseInt32, RejectedFormsNameTheTrimmedText) {
  const char* cases[] = {"12a", "", "   ", "+", "-", "$", "0x", "1 2", "1,000", "2147483648",
                         "-2147483649", "99999999999999999999", "$100000000", "1.0", "0x-1",
                         "+-1", "12 a"};
  for (const char* text : cases) {
    try {
      ParseInt32(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const SoapFault& f) {
      std::string trimmed(text);
      while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
      while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
      EXPECT_EQ(std::string(f.what()), "''" + trimmed + "'' is not a valid integer value");
      EXPECT_EQ(f.fault_code(), "SOAP-ENV:Server");
    }
  }
}

TEST(ParseFloat32, AcceptedFormsRoundToSinglePrecision) {
  struct Case {
    const char* text;
    float value;
  };
  const Case cases[] = {
      {"3.99", 3.99f},   {" 3.99 ", 3.99f},   {"-1.5", -1.5f},  {"+2", 2.0f},
      {"1e3", 1000.0f},  {"1.5E-3", 1.5e-3f}, {"5.", 5.0f},     {".5", 0.5f},
      {"0.1", 0.1f},     {"3.4028235e38", std::numeric_limits<float>::max()},
      {"1e-50", 0.0f},   {"-1e-400", -0.0f},  {"1e-40", 1e-40f},
      {"0.000000000000000000000000000000000000000000000000000000001", 0.0f},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFloat32(c.text), c.value) << c.text;
  // Rounded to the nearest float, not to a double first.
  EXPECT_EQ(ParseFloat32("16777217"), 16777216.0f);
  EXPECT_EQ(ParseFloat32("0.1"), static_cast<float>(0.1));
}

TEST(ParseFloat32, SpecialValuesInAnyCase) {
  EXPECT_TRUE(std::isnan(ParseFloat32("NaN")));
  EXPECT_TRUE(std::isnan(ParseFloat32(" nan ")));
  EXPECT_EQ(ParseFloat32("INF"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ParseFloat32("inf"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ParseFloat32("-Inf"), -std::numeric_limits<float>::infinity());
}

TEST(ParseFloat32, DotIsTheSeparatorWhateverTheRegionalSettings) {
  const auto saved = util::Regional();
  util::SetRegional(util::RegionalPtBR());
  EXPECT_EQ(ParseFloat32("3.99"), 3.99f);
  EXPECT_THROW(ParseFloat32("3,99"), SoapFault);
  util::SetRegional(saved);
}

TEST(ParseFloat32, RejectedForms) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"3,99", "'3,99' is not a valid floating point value"},
      {"", "'' is not a valid floating point value"},
      {"  ", "'' is not a valid floating point value"},
      {"abc", "'abc' is not a valid floating point value"},
      {"1e", "'1e' is not a valid floating point value"},
      {".", "'.' is not a valid floating point value"},
      {"1.2.3", "'1.2.3' is not a valid floating point value"},
      {"1,000.5", "'1,000.5' is not a valid floating point value"},
      {"0x10", "'0x10' is not a valid floating point value"},
      {"+INF", "'+INF' is not a valid floating point value"},
      {"infinity", "'infinity' is not a valid floating point value"},
      {"--1", "'--1' is not a valid floating point value"},
      {"3.5e38", "'3.5e38' is out of the range of a 32-bit floating point value"},
      {"-1e39", "'-1e39' is out of the range of a 32-bit floating point value"},
      {"1e400", "'1e400' is out of the range of a 32-bit floating point value"},
      {"1e99999999999999999999", "'1e99999999999999999999' is out of the range of a 32-bit floating point value"},
  };
  for (const auto& c : cases) {
    try {
      ParseFloat32(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const SoapFault& f) {
      EXPECT_STREQ(f.what(), c.message);
    }
  }
}

TEST(FormatValues, WireForms) {
  EXPECT_EQ(FormatBoolean(true), "true");
  EXPECT_EQ(FormatBoolean(false), "false");
  EXPECT_EQ(FormatInt32(INT32_MIN), "-2147483648");
  EXPECT_EQ(FormatFloat32(3.99f), "3.99");
  EXPECT_EQ(FormatFloat32(-0.5f), "-0.5");
  EXPECT_EQ(FormatFloat32(std::numeric_limits<float>::quiet_NaN()), "NaN");
  EXPECT_EQ(FormatFloat32(-std::numeric_limits<float>::infinity()), "-INF");
  const auto saved = util::Regional();
  util::SetRegional(util::RegionalPtBR());
  EXPECT_EQ(FormatFloat32(1.25f), "1.25");
  util::SetRegional(saved);
  EXPECT_TRUE(IsTrueFlag("TRUE"));
  EXPECT_TRUE(IsTrueFlag("1"));
  EXPECT_FALSE(IsTrueFlag(" true"));
  EXPECT_FALSE(IsTrueFlag("yes"));
}

}  // namespace
}  // namespace orv::soap
