#include "molecule/prepare_molecule.h"

#include <GraphMol/MolOps.h>
#include <GraphMol/RWMol.h>
#include <GraphMol/RingInfo.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <RDGeneral/RDLog.h>

#include <mutex>
#include <sstream>
#include <streambuf>

namespace tessarin::molecule {
namespace {

void record_flags(const RDKit::ROMol& mol, Perception& p) {
  p.aromatic_atoms.assign(mol.getNumAtoms(), 0);
  p.aromatic_bonds.assign(mol.getNumBonds(), 0);
  for (const RDKit::Atom* a : mol.atoms()) p.aromatic_atoms[a->getIdx()] = a->getIsAromatic() ? 1 : 0;
  for (const RDKit::Bond* b : mol.bonds()) p.aromatic_bonds[b->getIdx()] = b->getIsAromatic() ? 1 : 0;
}

// Aromaticity perceived on the Kekulé structure, which is then put back as
// it was: bond types and flags, so the molecule the analysis reads is the
// same with or without this look.
void perceive_on_kekule_structure(RDKit::RWMol& mol, Perception& p) {
  std::vector<RDKit::Bond::BondType> types;
  std::vector<char> bond_flags, atom_flags;
  types.reserve(mol.getNumBonds());
  for (const RDKit::Bond* b : mol.bonds()) {
    types.push_back(b->getBondType());
    bond_flags.push_back(b->getIsAromatic() ? 1 : 0);
  }
  for (const RDKit::Atom* a : mol.atoms()) atom_flags.push_back(a->getIsAromatic() ? 1 : 0);
  try {
    RDKit::MolOps::setAromaticity(mol);
    record_flags(mol, p);
  } catch (const std::exception&) {
    record_flags(mol, p);  // as far as perception got
  }
  for (RDKit::Bond* b : mol.bonds()) {
    b->setBondType(types[b->getIdx()]);
    b->setIsAromatic(bond_flags[b->getIdx()] != 0);
  }
  for (RDKit::Atom* a : mol.atoms()) a->setIsAromatic(atom_flags[a->getIdx()] != 0);
}

std::optional<PreparedMolecule> prepare(std::unique_ptr<RDKit::RWMol> mol) {
  if (!mol || mol->getNumAtoms() == 0) return std::nullopt;
  PreparedMolecule out;
  mol->updatePropertyCache(/*strict=*/false);
  bool kekulized = false;
  try {
    RDKit::MolOps::setAromaticity(*mol);
    RDKit::MolOps::Kekulize(*mol, /*markAtomsBonds=*/true);
    kekulized = true;
  } catch (const std::exception&) {
    // Keep the molecule as far as perception got.
  }
  if (kekulized) {
    perceive_on_kekule_structure(*mol, out.perception);
  } else {
    record_flags(*mol, out.perception);
  }
  if (mol->getRingInfo()->isInitialized()) {
    out.perception.rings = mol->getRingInfo()->atomRings();
  } else {
    // Found on a copy: the molecule the analysis reads keeps the state it has.
    RDKit::ROMol copy(*mol);
    RDKit::MolOps::findSSSR(copy, out.perception.rings);
  }
  RDKit::MolOps::addHs(*mol);
  out.perception.aromatic_atoms.resize(mol->getNumAtoms(), 0);
  out.perception.aromatic_bonds.resize(mol->getNumBonds(), 0);
  out.mol = std::move(mol);
  return out;
}

// RDKit writes its error log to one process-wide stream. This buffer gives
// what a thread writes to that thread's capture while it has one, and the
// rest to where the log went before.
thread_local std::string* t_capture = nullptr;

class CapturingBuffer : public std::streambuf {
 public:
  explicit CapturingBuffer(std::ostream* before) : before_(before) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    if (t_capture != nullptr) {
      t_capture->append(text, static_cast<std::size_t>(n));
    } else if (before_ != nullptr) {
      before_->write(text, n);
    }
    return n;
  }
  int sync() override {
    if (t_capture == nullptr && before_ != nullptr) before_->flush();
    return 0;
  }

