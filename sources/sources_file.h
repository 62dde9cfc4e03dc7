#pragma once
// The source table as a TOML document a user can read and edit: one [[source]] table per row,
// every field of the row as a key. A file mends built-in rows (only the keys it gives change) and
// may add rows after them.

#include "sources/source_table.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

using SourceRows = std::vector<SourceRow>;

// A sources file past this is refused unread.
inline constexpr std::size_t kMaxSourcesFileBytes = 1 << 20;

// The built-in rows, the table every sources file starts from.
SourceRows builtInSourceRows();

// The rows as a TOML document, a comment naming the service above each row. Reading the text back
// over any table gives these rows again.
std::string sourcesToml(const SourceRows& rows);

// `text` applied over `base`. A row whose index `base` has replaces only the keys it gives; a new
// row takes the next index after the last and must give every required key. On refusal: nullopt,
// and *error says "<fileName>:<line>:<column>: what is wrong". Text over kMaxSourcesFileBytes, or
// nested deeper than a sources file needs, is refused before it is parsed; any bytes at all are
// safe to give.
std::optional<SourceRows> applySourcesToml(std::string_view text, const std::string& fileName,
                                           SourceRows base, std::string* error = nullptr);

// A file applied over the built-in rows; an unreadable file is refused like a broken one.
std::optional<SourceRows> loadSourcesFile(const std::filesystem::path& file, std::string* error = nullptr);

// `file` when one is named, else <home>/data/sources.toml when present, else the built-in rows.
std::optional<SourceRows> loadSources(const std::filesystem::path& home, const std::filesystem::path& file,
                                      std::string* error = nullptr);

} // namespace zelkor
