// The fitted numbers of the fingerprint network (fingerprint_network.h),
// defined in fingerprint_network_data.cpp, which
// scripts/fit_fingerprint_model.py writes.
//
// A matrix of `rows` x `cols` weights is stored row-major as signed 8-bit
// integers q, base64-encoded in `chunks` (read one after the other); the
// weight in row r, column c is q[r * cols + c] * scale[c]. `bias` has `cols`
// entries. Scales and biases are written as shortest round-trip decimals.
//
// The network is an ensemble of kMembers networks of one shape over one
// vocabulary; each member has its own four matrices.
#pragma once

#include <cstdint>

namespace tessarin::prediction::network_data {

struct Matrix {
  int rows;
  int cols;
  const char* const* chunks;
  int chunk_count;
  const double* scale;
  const double* bias;
};

extern const int kRadius;
extern const int kSpan;       // m/z 0..kSpan-1 of the heads, losses 0..kSpan-1 of the reverse head
extern const int kAboveMass;  // outputs above M + kAboveMass are 0
extern const int kInputs;
extern const int kMaxCount;                  // counts above it count as kMaxCount
extern const double kCountValue[];           // kMaxCount + 1 entries: log(1 + count)
extern const std::uint32_t kEnvironments[];  // kInputs ascending environment ids

struct Member {
  Matrix hidden;   // kInputs x hidden
  Matrix forward;  // hidden x kSpan
  Matrix reverse;  // hidden x kSpan
  Matrix gate;     // hidden x kSpan
};

extern const int kMembers;
extern const Member kNetworks[];       // kMembers entries
extern const double kNetworkShare;     // the network's share of the combined intensities
extern const double kNetworkExponent;  // the exponent on its intensities (over its base) there

}  // namespace tessarin::prediction::network_data