 private:
  std::ostream* before_;
};

// RDKit's log lines without their "[12:34:56] " time stamps, joined by "; ".
std::string log_lines(const std::string& log) {
  std::string out;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 11 && line[0] == '[' && line[9] == ']' && line[10] == ' ') line.erase(0, 11);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    out += (out.empty() ? "" : "; ") + line;
  }
  return out;
}

}  // namespace

void route_rdkit_errors() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The log before, kept: its stream is where the rest goes. Without one (RDKit's logs not set
    // up, as in a program that does not ask for them) the rest goes nowhere, as it did.
    // Never destroyed: RDKit's own log object outlives every static here and
    // flushes its stream when the library is unloaded at exit.
    static const RDLogger* const before = new RDLogger(rdErrorLog);
    static CapturingBuffer* const buffer = new CapturingBuffer(*before ? (*before)->dp_dest : nullptr);
    static std::ostream* const stream = new std::ostream(buffer);
    auto routed = std::make_shared<boost::logging::rdLogger>(stream);
    routed->df_enabled = *before ? (*before)->df_enabled : true;
    rdErrorLog = routed;
  });
}

std::string smiles_error(const std::string& smiles, bool sanitise) {
  if (smiles.empty()) return "no SMILES";
  if (smiles.find('\0') != std::string::npos) return "the SMILES holds a NUL character";
  route_rdkit_errors();
  std::string log;
  std::string thrown;
  bool empty = false;
  t_capture = &log;
  try {
    std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(smiles, 0, sanitise));
    empty = mol && mol->getNumAtoms() == 0;
  } catch (const std::exception& e) {
    thrown = e.what();
  }
  t_capture = nullptr;
  std::string reason = log_lines(log);
  if (!thrown.empty() && reason.find(thrown) == std::string::npos) reason += (reason.empty() ? "" : "; ") + thrown;
  if (reason.empty()) {
    const bool silenced = rdErrorLog && !rdErrorLog->df_enabled;
    reason = empty      ? "the SMILES holds no atom"
             : silenced ? "unparsable SMILES (RDKit's error log, which says why, is disabled)"
                        : "unparsable SMILES";
  }
  return reason;
}

std::optional<PreparedMolecule> prepare(const std::string& smiles) {
  // The parser stops at a NUL character and would read only the text before
  // it; no SMILES contains one, so such a string does not parse.
  if (smiles.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::SmilesToMol(smiles, 0, /*sanitize=*/false));
  } catch (const std::exception&) {
    return std::nullopt;  // the parser's own errors mean the same as a failed parse
  }
  return prepare(std::move(mol));
}

std::unique_ptr<RDKit::ROMol> prepare_molecule(const std::string& smiles) {
  std::optional<PreparedMolecule> prepared = prepare(smiles);
  if (!prepared) return nullptr;
  return std::move(prepared->mol);
}

std::unique_ptr<RDKit::RWMol> read_smiles_leniently(const std::string& smiles, bool* sanitised) {
  if (smiles.find('\0') != std::string::npos) return nullptr;
  std::unique_ptr<RDKit::RWMol> mol;
  try {
    mol.reset(RDKit::SmilesToMol(smiles));
  } catch (const std::exception&) {
    mol.reset();
  }
  if (sanitised) *sanitised = mol != nullptr;
  if (!mol) {
    try {
      RDKit::SmilesParserParams params;  // explicit hydrogens removed, as a sanitised read does
      params.sanitize = false;
      mol.reset(RDKit::SmilesToMol(smiles, params));
      if (mol) {
        mol->updatePropertyCache(/*strict=*/false);
        RDKit::MolOps::fastFindRings(*mol);
      }
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  if (!mol || mol->getNumAtoms() == 0) return nullptr;
  return mol;
}

}  // namespace tessarin::molecule
