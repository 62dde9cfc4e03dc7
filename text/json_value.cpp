#include "text/json.h"

#include "text/json_path.h"
#include "text/json_text.h"

namespace zelkor {

JsonObject::JsonObject() = default;
JsonObject::JsonObject(const JsonObject& other) : m_members(other.m_members) {}
JsonObject::JsonObject(JsonObject&&) noexcept = default;
JsonObject& JsonObject::operator=(JsonObject&&) noexcept = default;
JsonObject::~JsonObject() = default;

JsonObject& JsonObject::operator=(const JsonObject& other) {
    if (this != &other) {
        m_members = other.m_members;
        m_index.reset();
    }
    return *this;
}

void JsonObject::buildIndex() const {
    m_index = std::make_unique<std::unordered_map<std::string_view, std::size_t>>();
    m_index->reserve(m_members.size() * 2);
    for (std::size_t i = 0; i < m_members.size(); ++i)
        m_index->emplace(m_members[i].first, i);
}

const JsonValue* JsonObject::find(std::string_view name) const {
    if (m_members.size() < kIndexFrom) {
        for (const auto& m : m_members)
            if (m.first == name) return &m.second;
        return nullptr;
    }
    if (!m_index) buildIndex();
    auto it = m_index->find(name);
    return it == m_index->end() ? nullptr : &m_members[it->second].second;
}

void JsonObject::put(std::string name, JsonValue value) {
    if (const JsonValue* existing = find(name)) {
        *const_cast<JsonValue*>(existing) = std::move(value);
        return;
    }
    // Moving the vector's strings would leave the index pointing at moved-from buffers.
    if (m_index && m_members.size() == m_members.capacity()) m_index.reset();
    m_members.emplace_back(std::move(name), std::move(value));
    if (m_index) m_index->emplace(m_members.back().first, m_members.size() - 1);
}

namespace {

// What a look-up answers about: a value that is neither null nor undefined, or nullptr.
const JsonValue* present(const JsonValue& root, std::string_view path, JsonValue& scratch) {
    const JsonValue* v = json::lookUp(root, path, scratch);
    return v && !v->isNullish() ? v : nullptr;
}

} // namespace

JsonType JsonValue::type(std::string_view path) const {
    JsonValue scratch;
    const JsonValue* v = present(*this, path, scratch);
    if (!v) return JsonType::Missing;
    if (v->boolean()) return JsonType::Boolean;
    if (v->number()) return JsonType::Number;
    if (v->string()) return JsonType::String;
    if (v->array()) return JsonType::Array;
    return JsonType::Object;
}

Text JsonValue::text(std::string_view path) const {
    JsonValue scratch;
    const JsonValue* v = present(*this, path, scratch);
    return v ? json::plainText(*v) : Text{};
}

Text JsonValue::text(std::string_view path, bool& lost) const {
    JsonValue scratch;
    const JsonValue* v = present(*this, path, scratch);
    lost = false;
    return v ? json::plainText(*v, &lost) : Text{};
}

Text JsonValue::json(std::string_view path) const {
    JsonValue scratch;
    const JsonValue* v = present(*this, path, scratch);
    return v ? json::jsonText(*v) : Text{};
}

int JsonValue::count(std::string_view path) const {
    JsonValue scratch;
    const JsonValue* v = present(*this, path, scratch);
    const Array* a = v ? v->array() : nullptr;
    return a ? static_cast<int>(a->size()) : 0;
}

} // namespace zelkor
