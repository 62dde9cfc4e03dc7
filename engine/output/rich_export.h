#pragma once
// The results with their metadata, in the format a user picks: txt (the original results file: GBK,
// CR LF, keywords only), csv (UTF-8 with a byte-order mark, CR LF, header
// keyword,source,main_word,parent,depth,time,source_index; a cell that begins like a formula, with
// =, +, -, @, TAB or CR, gets a leading '), jsonl (one object per line with the same keys) or
// xlsx (one sheet, the same columns). source_index is the service's index in the source list, as
// the run's report gives it; empty (null) when the name is not known or two services share it. A
// file is written whole to a temporary name and renamed.

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

// The bytes of a txt, csv or jsonl file (xlsx is a zip; see writeResultsFile).
std::string formatResults(const std::vector<ResultRecord>& records, ExportFormat format,
                          const SourceIndexes& indexes = {});

// False with *error (UTF-8) when the file cannot be written; the file is then as before. The name
// is checked first (see export_target.h): a symlink is written through, keeping its target's mode;
// a directory, anything but a regular file, and any of `protectedFiles` are refused untouched.
bool writeResultsFile(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                      ExportFormat format, std::string* error,
                      const std::vector<std::filesystem::path>& protectedFiles = {},
                      const SourceIndexes& indexes = {});

// The format 编辑框_导出格式 names; txt when empty; nullopt when it names none.
std::optional<ExportFormat> chosenExportFormat(const Controls& controls);

// The export action in a rich format: `records` written beside the results file `resultsPathText`
// (GBK), with the format's extension in place of .txt, and the same notice a save shows. The file
// when written; else nullopt, with what failed and why in *failure (UTF-8).
std::optional<std::filesystem::path> exportRichResults(Controls& controls, const std::vector<ResultRecord>& records,
                                                       ExportFormat format, const Text& resultsPathText,
                                                       std::string* failure = nullptr,
                                                       const SourceIndexes& indexes = {});

} // namespace zelkor
