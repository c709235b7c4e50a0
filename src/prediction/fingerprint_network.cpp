#include "prediction/fingerprint_network.h"

#include <GraphMol/Fingerprints/MorganFingerprints.h>
#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "prediction/fingerprint_network_data.h"

namespace tessarin::prediction {
namespace {

// A matrix decoded into doubles, row-major.
struct Dense {
  int rows = 0;
  int cols = 0;
  std::vector<double> w;
  std::vector<double> bias;
};

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;  // padding
}

Dense decode(const network_data::Matrix& m) {
  Dense d;
  d.rows = m.rows;
  d.cols = m.cols;
  const std::size_t n = static_cast<std::size_t>(m.rows) * static_cast<std::size_t>(m.cols);
  std::vector<signed char> q;
  q.reserve(n + 2);
  unsigned bits = 0;
  int have = 0;
  for (int k = 0; k < m.chunk_count; ++k) {
    for (char c : std::string_view(m.chunks[k])) {
      const int v = base64_value(c);
      if (v < 0) continue;
      bits = (bits << 6) | static_cast<unsigned>(v);
      have += 6;
      if (have >= 8) {
        have -= 8;
        const auto byte = static_cast<unsigned char>((bits >> have) & 0xFFu);
        q.push_back(static_cast<signed char>(byte));
      }
    }
  }
  if (q.size() != n) throw std::logic_error("fingerprint network: a weight matrix has the wrong size");
  d.w.resize(n);
  for (std::size_t r = 0; r < static_cast<std::size_t>(m.rows); ++r) {
    for (std::size_t c = 0; c < static_cast<std::size_t>(m.cols); ++c) {
      const std::size_t i = r * static_cast<std::size_t>(m.cols) + c;
      d.w[i] = static_cast<double>(q[i]) * m.scale[c];
    }
  }
  d.bias.assign(m.bias, m.bias + m.cols);
  return d;
}

struct Member {
  Dense hidden, forward, reverse, gate;
};

const std::vector<Member>& network() {
  static const std::vector<Member> members = [] {
    std::vector<Member> out;
    for (int k = 0; k < network_data::kMembers; ++k) {
      const network_data::Member& m = network_data::kNetworks[k];
      out.push_back({decode(m.hidden), decode(m.forward), decode(m.reverse), decode(m.gate)});
    }
    return out;
  }();
  return members;
}

// bias[c] + sum_j h[j] m[j][c] for the columns first..first+n-1, summed over
// j in ascending order.
std::vector<double> columns(const Dense& m, const std::vector<double>& h, int first, int n) {
  std::vector<double> out(m.bias.begin() + first, m.bias.begin() + first + n);
  const auto cols = static_cast<std::size_t>(m.cols);
  for (std::size_t j = 0; j < h.size(); ++j) {
    if (h[j] == 0.0) continue;
    const double* row = m.w.data() + j * cols + static_cast<std::size_t>(first);
    for (std::size_t c = 0; c < out.size(); ++c) out[c] += h[j] * row[c];
  }
  return out;
}

}  // namespace

std::unique_ptr<RDKit::ROMol> fingerprint_molecule(const RDKit::ROMol& mol) {
  auto copy = std::make_unique<RDKit::RWMol>(mol);
  try {
    RDKit::MolOps::removeHs(*copy);
    RDKit::MolOps::sanitizeMol(*copy);
  } catch (const std::exception&) {
    // a molecule RDKit will not sanitise: keep it as it is, rings and
    // aromaticity perceived as far as that goes
    copy = std::make_unique<RDKit::RWMol>(mol);
    try {
      RDKit::MolOps::removeHs(*copy, false, false, false);
    } catch (const std::exception&) {
      copy = std::make_unique<RDKit::RWMol>(mol);
    }
    copy->updatePropertyCache(false);
    try {
      copy->getRingInfo()->reset();
      RDKit::MolOps::findSSSR(*copy);
      RDKit::MolOps::setAromaticity(*copy);
    } catch (const std::exception&) {
      // keep what was perceived
    }
  }
  return copy;
}

