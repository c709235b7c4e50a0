#include "layout/coordgen_depiction.h"

#include <Geometry/Transform3D.h>
#include <GraphMol/Conformer.h>
#include <GraphMol/MolTransforms/MolTransforms.h>
#include <GraphMol/ROMol.h>
#include <RDGeneral/RDLog.h>
#include <coordgen/sketcherMinimizer.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "layout/depiction_heap.h"

namespace tessarin::layout {
namespace {

// What CoordGen keeps between depictions, and how each item is held steady:
//  - its table of ring-system templates (sketcherMinimizer::m_templates),
//    filled on first need without a lock and only read afterwards: filled here
//    once, before any depiction, in the process heap;
//  - the template directory, a static string written on every call that sets
//    one (RDKit sets it when RDBASE is set): never set here, the templates are
//    built into the library;
//  - the addresses of its objects, by which it orders some of them: every
//    allocation of a depiction comes from the thread's DepictionHeap, empty and
//    zeroed at the start of each depiction.
// It has no random generator, cache or setting of its own beyond these; the
// minimizer's settings live in each sketcherMinimizer.
void prepare_coordgen() {
  static std::once_flag once;
  std::call_once(once, [] {
    sketcherMinimizer::loadTemplates();
    route_library_allocations("libcoordgen.so");
  });
}

// RDKit's defaults for a CoordGen depiction: coarse precision, bond length 50
// in CoordGen's units, bonds to metals kept as they are.
constexpr float kPrecision = 0.01f;
constexpr double kScale = 50.0;

int coordgen_bond_order(const RDKit::Bond& bond) {
  switch (bond.getBondType()) {
    case RDKit::Bond::ZERO:
      return 0;
    case RDKit::Bond::SINGLE:
      return 1;
    case RDKit::Bond::DOUBLE:
      return 2;
    case RDKit::Bond::TRIPLE:
      return 3;
    case RDKit::Bond::AROMATIC:
      return 1;
    default:
      BOOST_LOG(rdWarningLog) << "unrecognized bond type" << std::endl;
      return 1;  // CoordGen's default
  }
}

}  // namespace

unsigned int coordgen_depiction(RDKit::ROMol& mol) {
  prepare_coordgen();
  const unsigned n = mol.getNumAtoms();
  // Inside the scope only CoordGen allocates: what this function allocates
  // there, it frees there with the process heap, and it keeps nothing of CoordGen's.
  std::vector<sketcherMinimizerAtom*> atoms;
  atoms.reserve(n);
  std::vector<RDGeom::Point3D> positions(n);
  try {  // the scope and everything CoordGen made in it end within
    DepictionHeapScope scope;
    sketcherMinimizer minimizer(kPrecision);
    // Owned by the minimizer from initialize() on; in the scope's heap like every other CoordGen object.
    auto* sketch = new (scope.allocate(sizeof(sketcherMinimizerMolecule))) sketcherMinimizerMolecule();
    minimizer.setTreatNonterminalBondsToMetalAsZOBs(false);
    for (const RDKit::Atom* a : mol.atoms()) {
      sketcherMinimizerAtom* atom = sketch->addNewAtom();
      atom->molecule = sketch;
      atom->atomicNumber = a->getAtomicNum();
      atom->charge = a->getFormalCharge();
    }
    for (const RDKit::Bond* b : mol.bonds()) {
      sketcherMinimizerBond* bond =
          sketch->addNewBond(sketch->_atoms[b->getBeginAtomIdx()], sketch->_atoms[b->getEndAtomIdx()]);
      bond->bondOrder = coordgen_bond_order(*b);
    }
    if (sketch->_atoms.size() != n || sketch->_bonds.size() != mol.getNumBonds()) {
      throw std::logic_error("CoordGen did not keep the atoms and bonds in the order they were added");
    }
    // The library's own vectors, so that anything it reallocates stays in its heap.
    sketcherMinimizerMolecule::assignBondsAndNeighbors(sketch->_atoms, sketch->_bonds);
    for (const RDKit::Bond* b : mol.bonds()) {
      const RDKit::Bond::BondStereo stereo = b->getStereo();
      if (b->getBondType() != RDKit::Bond::DOUBLE || stereo <= RDKit::Bond::STEREOANY ||
          stereo > RDKit::Bond::STEREOTRANS || b->getStereoAtoms().size() < 2) {
        continue;
      }
      sketcherMinimizerBondStereoInfo info;
      info.atom1 = sketch->_atoms[b->getStereoAtoms()[0]];
      info.atom2 = sketch->_atoms[b->getStereoAtoms()[1]];
      info.stereo = stereo == RDKit::Bond::STEREOZ || stereo == RDKit::Bond::STEREOCIS
                        ? sketcherMinimizerBondStereoInfo::cis
                        : sketcherMinimizerBondStereoInfo::trans;
      sketcherMinimizerBond* bond = sketch->_bonds[b->getIdx()];
      bond->setStereoChemistry(info);
      bond->setAbsoluteStereoFromStereoInfo();
    }
    atoms.assign(sketch->_atoms.begin(), sketch->_atoms.end());  // in RDKit's order; the minimizer reorders its own
    minimizer.initialize(sketch);
    minimizer.runGenerateCoordinates();
    for (unsigned i = 0; i < n; ++i) {
      positions[i] = RDGeom::Point3D(atoms[i]->coordinates.x() / kScale, atoms[i]->coordinates.y() / kScale, 0.0);
    }
  } catch (const std::bad_alloc&) {
    throw InsufficientMemory("CoordGen ran out of memory depicting a molecule of " + std::to_string(n) +
                             " atoms (its heap is limited to an eighth of the address-space limit, if one is set)");
  }
  auto conf = std::make_unique<RDKit::Conformer>(n);
  for (unsigned i = 0; i < n; ++i) conf->setAtomPos(i, positions[i]);
  conf->set3D(false);
  mol.clearConformers();
  RDKit::Conformer* kept = conf.get();
  const unsigned int id = mol.addConformer(conf.release(), true);
  RDGeom::Point3D centroid = MolTransforms::computeCentroid(*kept);
  centroid *= -1;
  RDGeom::Transform3D shift;
  shift.SetTranslation(centroid);
  MolTransforms::transformConformer(*kept, shift);
  return id;
}

}  // namespace tessarin::layout
