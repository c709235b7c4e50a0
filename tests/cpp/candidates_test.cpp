// Candidate sources: the formulas of a nominal mass held against a plain
// enumeration of the same rules, parent structures, the reply cache and the
// readings of search replies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "identify/candidates.h"
#include "identify/molecular_formulas.h"
#include "identify/structure.h"
#include "pubchem/reply.h"
#include "pubchem/reply_cache.h"

namespace tessarin {
namespace {

struct Element {
  std::string symbol;
  int mass, valence;
  double per_carbon;  // 0: no bound
  int cap;            // 0: none
  bool rare;
};

// Every formula of `mass` over `elements`, by trying every count of every
// element, with the rules as formulas_of_nominal_mass documents them.
std::set<std::string> every_formula(int mass, const std::vector<Element>& elements) {
  std::set<std::string> out;
  std::vector<int> n(elements.size(), 0);
  auto visit = [&](auto&& self, std::size_t i, int left) -> void {
    if (i < elements.size()) {
      for (int k = 0; k * elements[i].mass <= left; ++k) {
        n[i] = k;
        self(self, i + 1, left - k * elements[i].mass);
      }
      n[i] = 0;
      return;
    }
    const int h = left;  // hydrogen fills the rest
    std::map<std::string, int> counts;
    int twice_rdbe = 2 - h, kinds = 0, rare = 0;
    for (std::size_t e = 0; e < elements.size(); ++e) {
      if (n[e] == 0) continue;
      counts[elements[e].symbol] = n[e];
      twice_rdbe += n[e] * (elements[e].valence - 2);
    }
    const int c = counts.count("C") ? counts["C"] : 0;
    if (c < 1 || twice_rdbe < 0 || twice_rdbe % 2 != 0) return;
    for (std::size_t e = 0; e < elements.size(); ++e) {
      const Element& el = elements[e];
      if (n[e] == 0 || el.symbol == "C") continue;
      if ((el.per_carbon > 0 && n[e] > el.per_carbon * c) || (el.cap > 0 && n[e] > el.cap)) return;
      ++kinds;
      rare += el.rare ? 1 : 0;
    }
    if (kinds > 4 || rare > 3) return;
    std::string text = "C" + (c > 1 ? std::to_string(c) : "");
    if (h > 0) text += "H" + (h > 1 ? std::to_string(h) : "");
    for (const auto& [symbol, k] : counts) {
      if (symbol != "C") text += symbol + (k > 1 ? std::to_string(k) : "");
    }
    out.insert(text);
  };
  visit(visit, 0, mass);
  return out;
}

TEST(CandidateFormulas, AreEveryFormulaTheRulesAllowAndNoOther) {
  const std::vector<Element> some = {{"C", 12, 4, 0, 0, false}, {"N", 14, 3, 4, 0, false},  {"O", 16, 2, 3, 0, false},
                                     {"S", 32, 2, 3, 4, true},  {"Cl", 35, 1, 0, 12, true}, {"Br", 79, 1, 0, 8, true}};
  const std::vector<Element> all = {{"C", 12, 4, 0, 0, false}, {"N", 14, 3, 4, 0, false},  {"O", 16, 2, 3, 0, false},
                                    {"S", 32, 2, 3, 4, true},  {"P", 31, 3, 2, 3, true},   {"Si", 28, 4, 1, 6, true},
                                    {"F", 19, 1, 0, 0, true},  {"Cl", 35, 1, 0, 12, true}, {"Br", 79, 1, 0, 8, true},
                                    {"I", 127, 1, 0, 4, true}};
  for (int mass = 1; mass <= 200; ++mass) {
    const bool wide = mass <= 140;
    const std::vector<std::string> symbols =
        wide ? std::vector<std::string>{} : std::vector<std::string>{"C", "H", "N", "O", "S", "Cl", "Br"};
    const identify::FormulaList list = identify::formulas_of_nominal_mass(mass, symbols, 1'000'000);
    const std::set<std::string> expected = every_formula(mass, wide ? all : some);
    EXPECT_EQ(std::set<std::string>(list.formulas.begin(), list.formulas.end()), expected) << mass;
    EXPECT_EQ(list.total, expected.size()) << mass;
    EXPECT_EQ(list.formulas.size(), expected.size()) << mass;  // no formula twice
    for (const std::string& f : list.formulas) {
      const std::map<std::string, long long> counts = identify::formula_counts(f);
      const long long n = counts.count("N") ? counts.at("N") : 0;
      EXPECT_EQ(mass % 2, n % 2) << f;  // the nitrogen rule
    }
    // The first few are the first few of the whole list.
    const identify::FormulaList few = identify::formulas_of_nominal_mass(mass, symbols, 5);
    ASSERT_EQ(few.total, list.total);
    EXPECT_TRUE(std::equal(few.formulas.begin(), few.formulas.end(), list.formulas.begin())) << mass;
  }
  const std::vector<std::string> benzenes = identify::formulas_of_nominal_mass(78, {}, 3).formulas;
  EXPECT_EQ(benzenes.front(), "C6H6");
  EXPECT_EQ(identify::formulas_of_nominal_mass(106, {}, 1).formulas, std::vector<std::string>{"C8H10"});
  const std::vector<std::string> chlorides = identify::formulas_of_nominal_mass(152, {"C", "Cl"}, 10).formulas;
  EXPECT_EQ(chlorides, std::vector<std::string>{"CCl4"});
  EXPECT_TRUE(identify::formulas_of_nominal_mass(16, {"C", "O"}, 10).formulas.empty());  // no CH4 without H
  EXPECT_THROW(identify::formulas_of_nominal_mass(100, {"H", "O"}, 10), InvalidInput);
  EXPECT_THROW(identify::formulas_of_nominal_mass(100, {"C", "Na"}, 10), InvalidInput);
  EXPECT_THROW(identify::formulas_of_nominal_mass(0, {}, 10), InvalidInput);
  EXPECT_THROW(identify::formulas_of_nominal_mass(identify::kMaxFormulaMass + 1, {}, 10), InvalidInput);
}

TEST(CandidateParents, SaltsAndChargesGoStereoAndNitroGroupsStay) {
  struct Case {
    const char* smiles;
    const char* parent;
    bool changed;
  };
  const std::vector<Case> cases = {
      {"C[C@@H](C(=O)O)N", "CC(N)C(=O)O", false},
      {"CN.Cl", "CN", true},
      {"CC(=O)[O-].[Na+]", "CC(=O)O", true},
      {"[NH3+]CC(=O)[O-]", "NCC(=O)O", true},
      {"O=[N+]([O-])c1ccccc1", "O=[N+]([O-])c1ccccc1", false},
      {"C[N+](C)(C)C.[Cl-]", "C[N+](C)(C)C", true},
      {"OC(=O)C(O)C(O)C(=O)O.CN1CCC[C@H]1c1cccnc1", "CN1CCCC1c1cccnc1", true},
      {"O.O.CCO", "CCO", true},
      {"F/C=C/F", "FC=CF", false},
  };
  for (const Case& c : cases) {
    const std::optional<identify::ParentStructure> p = identify::parent_structure(c.smiles);
    ASSERT_TRUE(p) << c.smiles;
    EXPECT_EQ(p->smiles, c.parent) << c.smiles;
    EXPECT_EQ(p->changed, c.changed) << c.smiles;
    EXPECT_EQ(p->composition.formula, identify::composition_of(c.parent)->formula) << c.smiles;
  }
  EXPECT_FALSE(identify::parent_structure("C1CC("));
  EXPECT_FALSE(identify::parent_structure(""));
  EXPECT_FALSE(identify::parent_structure("[Xx]"));
  EXPECT_FALSE(identify::parent_structure("*CC*"));

  // A salt named first and with the lowest CID still gives way to the parent itself.
  identify::CandidateCounts counts;
  const std::vector<identify::Candidate> kept = identify::reduce_to_parents(
      {{"CN.Cl", "methylamine hydrochloride", 5}, {"CN", "methylamine", 6329}, {"C[NH3+]", "methylammonium", 3}}, {},
      counts);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].name, "methylamine");
  EXPECT_EQ(kept[0].cid, 6329);
  EXPECT_EQ(counts.salts, 2u);
  EXPECT_EQ(counts.found, 3u);
}

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessarin-cache-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
    path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(PubchemReplyCache, KeepsRepliesByUrlWholeAndNeverAnotherUrlsReply) {
  TemporaryDirectory tmp;
  const pubchem::ReplyCache cache(tmp.path() + "/a/b");
  const std::string url = "http://127.0.0.1:1/rest/pug/compound/fastformula/C8H10/property/X/JSON?MaxRecords=5";
  EXPECT_FALSE(cache.find(url));
  const std::string body("{\"a\": 1}\n\0\r\nmore", 17);
  ASSERT_TRUE(cache.store(url, {404, body}));
  const std::optional<pubchem::HttpReply> kept = cache.find(url);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->status, 404);
  EXPECT_EQ(kept->body, body);
  EXPECT_FALSE(cache.find(url + "0"));

  // Another URL's reply at this URL's file (as a hash shared by both would put it) is no answer.
  const std::string other = url + "&x";
  ASSERT_TRUE(cache.store(other, {200, "{}"}));
  std::filesystem::copy_file(cache.path_of(other), cache.path_of(url),
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_FALSE(cache.find(url));
  EXPECT_TRUE(cache.find(other));
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(cache.dir())) {
    EXPECT_EQ(entry.path().extension(), ".reply") << entry.path();
  }
  // A directory that cannot be written to keeps nothing, and says so.
  if (::geteuid() != 0) {
    std::filesystem::permissions(cache.dir(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(cache.store(url, {200, "{}"}));
  }
  EXPECT_FALSE(pubchem::ReplyCache("").store(url, {200, "{}"}));
  EXPECT_FALSE(pubchem::ReplyCache(tmp.path() + "/file/under/a/file").store(url + "\n", {200, "{}"}));
}

TEST(PubchemSearchReply, ReadsEveryStateOfASearch) {
  using Kind = pubchem::SearchReply::Kind;
  const auto read = [](long status, const std::string& body, std::size_t most = 100) {
    return pubchem::read_search_reply("formula C8H10", {status, body}, most);
  };
  const pubchem::SearchReply waiting = read(202, R"({"Waiting": {"ListKey": 123456789012, "Message": "running"}})");
  EXPECT_EQ(waiting.kind, Kind::waiting);
  EXPECT_EQ(waiting.list_key, "123456789012");
  EXPECT_EQ(read(404, R"({"Fault": {"Code": "PUGREST.NotFound", "Message": "No CID found"}})").kind, Kind::not_found);
  EXPECT_EQ(read(503, "<html>busy</html>").kind, Kind::busy);
  EXPECT_EQ(read(500, R"({"Fault": {"Code": "PUGREST.ServerBusy"}})").kind, Kind::busy);
  const pubchem::SearchReply table = read(200, R"({"PropertyTable": {"Properties": [
      {"CID": 7500, "MolecularFormula": "C8H10", "CanonicalSMILES": "CCC1=CC=CC=C1", "Title": "Ethylbenzene"},
      {"CID": 7237, "SMILES": "CC1=CC=CC=C1C", "ConnectivitySMILES": "x"}, {"CID": 1}]}})",
                                          2);
  ASSERT_EQ(table.records.size(), 2u);
  EXPECT_EQ(table.records[0].smiles, "CCC1=CC=CC=C1");
  EXPECT_EQ(table.records[0].title, "Ethylbenzene");
  EXPECT_EQ(table.records[1].smiles, "CC1=CC=CC=C1C");
  try {
    read(400, R"({"Fault": {"Code": "PUGREST.BadRequest", "Message": "Bad", "Details": ["formula"]}})");
    ADD_FAILURE();
  } catch (const pubchem::ServiceFault& e) {
    EXPECT_EQ(std::string(e.what()), "PubChem: PUGREST.BadRequest (HTTP 400): Bad; formula");
    EXPECT_EQ(e.status(), 400);
  }
  EXPECT_THROW(read(500, "oops"), pubchem::ServiceFault);
  EXPECT_THROW(read(200, "oops"), pubchem::MalformedReply);
  EXPECT_THROW(read(200, R"({"Waiting": {}})"), InvalidInput);
  EXPECT_THROW(read(200, R"({"Other": 1})"), InvalidInput);
}

}  // namespace
}  // namespace tessarin