FingerprintCounts fingerprint_counts(const RDKit::ROMol& mol) {
  std::unique_ptr<RDKit::ROMol> copy;
  const RDKit::ROMol* m = &mol;
  if (!mol.getRingInfo()->isInitialized()) {
    copy = std::make_unique<RDKit::ROMol>(mol);
    RDKit::MolOps::findSSSR(*copy);
    m = copy.get();
  }
  const std::unique_ptr<RDKit::SparseIntVect<std::uint32_t>> fp(
      RDKit::MorganFingerprints::getFingerprint(*m, static_cast<unsigned>(network_data::kRadius)));
  FingerprintCounts out;
  for (const auto& [id, count] : fp->getNonzeroElements()) out.emplace_back(id, count);
  return out;  // std::map order: ascending id
}

NetworkSpectrum fingerprint_network(const FingerprintCounts& counts, int nominal_mass) {
  NetworkSpectrum out;
  if (nominal_mass < 0) return out;
  const int span = network_data::kSpan;
  const int size = std::min(span, nominal_mass + network_data::kAboveMass + 1);
  out.mixed.assign(static_cast<std::size_t>(size), 0.0);
  out.forward.assign(static_cast<std::size_t>(size), 0.0);
  out.reverse.assign(static_cast<std::size_t>(size), 0.0);

  // The input: (vocabulary row, value) of the environments present, in
  // ascending vocabulary order.
  std::vector<std::pair<std::size_t, double>> inputs;
  const std::uint32_t* vocab = network_data::kEnvironments;
  const std::uint32_t* vocab_end = vocab + network_data::kInputs;
  for (const auto& [id, count] : counts) {
    const std::uint32_t* it = std::lower_bound(vocab, vocab_end, id);
    if (it == vocab_end || *it != id || count <= 0) continue;
    inputs.emplace_back(static_cast<std::size_t>(it - vocab),
                        network_data::kCountValue[std::min(count, network_data::kMaxCount)]);
  }

  // The losses M - m/z of m/z 0..size-1 that the reverse head has.
  const int loss_low = std::max(0, nominal_mass - size + 1);
  const int loss_high = std::min(nominal_mass, span - 1);
  // The members' outputs are added in member order, then divided by their
  // number.
  for (const Member& net : network()) {
    // Hidden layer: the bias, then the rows of the environments present.
    const auto hidden = static_cast<std::size_t>(net.hidden.cols);
    std::vector<double> h(net.hidden.bias);
    for (const auto& [row, x] : inputs) {
      const double* w = net.hidden.w.data() + row * hidden;
      for (std::size_t j = 0; j < hidden; ++j) h[j] += x * w[j];
    }
    for (double& v : h) v = std::max(v, 0.0);

    const std::vector<double> f = columns(net.forward, h, 0, size);
    const std::vector<double> g = columns(net.gate, h, 0, size);
    const std::vector<double> r =
        loss_high >= loss_low ? columns(net.reverse, h, loss_low, loss_high - loss_low + 1) : std::vector<double>{};
    for (int mz = 0; mz < size; ++mz) {
      const auto i = static_cast<std::size_t>(mz);
      const int loss = nominal_mass - mz;
      const double rv = loss >= loss_low && loss <= loss_high ? r[static_cast<std::size_t>(loss - loss_low)] : 0.0;
      const double gate = 1.0 / (1.0 + std::exp(-g[i]));
      out.mixed[i] += std::max(gate * f[i] + (1.0 - gate) * rv, 0.0);
      out.forward[i] += std::max(f[i], 0.0);
      out.reverse[i] += std::max(rv, 0.0);
    }
  }
  const auto members = static_cast<double>(network().size());
  for (std::size_t i = 0; i < out.mixed.size(); ++i) {
    out.mixed[i] /= members;
    out.forward[i] /= members;
    out.reverse[i] /= members;
    out.mixed_max = std::max(out.mixed_max, out.mixed[i]);
    out.forward_max = std::max(out.forward_max, out.forward[i]);
    out.reverse_max = std::max(out.reverse_max, out.reverse[i]);
  }
  return out;
}

NetworkSpectrum fingerprint_network(const RDKit::ROMol& mol, int nominal_mass) {
  return fingerprint_network(fingerprint_counts(*fingerprint_molecule(mol)), nominal_mass);
}

double fingerprint_network_share() { return network_data::kNetworkShare; }

double fingerprint_network_exponent() { return network_data::kNetworkExponent; }

FingerprintNetworkShape fingerprint_network_shape() {
  return {network_data::kRadius,  network_data::kInputs, network_data::kNetworks[0].hidden.cols,
          network_data::kMembers, network_data::kSpan,   network_data::kAboveMass};
}

}  // namespace tessarin::prediction
