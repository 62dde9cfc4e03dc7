#pragma once
// The results with their metadata, in the format a user picks: txt (the original results file: GBK,
// CR LF, keywords only), csv (UTF-8 with a byte-order mark, CR LF, header
// keyword,source,main_word,parent,depth,time,source_index; a cell that begins like a formula, with
// =, +, -, @, TAB or CR, gets a leading '), jsonl (one object per line with the same keys) or
// xlsx (one sheet, the same columns). source_index is the service's index in the source list, as
// the run's report gives it; empty (null) when the name is not known or two services share it.
// Extra columns (hits, root words) follow it. A file is written whole to a temporary name and
// renamed.

#include "engine/core/controls.h"
#include "engine/core/records.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

enum class ExportFormat { Txt, Csv, Jsonl, Xlsx };

std::optional<ExportFormat> parseExportFormat(std::string_view name); // "txt", "csv", "jsonl", "xlsx"
std::string_view exportFormatName(ExportFormat format);
std::string_view exportExtension(ExportFormat format); // ".txt", ...

// A service's index by the name its results carry (GBK).
using SourceIndexes = std::map<Text, int>;
// From (index, name) pairs; a name two services share is left out, as it tells neither.
SourceIndexes sourceIndexesOf(const std::vector<std::pair<int, Text>>& names);

// Columns after the standard ones, a cell (UTF-8) per record: hits, root words, tags. A numeric
// column is written as numbers in jsonl and xlsx. The txt file has no columns and ignores them.
struct ExtraColumn {
    std::string name;
    std::vector<std::string> cells;
    bool numeric = false;
};
using ExtraColumns = std::vector<ExtraColumn>;

// The hits and services of records whose run counted them; none when it did not.
ExtraColumns hitColumns(const std::vector<ResultRecord>& records);

// Records gathered under a name (a root word, a tag): indexes into the records.
struct ResultGroup {
    std::string name; // UTF-8
    std::vector<std::size_t> members;
};

// The bytes of a txt, csv or jsonl file (xlsx is a zip; see writeResultsFile).
// The standard columns end with source_index, the service's index (empty, or null in jsonl, when
// `indexes` does not tell it).
std::string formatResults(const std::vector<ResultRecord>& records, ExportFormat format,
                          const SourceIndexes& indexes = {}, const ExtraColumns& extra = {});

// False with *error (UTF-8) when the file cannot be written; the file is then as before. The name
// is checked first (see export_target.h): a symlink is written through, keeping its target's mode;
// a directory, anything but a regular file, and any of `protectedFiles` are refused untouched.
bool writeResultsFile(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                      ExportFormat format, std::string* error,
                      const std::vector<std::filesystem::path>& protectedFiles = {},
                      const SourceIndexes& indexes = {}, const ExtraColumns& extra = {});

// Groups of results, written as writeResultsFile writes results: txt as a block per group (its name
// in 【】 with its size, then its phrases, GBK, CR LF), csv and jsonl with a last column `group`,
// xlsx with a sheet per group (the sheet named after it, made unique and valid).
bool writeGroupedResults(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                         const std::vector<ResultGroup>& groups, ExportFormat format, std::string* error,
                         const std::vector<std::filesystem::path>& protectedFiles = {},
                         const SourceIndexes& indexes = {}, const ExtraColumns& extra = {});

// The format 编辑框_导出格式 names; txt when empty; nullopt when it names none.
std::optional<ExportFormat> chosenExportFormat(const Controls& controls);

// The export action in a rich format: `records` written beside the results file `resultsPathText`
// (GBK), with the format's extension in place of .txt, and the same notice a save shows. The file
// when written.
std::optional<std::filesystem::path> exportRichResults(Controls& controls, const std::vector<ResultRecord>& records,
                                                       ExportFormat format, const Text& resultsPathText,
                                                       std::string* failure = nullptr,
                                                       const SourceIndexes& indexes = {}, const ExtraColumns& extra = {});

} // namespace zelkor
