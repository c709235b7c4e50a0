#include "core/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tessarin::core {
namespace {

TEST(FloatRepr, WritesShortestRoundTripTextLikePython) {
  EXPECT_EQ(float_repr(2.0), "2.0");
  EXPECT_EQ(float_repr(0.5), "0.5");
  EXPECT_EQ(float_repr(-1.414), "-1.414");
  EXPECT_EQ(float_repr(-0.0), "-0.0");
  EXPECT_EQ(float_repr(0.0), "0.0");
  EXPECT_EQ(float_repr(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(float_repr(3.249), "3.249");
  EXPECT_EQ(float_repr(1234567.0), "1234567.0");
}

TEST(FloatRepr, SwitchesToExponentWherePythonDoes) {
  EXPECT_EQ(float_repr(0.0001), "0.0001");
  EXPECT_EQ(float_repr(0.00001), "1e-05");
  EXPECT_EQ(float_repr(-1.5e-7), "-1.5e-07");
  EXPECT_EQ(float_repr(1e15), "1000000000000000.0");
  EXPECT_EQ(float_repr(1e16), "1e+16");
  EXPECT_EQ(float_repr(1.2345e120), "1.2345e+120");
  EXPECT_EQ(float_repr(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(float_repr(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(float_repr(std::nan("")), "nan");
}

TEST(NumpyRound, RoundsHalfToEvenAfterScalingAndKeepsNegativeZero) {
  EXPECT_EQ(numpy_round(-1.5307, 3), -1.531);
  EXPECT_EQ(numpy_round(0.0025, 3), 0.002);  // 2.5 after scaling -> 2
  EXPECT_EQ(numpy_round(0.0035, 3), 0.004);
  const double tiny_negative = numpy_round(-1e-17, 3);
  EXPECT_EQ(tiny_negative, 0.0);
  EXPECT_TRUE(std::signbit(tiny_negative));
}

TEST(PythonRound, RoundsTheExactBinaryValue) {
  // 2.675 is stored as 2.67499999..., so Python gives 2.67.
  EXPECT_EQ(python_round(2.675, 2), 2.67);
  EXPECT_EQ(python_round(0.125, 2), 0.12);  // exact tie -> even
  EXPECT_EQ(python_round(0.375, 2), 0.38);
  EXPECT_EQ(python_round(29.062, 2), 29.06);
  EXPECT_EQ(format_fixed(18.015, 2), "18.02");  // stored as 18.01500000000000056...
  EXPECT_EQ(format_fixed(-0.001, 2), "-0.00");
}

TEST(Lists, AreBracketedAndCommaSeparated) {
  std::vector<int> ints{58, 43, 15};
  EXPECT_EQ(format_int_list(ints), "[58, 43, 15]");
  EXPECT_EQ(format_int_list(std::vector<int>{}), "[]");
  std::vector<double> values{-1.9, -0.9, 0.0, 1.0};
  EXPECT_EQ(format_float_list(values), "[-1.9, -0.9, 0.0, 1.0]");
}

}  // namespace
}  // namespace tessarin::core
