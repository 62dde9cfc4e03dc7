#include "engine/core/settings.h"

#include "engine/core/control_names.h"
#include "engine/core/text_rules.h"
#include "text/bytes.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <span>
#include <sstream>
#include <unistd.h>

namespace zelkor {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The section name of a "[name]" line, or nullopt.
std::optional<std::string_view> sectionOf(std::string_view line) {
    line = trimBlanks(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimBlanks(line.substr(1, close - 1));
}

// Key and raw value of a "key=value" line, or nullopt.
std::optional<std::pair<std::string_view, std::string_view>> entryOf(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const auto key = trimBlanks(line.substr(0, eq));
    if (key.empty() || key.front() == ';') return std::nullopt;
    return std::pair{key, line.substr(eq + 1)};
}

const Text& editSection() {
    static const Text name = gbk("编辑框");
    return name;
}

const Text& comboSection() {
    static const Text name = gbk("组合框");
    return name;
}

} // namespace

IniFile IniFile::load(const std::filesystem::path& file) {
    IniFile ini;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ini.m_lines.push_back(line);
    }
    return ini;
}

std::optional<Text> IniFile::get(const Text& section, const Text& key) const {
    bool inSection = false;
    for (const auto& line : m_lines) {
        if (const auto name = sectionOf(line)) {
            inSection = equalsIgnoringCase(*name, section);
            continue;
        }
        if (!inSection) continue;
        const auto entry = entryOf(line);
        if (!entry || !equalsIgnoringCase(entry->first, key)) continue;
        std::string_view value = trimBlanks(entry->second);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        Text cut = gbkPrefix(value, kSettingsValueLimit);
        if (cut.empty()) return std::nullopt;
        return cut;
    }
    return std::nullopt;
}

void IniFile::set(const Text& section, const Text& key, const Text& value) {
    const Text entry = key + "=" + value;
    bool inSection = false;
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (const auto name = sectionOf(m_lines[i])) {
            if (inSection) break;
            inSection = equalsIgnoringCase(*name, section);
            if (inSection) insertAt = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (const auto existing = entryOf(m_lines[i]); existing && equalsIgnoringCase(existing->first, key)) {
            m_lines[i] = entry;
            return;
        }
        if (!trimBlanks(m_lines[i]).empty()) insertAt = i + 1;
    }
    if (insertAt) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), entry);
        return;
    }
    m_lines.push_back("[" + section + "]");
    m_lines.push_back(entry);
}

Text IniFile::serialize() const {
    Text out;
    for (const auto& line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

bool IniFile::save(const std::filesystem::path& file) const {
    static std::atomic<unsigned> counter{0};
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    const auto temp = file.parent_path() / ("." + file.filename().string() + ".tmp-" +
                                            std::to_string(::getpid()) + "-" + std::to_string(counter++));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const Text bytes = serialize();
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

Text escapeSetting(const Text& text) {
    static const Text quote = gbk("#引号");
    Text out = replaceAll(replaceAll(text, "\r\n", "><br><"), "\"", quote);
    // A lone CR or LF would end the line in the file and lose the rest of the value.
    out = replaceAll(replaceAll(out, "\r", "><br><"), "\n", "><br><");
    return out;
}

Text unescapeSetting(const Text& text) {
    static const Text quote = gbk("#引号");
    return replaceAll(replaceAll(text, "><br><", "\r\n"), quote, "\"");
}

Text encodeComboValue(const ComboValue& value) {
    Text out;
    for (const auto& item : value.items)
        out += item.text + "<|>" + std::to_string(item.number) + "<||>";
    out += std::to_string(value.selected) + "<|>" + value.text;
    return escapeSetting(out);
}

ComboValue decodeComboValue(const Text& stored) {
    const Text text = unescapeSetting(stored);
    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    for (std::size_t at; (at = rest.find("<||>")) != std::string_view::npos; rest.remove_prefix(at + 4))
        pieces.push_back(rest.substr(0, at));
    ComboValue value;
    for (const auto piece : pieces) {
        const auto first = piece.find("<|>");
        const auto last = piece.rfind("<|>");
        ComboValue::Item item;
        item.text = Text(piece.substr(0, first));
        if (last != std::string_view::npos) item.number = textToInt(piece.substr(last + 3));
        value.items.push_back(std::move(item));
    }
    const auto sep = rest.find("<|>");
    value.selected = textToInt(rest.substr(0, sep));
    if (sep != std::string_view::npos) value.text = Text(rest.substr(sep + 3));
    return value;
}

bool SettingsStore::save(const Controls& controls) const {
    IniFile ini = IniFile::load(m_file);
    for (const auto control : ctl::kEditBoxes)
        ini.set(editSection(), gbk(control), escapeSetting(controls.text(control)));
    for (const auto control : ctl::kAdvancedBoxes) {
        const Text value = controls.text(control);
        if (!value.empty() || ini.get(editSection(), gbk(control)))
            ini.set(editSection(), gbk(control), escapeSetting(value));
    }
    for (const auto control : ctl::kAdvancedChecks) {
        const bool on = controls.checked(control);
        if (on || ini.get(editSection(), gbk(control))) ini.set(editSection(), gbk(control), on ? "1" : "0");
    }
    return ini.save(m_file);
}

void SettingsStore::restore(Controls& controls) const {
    const IniFile ini = IniFile::load(m_file);
    for (const auto& boxes : {std::span<const std::string_view>(ctl::kEditBoxes),
                              std::span<const std::string_view>(ctl::kAdvancedBoxes)}) {
        for (const auto control : boxes) {
            if (const auto value = ini.get(editSection(), gbk(control)))
                controls.setText(control, unescapeSetting(*value));
        }
    }
    for (const auto control : ctl::kAdvancedChecks) {
        if (const auto value = ini.get(editSection(), gbk(control))) controls.setChecked(control, *value == "1");
    }
}

std::optional<Text> SettingsStore::editText(std::string_view control) const {
    const auto value = IniFile::load(m_file).get(editSection(), gbk(control));
    if (!value) return std::nullopt;
    return unescapeSetting(*value);
}

std::optional<ComboValue> SettingsStore::comboValue(std::string_view control) const {
    const auto value = IniFile::load(m_file).get(comboSection(), gbk(control));
    if (!value) return std::nullopt;
    return decodeComboValue(*value);
}

bool SettingsStore::saveComboValue(std::string_view control, const ComboValue& value) const {
    IniFile ini = IniFile::load(m_file);
    ini.set(comboSection(), gbk(control), encodeComboValue(value));
    return ini.save(m_file);
}

} // namespace zelkor
