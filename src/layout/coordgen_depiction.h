// CoordGen's 2D coordinates for a molecule, the same for the same molecule
// whatever was depicted before it in the process and whatever other threads
// depict at the same time.
#pragma once

namespace RDKit {
class ROMol;
}

namespace tessarin::layout {

// Replaces the conformers of `mol` with CoordGen's depiction (coordinates in
// RDKit's units, centred on the centroid of the heavy atoms) and returns its
// id: what RDKit's CoordGen depiction gives for a molecule depicted first in a
// fresh process, with CoordGen's allocations in a DepictionHeap of the thread.
// Touches no process-wide setting of RDKit's.
unsigned int coordgen_depiction(RDKit::ROMol& mol);

}  // namespace tessarin::layout
