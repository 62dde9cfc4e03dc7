#pragma once
// Optional overrides of the services' scheme, host and port (and the roots of the update mirrors,
// the quotation service and the notification service), from an INI file in UTF-8:
//   [endpoints]
//   0 = http://127.0.0.1:8080        ; a source's list index
//   update1 = http://127.0.0.1:8080/m1/
//   quote = http://127.0.0.1:8080
//   notify = http://127.0.0.1:8080

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace zelkor {

class Endpoints {
public:
    Endpoints() = default;
    // nullopt when the file cannot be read or a line is malformed; *error then says why (UTF-8).
    // With `sourceCount`, a source index at or beyond it is malformed too; without, callers that
    // make no source accept any index a sources file might add.
    static std::optional<Endpoints> loadFile(const std::filesystem::path& file, std::string* error = nullptr,
                                             std::optional<int> sourceCount = std::nullopt);
    // $ZELKOR_ENDPOINTS when set, else <home>/data/endpoints.ini when present, else no overrides.
    // A file that is named but unreadable or malformed gives nullopt and *error.
    static std::optional<Endpoints> loadDefault(const std::filesystem::path& home, std::string* error = nullptr,
                                                std::optional<int> sourceCount = std::nullopt);

    // The configured value for a key (a source's index, "update1".."update3", "quote", "notify"), if any.
    std::optional<std::string> get(const std::string& key) const;
    void set(const std::string& key, const std::string& value) { m_values[key] = value; }

private:
    std::map<std::string, std::string> m_values;
};

} // namespace zelkor
