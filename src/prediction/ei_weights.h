// The fitted weight table of the EI model (ei_weights.cpp, written by
// scripts/fit_ei_model.py).
#pragma once

#include <cstddef>
#include <span>

namespace tessarin::prediction {

struct EiWeight {
  const char* name;  // a feature name of ei_candidate_ions
  double weight;
};

// Every feature with a weight; features not listed weigh 0.
std::span<const EiWeight> ei_weights();

// Peaks below this share of the base peak are dropped.
extern const double kEiIntensityFloor;

}  // namespace tessarin::prediction
