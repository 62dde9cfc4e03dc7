#include "engine/output/rich_export.h"

#include "engine/core/control_names.h"
#include "engine/output/export.h"
#include "engine/core/program_dir.h"
#include "engine/output/export_target.h"
#include "text/json_text.h"

#include <cerrno>
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

bool writeXlsx(const ExportTarget& target, const std::vector<ResultRecord>& records, const SourceIndexes& indexes,
               std::string* error) {
    const std::filesystem::path& file = target.file;
    if (records.size() > kXlsxRows) {
        if (error)
            *error = "an xlsx sheet holds at most " + std::to_string(kXlsxRows) + " results, this run has " +
                     std::to_string(records.size()) + "; export csv or jsonl instead";
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
    lxw_worksheet* sheet = workbook_add_worksheet(book, "results");
    lxw_error status = LXW_NO_ERROR;
    for (lxw_col_t c = 0; c < 7 && status == LXW_NO_ERROR; ++c)
        status = worksheet_write_string(sheet, 0, c, kColumns[c], nullptr);
    for (std::size_t i = 0; i < records.size() && status == LXW_NO_ERROR; ++i) {
        const auto& r = records[i];
        const auto row = static_cast<lxw_row_t>(i + 1);
        const std::string texts[] = {gbk_to_utf8(r.keyword), gbk_to_utf8(r.sourceName), gbk_to_utf8(r.mainWord),
                                     gbk_to_utf8(r.parent)};
        for (lxw_col_t c = 0; c < 4 && status == LXW_NO_ERROR; ++c)
            status = worksheet_write_string(sheet, row, c, texts[c].c_str(), nullptr);
        if (status == LXW_NO_ERROR) status = worksheet_write_number(sheet, row, 4, r.depth, nullptr);
        if (status == LXW_NO_ERROR) status = worksheet_write_string(sheet, row, 5, r.time.c_str(), nullptr);
        if (const auto index = indexOf(indexes, r.sourceName); index && status == LXW_NO_ERROR)
            status = worksheet_write_number(sheet, row, 6, *index, nullptr);
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

std::string formatResults(const std::vector<ResultRecord>& records, ExportFormat format,
                          const SourceIndexes& indexes) {
    std::string out;
    switch (format) {
    case ExportFormat::Txt:
        for (const auto& r : records) out += r.keyword + "\r\n";
        break;
    case ExportFormat::Csv:
        out = "\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index\r\n";
        for (const auto& r : records) {
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
            if (const auto index = indexOf(indexes, r.sourceName)) out += std::to_string(*index);
            out += "\r\n";
        }
        break;
    case ExportFormat::Jsonl:
        for (const auto& r : records) {
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
            const auto index = indexOf(indexes, r.sourceName);
            out += ",\"source_index\":" + (index ? std::to_string(*index) : std::string("null")) + "}\n";
        }
        break;
    case ExportFormat::Xlsx: break;
    }
    return out;
}

bool writeResultsFile(const std::filesystem::path& file, const std::vector<ResultRecord>& records,
                      ExportFormat format, std::string* error,
                      const std::vector<std::filesystem::path>& protectedFiles, const SourceIndexes& indexes) {
    const std::optional<ExportTarget> target = resolveExportTarget(file, protectedFiles, error);
    if (!target) return false;
    if (format == ExportFormat::Xlsx) return writeXlsx(*target, records, indexes, error);
    return writeBytes(*target, formatResults(records, format, indexes), error);
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
                                                       std::string* failure, const SourceIndexes& indexes) {
    ResultWriter::Saved saved;
    saved.pathText = resultsPathText;
    if (saved.pathText.ends_with(".txt")) saved.pathText.resize(saved.pathText.size() - 4);
    saved.pathText += std::string(exportExtension(format));
    const std::filesystem::path file = gbkToPath(saved.pathText);
    std::string error;
    const bool written = writeResultsFile(file, records, format, &error, {}, indexes);
    saved.outcome = written ? ResultWriter::Outcome::Written : ResultWriter::Outcome::Failed;
    controls.showNotice(ResultWriter::notice(saved));
    if (!written) {
        if (failure) *failure = error;
        return std::nullopt;
    }
    return file;
}

} // namespace zelkor
