#pragma once
// A value or the reason there is none, for calls that can fail in ways a user must be told about.
// The reason is words (UTF-8) that name what failed and where; an empty reason is never a failure.

#include <string>
#include <utility>
#include <variant>

namespace zelkor {

struct Error {
    std::string message; // UTF-8
};

template <class T>
class [[nodiscard]] Expected {
  public:
    Expected(T value) : m_value(std::move(value)) {}
    Expected(Error error) : m_value(std::move(error)) {}

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& operator*() { return std::get<0>(m_value); }
    const T& operator*() const { return std::get<0>(m_value); }
    T* operator->() { return &std::get<0>(m_value); }
    const T* operator->() const { return &std::get<0>(m_value); }

    const Error& error() const { return std::get<1>(m_value); }

  private:
    std::variant<T, Error> m_value;
};

// For calls that give nothing back but may fail.
struct Done {};

} // namespace zelkor
