#include "base/helpers/localized_text_table.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace vistrelle::base {

LocalizedTextTable::LocalizedTextTable(Tables tables) : tables_(std::move(tables)) {}

LocalizedTextTable LocalizedTextTable::fromJson(std::string_view json) {
  const nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
  if (document.is_discarded()) throw std::invalid_argument("text table is not valid JSON");
  if (!document.is_object()) throw std::invalid_argument("text table is not a JSON object");
  Tables tables;
  for (const auto& [tableName, entries] : document.items()) {
    if (!entries.is_object()) {
      throw std::invalid_argument("text table \"" + tableName + "\" is not a JSON object");
    }
    Texts& texts = tables[tableName];
    for (const auto& [key, text] : entries.items()) {
      if (!text.is_string()) {
        throw std::invalid_argument("text of \"" + key + "\" in table \"" + tableName +
                                    "\" is not a string");
      }
      texts.emplace(key, text.get<std::string>());
    }
  }
  return LocalizedTextTable(std::move(tables));
}

std::optional<std::string_view> LocalizedTextTable::find(
    std::string_view key, std::optional<std::string_view> table) const {
  const std::string_view name = table && !table->empty() ? *table : kDefaultTable;
  const auto texts = tables_.find(name);
  if (texts == tables_.end()) return std::nullopt;
  const auto text = texts->second.find(key);
  if (text == texts->second.end()) return std::nullopt;
  return std::string_view(text->second);
}

}  // namespace vistrelle::base
