#include "engine/output/rich_export.h"

#include "engine/core/control_names.h"
#include "engine/output/export.h"
#include "engine/core/program_dir.h"
#include "engine/output/export_target.h"
#include "text/json_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

namespace zelkor {

namespace {

constexpr const char* kColumns[] = {"keyword", "source", "main_word", "parent", "depth", "time", "source_index"};

std::optional<int> indexOf(const SourceIndexes& indexes, const Text& name) {
    const auto found = indexes.find(name);
    if (found == indexes.end()) return std::nullopt;
    return found->second;
}
// One header row, then data: the sheet's limit is 1 048 576 rows.
constexpr std::size_t kXlsxRows = 1048575;

// A cell a spreadsheet would take for a formula (=, +, -, @) or that begins with a TAB or CR is
// kept as text by a leading apostrophe: a phrase from a service must never run.
bool startsLikeAFormula(std::string_view value) {
    return !value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
}

void csvField(std::string& out, std::string_view value) {
    const bool formula = startsLikeAFormula(value);
    if (!formula && value.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += value;
        return;
    }
    if (formula && value.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += '\'';
        out += value;
        return;
    }
    out += '"';
    if (formula) out += '\'';
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

bool writeBytes(const ExportTarget& target, const std::string& bytes, std::string* error) {
    TempFile temp(target);
    bool ok = temp.fd() >= 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(temp.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    if (ok && temp.commit()) return true;
    if (error) *error = "cannot write " + target.file.string() + ": " + std::strerror(errno);
    return false;
}

// The rows of a file: which records, in which order, and the group each row belongs to.
struct Rows {
    const std::vector<ResultRecord>& records;
    const SourceIndexes& indexes;
    const ExtraColumns& extra;
    std::vector<std::size_t> order;     // record indexes
    std::vector<const std::string*> group; // per row, or empty for no group column
};

Rows allRows(const std::vector<ResultRecord>& records, const SourceIndexes& indexes, const ExtraColumns& extra) {
    Rows rows{records, indexes, extra, {}, {}};
    rows.order.resize(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) rows.order[i] = i;
    return rows;
}

Rows groupedRows(const std::vector<ResultRecord>& records, const SourceIndexes& indexes, const ExtraColumns& extra,
                 const std::vector<ResultGroup>& groups) {
    Rows rows{records, indexes, extra, {}, {}};
    for (const ResultGroup& g : groups)
        for (std::size_t member : g.members) {
            if (member >= records.size()) continue;
            rows.order.push_back(member);
            rows.group.push_back(&g.name);
        }
    return rows;
}

void appendCsv(std::string& out, const Rows& rows) {
    out = "\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index";
    for (const ExtraColumn& column : rows.extra) out += ',' + column.name;
    if (!rows.group.empty()) out += ",group";
    out += "\r\n";
    for (std::size_t row = 0; row < rows.order.size(); ++row) {
        const std::size_t i = rows.order[row];
        const ResultRecord& r = rows.records[i];
        csvField(out, gbk_to_utf8(r.keyword));
        out += ',';
        csvField(out, gbk_to_utf8(r.sourceName));
        out += ',';
        csvField(out, gbk_to_utf8(r.mainWord));
        out += ',';
        csvField(out, gbk_to_utf8(r.parent));
        out += ',' + std::to_string(r.depth) + ',';
        csvField(out, r.time);
        out += ',';
        if (const auto index = indexOf(rows.indexes, r.sourceName)) out += std::to_string(*index);
        for (const ExtraColumn& column : rows.extra) {
            out += ',';
            csvField(out, i < column.cells.size() ? column.cells[i] : std::string());
        }
        if (!rows.group.empty()) {
            out += ',';
            csvField(out, *rows.group[row]);
        }
        out += "\r\n";
    }
}

void appendJsonl(std::string& out, const Rows& rows) {
    for (std::size_t row = 0; row < rows.order.size(); ++row) {
        const std::size_t i = rows.order[row];
        const ResultRecord& r = rows.records[i];
        out += "{\"keyword\":";
        appendJsonString(out, gbk_to_utf8(r.keyword));
        out += ",\"source\":";
        appendJsonString(out, gbk_to_utf8(r.sourceName));
        out += ",\"main_word\":";
        appendJsonString(out, gbk_to_utf8(r.mainWord));
        out += ",\"parent\":";
        appendJsonString(out, gbk_to_utf8(r.parent));
        out += ",\"depth\":" + std::to_string(r.depth) + ",\"time\":";
        appendJsonString(out, r.time);
        const auto index = indexOf(rows.indexes, r.sourceName);
        out += ",\"source_index\":" + (index ? std::to_string(*index) : std::string("null"));
        for (const ExtraColumn& column : rows.extra) {
            out += ',';
            appendJsonString(out, column.name);
            out += ':';
            const std::string cell = i < column.cells.size() ? column.cells[i] : std::string();
            if (column.numeric && !cell.empty())
                out += cell;
            else
                appendJsonString(out, cell);
        }
        if (!rows.group.empty()) {
            out += ",\"group\":";
            appendJsonString(out, *rows.group[row]);
        }
        out += "}\n";
    }
}

// A sheet name Excel takes: at most 31 characters, none of []:*?/\\ and no apostrophe at either
// end (none at all, here), not empty, and unique.
std::string sheetName(const std::string& wanted, std::vector<std::string>& taken) {
    std::size_t characters = 0;
    std::string cleaned;
    for (std::size_t i = 0; i < wanted.size();) {
        const unsigned char b = static_cast<unsigned char>(wanted[i]);
        const std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        std::string piece = wanted.substr(i, n);
        i += n;
        if (piece.size() == 1 && std::string_view("[]:*?/\\'").find(piece[0]) != std::string_view::npos) piece = "_";
        if (characters++ == 27) break; // room for a number that makes it unique
        cleaned += piece;
    }
    if (cleaned.empty()) cleaned = "_";
    std::string name = cleaned;
    for (int k = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++k) name = cleaned + "~" + std::to_string(k);
    taken.push_back(name);
    return name;
}

lxw_error writeSheet(lxw_workbook* book, const char* name, const Rows& rows, std::size_t from, std::size_t to) {
    lxw_worksheet* sheet = workbook_add_worksheet(book, name);
    if (!sheet) return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
    lxw_error status = LXW_NO_ERROR;
    lxw_col_t c = 0;
    for (; c < 7 && status == LXW_NO_ERROR; ++c) status = worksheet_write_string(sheet, 0, c, kColumns[c], nullptr);
    for (const ExtraColumn& column : rows.extra)
        if (status == LXW_NO_ERROR) status = worksheet_write_string(sheet, 0, c++, column.name.c_str(), nullptr);
    for (std::size_t row = from; row < to && status == LXW_NO_ERROR; ++row) {
        const std::size_t i = rows.order[row];
        const auto& r = rows.records[i];
        const auto at = static_cast<lxw_row_t>(row - from + 1);
        const std::string texts[] = {gbk_to_utf8(r.keyword), gbk_to_utf8(r.sourceName), gbk_to_utf8(r.mainWord),
                                     gbk_to_utf8(r.parent)};
        for (c = 0; c < 4 && status == LXW_NO_ERROR; ++c)
            status = worksheet_write_string(sheet, at, c, texts[c].c_str(), nullptr);
        if (status == LXW_NO_ERROR) status = worksheet_write_number(sheet, at, 4, r.depth, nullptr);
        if (status == LXW_NO_ERROR) status = worksheet_write_string(sheet, at, 5, r.time.c_str(), nullptr);
        if (const auto index = indexOf(rows.indexes, r.sourceName); index && status == LXW_NO_ERROR)
            status = worksheet_write_number(sheet, at, 6, *index, nullptr);
        c = 7;
        for (const ExtraColumn& column : rows.extra) {
            const std::string cell = i < column.cells.size() ? column.cells[i] : std::string();
            if (status != LXW_NO_ERROR) break;
            if (column.numeric && !cell.empty())
                status = worksheet_write_number(sheet, at, c++, std::strtod(cell.c_str(), nullptr), nullptr);
            else
                status = worksheet_write_string(sheet, at, c++, cell.c_str(), nullptr);
        }
    }
    return status;
}

// One sheet "results", or a sheet per group when the rows have groups.
bool writeXlsx(const ExportTarget& target, const Rows& rows, const std::vector<ResultGroup>* groups,
               std::string* error) {
    const std::filesystem::path& file = target.file;
    std::size_t largest = groups ? 0 : rows.order.size();
    if (groups)
        for (const ResultGroup& g : *groups) largest = std::max(largest, g.members.size());
    if (largest > kXlsxRows) {
        if (error)
            *error = "an xlsx sheet holds at most " + std::to_string(kXlsxRows) + " results, this run has " +
                     std::to_string(largest) + "; export csv or jsonl instead";
        return false;
    }
    // Made here, so the writer fills a file that is ours, not one a name led it to.
    TempFile temp(target);
    if (temp.fd() < 0) {
        if (error) *error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    temp.closeFd();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    lxw_workbook* book = workbook_new_opt(temp.path().c_str(), &options);
    if (!book) {
        if (error) *error = "cannot write " + file.string();
        return false;
    }
    lxw_error status = LXW_NO_ERROR;
    if (!groups) {
        status = writeSheet(book, "results", rows, 0, rows.order.size());
    } else {
        std::vector<std::string> taken;
        std::size_t from = 0;
        for (const ResultGroup& g : *groups) {
            std::size_t to = from;
            while (to < rows.order.size() && rows.group[to] == &g.name) ++to;
            if (status == LXW_NO_ERROR) status = writeSheet(book, sheetName(g.name, taken).c_str(), rows, from, to);
            from = to;
        }
        if (groups->empty() && status == LXW_NO_ERROR) status = writeSheet(book, "results", rows, 0, 0);
    }
    const lxw_error closed = workbook_close(book);
    if (status == LXW_NO_ERROR) status = closed;
    if (status == LXW_NO_ERROR && temp.commit()) return true;
    if (error)
        *error = "cannot write " + file.string() + ": " +
                 (status != LXW_NO_ERROR ? lxw_strerror(status) : std::strerror(errno));
    return false;
}

} // namespace

std::optional<ExportFormat> parseExportFormat(std::string_view name) {
    if (name == "txt") return ExportFormat::Txt;
    if (name == "csv") return ExportFormat::Csv;
    if (name == "jsonl") return ExportFormat::Jsonl;
    if (name == "xlsx") return ExportFormat::Xlsx;
    return std::nullopt;
}

std::string_view exportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::Txt: return "txt";
    case ExportFormat::Csv: return "csv";
    case ExportFormat::Jsonl: return "jsonl";
    case ExportFormat::Xlsx: return "xlsx";
    }
    return "txt";
}

std::string_view exportExtension(ExportFormat format) {
    switch (format) {
    case ExportFormat::Txt: return ".txt";
    case ExportFormat::Csv: return ".csv";
    case ExportFormat::Jsonl: return ".jsonl";
    case ExportFormat::Xlsx: return ".xlsx";
    }
    return ".txt";
}

SourceIndexes sourceIndexesOf(const std::vector<std::pair<int, Text>>& names) {
    SourceIndexes indexes;
    std::map<Text, int> seen;
    for (const auto& [index, name] : names)
        ++seen[name];
    for (const auto& [index, name] : names)
        if (seen[name] == 1) indexes.emplace(name, index);
    return indexes;
}

ExtraColumns hitColumns(const std::vector<ResultRecord>& records) {
    if (records.empty() || records.front().hits == 0) return {};
    ExtraColumn hits{"hits", {}, true}, services{"services", {}, true};
    hits.cells.reserve(records.size());
    services.cells.reserve(records.size());
    for (const ResultRecord& r : records) {
        hits.cells.push_back(std::to_string(r.hits));
        services.cells.push_back(std::to_string(r.services));
    }
    return {std::move(hits), std::move(services)};
}

std::string formatResults(const std::vector<ResultRecord>& records, ExportFormat format, const SourceIndexes& indexes,
                          const ExtraColumns& extra) {
    std::string out;
    switch (format) {
    case ExportFormat::Txt:
        for (const auto& r : records) out += r.keyword + "\r\n";
        break;
    case ExportFormat::Csv: appendCsv(out, allRows(records, indexes, extra)); break;
    case ExportFormat::Jsonl: appendJsonl(out, allRows(records, indexes, extra)); break;
    case ExportFormat::Xlsx: break;
    }
    return out;
}

bool writeResultsFile(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                      ExportFormat format, std::string* error,
                      const std::vector<std::filesystem::path>& protectedFiles, const SourceIndexes& indexes,
                      const ExtraColumns& extra) {
    const std::optional<ExportTarget> target = resolveExportTarget(file, protectedFiles, error);
    if (!target) return false;
    if (format == ExportFormat::Xlsx) return writeXlsx(*target, allRows(records, indexes, extra), nullptr, error);
    return writeBytes(*target, formatResults(records, format, indexes, extra), error);
}

bool writeGroupedResults(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                         const std::vector<ResultGroup>& groups, ExportFormat format, std::string* error,
                         const std::vector<std::filesystem::path>& protectedFiles, const SourceIndexes& indexes,
                         const ExtraColumns& extra) {
    const std::optional<ExportTarget> target = resolveExportTarget(file, protectedFiles, error);
    if (!target) return false;
    const Rows rows = groupedRows(records, indexes, extra, groups);
    std::string out;
    switch (format) {
    case ExportFormat::Xlsx: return writeXlsx(*target, rows, &groups, error);
    case ExportFormat::Csv: appendCsv(out, rows); break;
    case ExportFormat::Jsonl: appendJsonl(out, rows); break;
    case ExportFormat::Txt:
        for (const ResultGroup& g : groups) {
            if (!out.empty()) out += "\r\n";
            out += utf8_to_gbk("【" + g.name + "】 " + std::to_string(g.members.size())) + "\r\n";
            for (std::size_t member : g.members)
                if (member < records.size()) out += records[member].keyword + "\r\n";
        }
        break;
    }
    return writeBytes(*target, out, error);
}

std::optional<ExportFormat> chosenExportFormat(const Controls& controls) {
    std::string name = controls.text(ctl::kExportFormat);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    if (name.empty()) return ExportFormat::Txt;
    return parseExportFormat(name);
}

std::optional<std::filesystem::path> exportRichResults(Controls& controls, const std::vector<ResultRecord>& records,
                                                       ExportFormat format, const Text& resultsPathText,
                                                       std::string* failure, const SourceIndexes& indexes,
                                                       const ExtraColumns& extra) {
    ResultWriter::Saved saved;
    saved.pathText = resultsPathText;
    if (saved.pathText.ends_with(".txt")) saved.pathText.resize(saved.pathText.size() - 4);
    saved.pathText += std::string(exportExtension(format));
    const std::filesystem::path file = gbkToPath(saved.pathText);
    std::string error;
    const bool written = writeResultsFile(file, records, format, &error, {}, indexes, extra);
    saved.outcome = written ? ResultWriter::Outcome::Written : ResultWriter::Outcome::Failed;
    controls.showNotice(ResultWriter::notice(saved));
    if (!written) {
        if (failure) *failure = error;
        return std::nullopt;
    }
    return file;
}

} // namespace zelkor
