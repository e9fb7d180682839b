#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vistrelle::base {

// The texts of one language: named tables ("Localizable" by default), each
// mapping a key (the Chinese text the code is written with) to its translation.
class LocalizedTextTable {
 public:
  static constexpr std::string_view kDefaultTable = "Localizable";

  using Texts = std::map<std::string, std::string, std::less<>>;
  using Tables = std::map<std::string, Texts, std::less<>>;

  explicit LocalizedTextTable(Tables tables);

  // Reads {"<table>": {"<key>": "<text>", ...}, ...}; throws
  // std::invalid_argument naming what is wrong.
  static LocalizedTextTable fromJson(std::string_view json);

  // The translation of key in the named table (the default one when table is
  // none or empty), or none.
  std::optional<std::string_view> find(std::string_view key,
                                       std::optional<std::string_view> table = std::nullopt) const;

  const Tables& tables() const { return tables_; }

 private:
  Tables tables_;
};

}  // namespace vistrelle::base
