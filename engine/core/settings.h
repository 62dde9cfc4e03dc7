#pragma once
// The texts of the window's edit boxes between starts: <home>/data/Zelkorkey.ini in GBK, section
// "编辑框", key = control name, value escaped (CR LF as "><br><", '"' as "#引号"). Reading trims
// spaces and one pair of enclosing quotes as the Windows reader does and returns at most 10 239
// bytes; an empty value counts as missing. Saving creates data/ and replaces the file atomically.

#include "engine/core/controls.h"
#include "text/text.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

inline constexpr std::size_t kSettingsValueLimit = 10239;

// A small INI file of GBK bytes. Section and key names compare ignoring ASCII case.
class IniFile {
  public:
    // A missing or unreadable file gives an empty one.
    static IniFile load(const std::filesystem::path& file);
    // Trimmed, unquoted and cut to kSettingsValueLimit; nullopt when missing or empty.
    std::optional<Text> get(const Text& section, const Text& key) const;
    void set(const Text& section, const Text& key, const Text& value);
    Text serialize() const;
    // Creates the directory; writes a temporary file and renames it over `file`.
    bool save(const std::filesystem::path& file) const;

  private:
    std::vector<Text> m_lines;
};

Text escapeSetting(const Text& text);
Text unescapeSetting(const Text& text);

// Combo-box values ("组合框"): items, selected index and text.
struct ComboValue {
    struct Item {
        Text text;
        int number = 0;
    };
    std::vector<Item> items;
    int selected = -1;
    Text text;
};
Text encodeComboValue(const ComboValue& value);
ComboValue decodeComboValue(const Text& stored);

class SettingsStore {
  public:
    explicit SettingsStore(std::filesystem::path file) : m_file(std::move(file)) {}
    static std::filesystem::path defaultFile(const std::filesystem::path& home) {
        return home / "data" / "Zelkorkey.ini";
    }
    const std::filesystem::path& file() const { return m_file; }

    // Every edit box into section 编辑框, in the window's order. False when the file could not be
    // written (it is then as before).
    bool save(const Controls& controls) const;
    // Every edit box with a non-empty saved value gets that value; the others stay as they are.
    void restore(Controls& controls) const;

    std::optional<Text> editText(std::string_view control) const;         // unescaped
    std::optional<ComboValue> comboValue(std::string_view control) const; // section 组合框
    bool saveComboValue(std::string_view control, const ComboValue& value) const;

  private:
    std::filesystem::path m_file;
};

} // namespace zelkor
