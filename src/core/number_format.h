// Number formatting shared by every report: numbers must read exactly as the
// Python tables and reports expect them.
#pragma once

#include <span>
#include <string>

namespace tessarin::core {

// Shortest decimal text that reads back as the same double, written the way
// Python's repr(float) writes it: "2.0", "0.5", "-0.0", "1e-05", "1.5e+16",
// "inf", "nan".
std::string float_repr(double value);

// NumPy's round(x, decimals): scale by 10**decimals, round half to even,
// scale back. Keeps the sign of zero (-0.0004 -> -0.0).
double numpy_round(double value, int decimals);

// Python's round(x, ndigits): the double nearest to the exact binary value
// correctly rounded to `ndigits` decimals, exact ties to even.
double python_round(double value, int ndigits);

// Python's format(x, ".Nf"): fixed notation with `decimals` digits, correctly
// rounded from the exact binary value.
std::string format_fixed(double value, int decimals);

// "[a, b, c]" with plain decimal integers; "[]" when empty.
std::string format_int_list(std::span<const int> values);

// "[x, y]" with float_repr of each value; "[]" when empty.
std::string format_float_list(std::span<const double> values);

}  // namespace tessarin::core
