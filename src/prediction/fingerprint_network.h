// The fingerprint network: a predicted square-rooted EI spectrum of a whole
// molecule from its Morgan count fingerprint, read by the EI model as named
// features of its candidate ions (it adds no peaks of its own).
//
// Input. The molecule's Morgan environments (radius 2, bond types, no
// chirality; RDKit's unfolded count fingerprint) of the molecule as RDKit
// reads a SMILES: sanitised, hydrogens implicit (fingerprint_molecule makes
// that molecule from any other form of it, the prepared molecule included).
// Environment b of the fitted vocabulary gives x_b = value[min(count, max)]
// (log(1 + count), tabulated); environments outside the vocabulary count
// nothing.
//
// Network. An ensemble: the mean of the outputs of `members` networks of one
// shape, fitted from different starting points on the same molecules. Each
// is h = relu(W1 x + b1) and three heads over m/z 0..span-1: forward
// F = Wf h + bf (by m/z), reverse R = Wr h + br (by neutral loss
// l = M - m/z, M the molecule's nominal mass), gate g = sigmoid(Wg h + bg)
// (by m/z), with output y(m/z) = relu(g F(m/z) + (1 - g) R(M - m/z)), where
// R(l) is 0 for a loss outside 0..span-1, and y = 0 above M + above_mass.
// The forward and reverse outputs below are the members' mean relu(F) and
// relu(R) likewise.
//
// Every sum runs in a fixed order in double precision over weights that are
// exact doubles (8-bit integers times a per-column scale), and the input
// values are a table, so a molecule gets the same outputs on every machine.
// The fitted numbers are compiled in (fingerprint_network_data.cpp, written by
// scripts/fit_fingerprint_model.py, which documents the format).
#pragma once

#include <GraphMol/ROMol.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace tessarin::prediction {

// (environment id, count), ascending id.
using FingerprintCounts = std::vector<std::pair<std::uint32_t, int>>;

// The molecule the fingerprint is taken of: a copy of `mol` with ordinary
// hydrogen atoms made implicit and sanitised (aromaticity perceived again
// from a kekulised form); a molecule RDKit will not sanitise keeps what it
// has, with aromaticity perceived as far as that goes.
std::unique_ptr<RDKit::ROMol> fingerprint_molecule(const RDKit::ROMol& mol);

// The Morgan count fingerprint of `mol` as it is (see above for the form the
// network expects).
FingerprintCounts fingerprint_counts(const RDKit::ROMol& mol);

// The network's outputs by m/z 0..size-1, size = min(span, M + above_mass + 1)
// (empty for M < 0).
struct NetworkSpectrum {
  std::vector<double> mixed;    // y
  std::vector<double> forward;  // relu(F)
  std::vector<double> reverse;  // relu(R(M - m/z)), 0 where the loss is out of range
  double mixed_max = 0, forward_max = 0, reverse_max = 0;
};

NetworkSpectrum fingerprint_network(const FingerprintCounts& counts, int nominal_mass);

// fingerprint_network(fingerprint_counts(*fingerprint_molecule(mol)), nominal_mass).
NetworkSpectrum fingerprint_network(const RDKit::ROMol& mol, int nominal_mass);

// The network's share of the EI model's combined intensities (how the two
// combine, ion by ion: ei_model.h).
double fingerprint_network_share();

// The exponent on the network's intensities (each over its base, y^2 /
// max y^2) where they join the ion model's; above 1 it sharpens them. (The
// ion side's own exponent, chosen with these two, is built into its weight
// table: ei_weights.h.)
double fingerprint_network_exponent();

// The fitted network's sizes.
struct FingerprintNetworkShape {
  int radius = 0;
  int inputs = 0;   // environments of the vocabulary
  int hidden = 0;   // hidden units of each member
  int members = 0;  // networks averaged
  int span = 0;
  int above_mass = 0;
};
FingerprintNetworkShape fingerprint_network_shape();

}  // namespace tessarin::prediction
