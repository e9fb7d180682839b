#include "netlocal/companion/mac_family.h"

#include <fstream>
#include <initializer_list>

namespace vistrelle::netlocal {

namespace {

enum class Match { Exact, Contains };

struct Row {
  const char* family;
  Match match;
  std::initializer_list<const char*> identifiers;
};

// In the order the rows are tried.
const std::initializer_list<Row> kRows = {
    {"Mac mini", Match::Exact, {"Macmini9,1"}},
    {"iMac", Match::Exact, {"iMac21,1", "iMac21,2"}},
    {"Mac Studio", Match::Exact, {"Mac13,1", "Mac13,2"}},
    {"Mac mini", Match::Contains, {"Mac14,3", "Mac14,12", "Mac16,10", "Mac16,11"}},
    {"Mac Pro", Match::Exact, {"Mac14,8"}},
    {"Mac Studio", Match::Exact, {"Mac14,13", "Mac14,14"}},
    {"iMac", Match::Exact, {"Mac15,4", "Mac15,5"}},
    {"MacBook Air", Match::Exact, {"MacBookAir10,1"}},
    {"MacBook Pro",
     Match::Exact,
     {"MacBookPro17,1", "MacBookPro18,3", "MacBookPro18,4", "MacBookPro18,1", "MacBookPro18,2"}},
    {"MacBook Air", Match::Exact, {"Mac14,2"}},
    {"MacBook Pro",
     Match::Exact,
     {"Mac14,7", "Mac14,5", "Mac14,9", "Mac14,6", "Mac14,10", "Mac15,3", "Mac15,6", "Mac15,8",
      "Mac15,10", "Mac15,7", "Mac15,9", "Mac15,11"}},
    {"MacBook Air", Match::Exact, {"Mac15,12", "Mac15,13"}},
    {"iMac", Match::Exact, {"iMac18,1", "iMac18,2", "iMac18,3"}},
    {"iMac Pro", Match::Exact, {"iMacPro1,1"}},
    {"iMac", Match::Exact, {"iMac19,1", "iMac19,2", "iMac20,1", "iMac20,2"}},
    {"MacBook Pro",
     Match::Exact,
     {"MacBookPro14,1", "MacBookPro14,2", "MacBookPro14,3", "MacBookPro15,1", "MacBookPro15,2",
      "MacBookPro15,3", "MacBookPro15,4", "MacBookPro16,1", "MacBookPro16,4", "MacBookPro16,2",
      "MacBookPro16,3"}},
    {"MacBook Air",
     Match::Exact,
     {"MacBookAir7,2", "MacBookAir8,1", "MacBookAir8,2", "MacBookAir9,1"}},
    {"Mac mini", Match::Exact, {"Macmini7,1", "Macmini8,1"}},
    {"Mac Pro", Match::Exact, {"MacPro7,1"}},
    {"MacBook Pro", Match::Contains, {"MacBookPro"}},
    {"MacBook Air", Match::Contains, {"MacBookAir"}},
    {"Mac mini", Match::Contains, {"Macmini"}},
    {"iMac", Match::Contains, {"iMac"}},
};

}  // namespace

std::string macFamilyForModel(std::string_view modelIdentifier) {
  for (const Row& row : kRows) {
    for (const char* identifier : row.identifiers) {
      const bool matches = row.match == Match::Exact
                               ? modelIdentifier == identifier
                               : modelIdentifier.find(identifier) != std::string_view::npos;
      if (matches) return row.family;
    }
  }
  return "Mac";
}

std::string readHostModel(const std::string& productNamePath) {
  std::ifstream file(productNamePath);
  std::string line;
  if (!file || !std::getline(file, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace vistrelle::netlocal
