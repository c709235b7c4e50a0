// Most single-edge deletions can be judged from the intact graph alone, before
// any count of the edited graph:
//
//  - Isolation. When the intact graph has no zero eigenvalue and deleting
//    the edge leaves one of its ends without edges, the edited graph has the
//    isolated node's zero eigenvalue, so its counts differ: not soft.
//  - Rank-two update. Deleting the edge (u, v) of weight w adds U C U^T to
//    the adjacency matrix A, with U = [e_u e_v] and C = [[0, -w], [-w, 0]].
//    For a non-singular A, Haynsworth's inertia additivity applied to
//    [[A, U], [U^T, -C^-1]] gives
//        inertia(A + U C U^T) = inertia(A) + inertia(S) - (1, 0, 1),
//        S = -C^-1 - U^T A^-1 U = [[-a, 1/w - b], [1/w - b, -c]],
//    with a, b, c the (u,u), (u,v), (v,v) entries of A^-1. The counts stay
//    the same exactly when S has one positive and one negative eigenvalue,
//    that is when det S = a c - (1/w - b)^2 < 0.
//
// Both rules are exact in exact arithmetic. The counts, though, call every
// eigenvalue within tol of zero a zero, so "same inertia" means "same counts"
// only when the edited matrix has no eigenvalue that close. By Woodbury,
//        (A + U C U^T)^-1 = A^-1 + A^-1 U S^-1 U^T A^-1,
// whose norm is at most ||A^-1||_F + ||A^-1 U||_F^2 ||S||_F / |det S|; a soft
// verdict needs the reciprocal of that bound to clear tol by kClearMargin.
// (A not-soft verdict needs nothing more: when A has no eigenvalue within
// tol, a changed inertia cannot give back the same counts.)
//
// The screen only answers where the floating-point evidence is unambiguous
// (a well-conditioned A, and a det S far from zero relative to its terms);
// everything else is left undecided for the ordinary count.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "counts/index_graph.h"
#include "counts/lpi.h"

namespace tessarin::counts {

class EdgeRemovalScreen {
 public:
  enum class Verdict { soft, not_soft, undecided };

  // Largest graph whose inverse the screen computes (O(n^3) once).
  static constexpr int kMaxInverseNodes = 800;
  // Reciprocal condition number below which an inverse is not trusted.
  static constexpr double kMinRcond = 1e-6;
  // How far from zero, in multiples of tol, a lower bound on the smallest
  // eigenvalue magnitude must lie before the counts are taken as exact.
  static constexpr double kClearMargin = 1e3;

  // `baseline` are the counts every test is compared with (normally those of
  // the intact graph with this `tol`). The screen decides nothing unless
  // peeling_applies(graph, tol) and the baseline has no zero count; the
  // rank-two rule is used only when the baseline is the graph's own counts.
  EdgeRemovalScreen(const IndexGraph& graph, counts::LpiCounts baseline, double tol);

  Verdict judge(std::size_t edge_id) const;

  // The rank-two rule alone: the verdict on deleting an edge of weight w
  // (non-zero) between nodes u and v of a non-singular n x n matrix, given
  // its inverse (column-major, both triangles) and that inverse's Frobenius
  // norm. Undecided when det S is too close to zero to trust its sign, and a
  // soft verdict also when an eigenvalue of the edited matrix may lie within
  // kClearMargin * tol of zero.
  static Verdict rank_two(std::span<const double> inverse, std::size_t n, double inverse_norm, std::size_t u,
                          std::size_t v, double w, double tol);

  bool uses_inverse() const { return !inverse_.empty(); }

 private:
  const IndexGraph& graph_;
  bool active_ = false;
  double tol_ = 0.0;
  std::vector<double> inverse_;  // column-major, n x n, empty when not available
  double inverse_norm_ = 0.0;    // its Frobenius norm
};

}  // namespace tessarin::counts
