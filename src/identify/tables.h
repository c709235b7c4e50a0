// The drivers' results as tab-separated tables (one header line, one row a
// line; a field's tabs and line breaks become blanks, a missing value is an
// empty field, scores have four decimals) and the evaluation's summary.
#pragma once

#include <string>
#include <vector>

#include "identify/evaluate.h"
#include "identify/library_search.h"
#include "identify/rank.h"
#include "spectra/reader.h"
#include "spectra/search.h"

namespace tessarin::identify {

// rank, score, matched, name, smiles, formula; with `mass_hypotheses` also
// mass_hypothesis and mass_score (the hypothesis of the row's mass and its
// score, RankedCandidate::mass) and rank_score (RankedCandidate::rank_score,
// what orders the rows across the hypotheses).
std::string ranking_header(bool mass_hypotheses = false);
std::string ranking_row(const RankedCandidate& row, bool mass_hypotheses = false);

// query, query_name, rank, score, matched, library_index, name, smiles,
// formula: one row per hit (a query without hits has none); with
// `mass_hypotheses` also mass_hypothesis and mass_score, of the hypothesis
// the hit was found among, and rank_score, what orders the hits across the
// hypotheses (QueryResult::hit_hypotheses; the rows give
// them when the result has them).
std::string hits_header(bool mass_hypotheses = false);
std::string hits_rows(const spectra::SpectralLibrary& library, const QueryResult& result);
// The same rows with the metadata of each hit's library entry given
// (*entries[k] for result.hits[k]), for a library searched in shards elsewhere.
std::string hits_rows(const QueryResult& result, const std::vector<const spectra::Metadata*>& entries);

// record, file, line, accession, name, smiles, formula, nominal_mass, score,
// recall_at_5, precision, base_peak_hit, candidates, rank, top1, top3,
// reciprocal_rank, error
std::string evaluation_header();
std::string evaluation_row(const EvaluatedSpectrum& spectrum);

// The means, each with the number of spectra it is taken over.
std::string evaluation_summary(const Evaluation& evaluation, const EvaluateOptions& options);

// Records that could not be read (file, line, reason) and molecules that
// failed (line, smiles, reason: batch::error_header's columns).
std::string record_error_header();
std::string record_error_row(const spectra::RecordError& error);

// The score described in words: "cosine (m/z^0 * I^0.5, tolerance 0.5)".
std::string score_description(const spectra::SimilarityOptions& options);

}  // namespace tessarin::identify
