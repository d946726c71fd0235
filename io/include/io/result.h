#pragma once

// What a call that can fail gives back: its value, or why there is none.
//
// io fails with a Failure: the errno of the system call and the path or operation it
// concerned. The layers above keep the template and put their own error in it (the core its
// corvane::Error, the pack format the reason a pack is refused).

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace corvane::io {

struct Failure {
    int error = 0;    // the errno
    std::string what; // the path or operation concerned; empty when the caller knows it
};

// The failure of the system call that just failed, with errno as it left it.
inline Failure lastFailure(std::string what = {}) {
    return Failure{errno, std::move(what)};
}

template <typename T, typename E = Failure> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}     // NOLINT
    Result(E failure) : m_state(std::in_place_index<1>, std::move(failure)) {} // NOLINT

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& failure() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

template <typename E> class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E failure) : m_failure(std::move(failure)) {} // NOLINT

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }

    const E& failure() const { return *m_failure; }

private:
    std::optional<E> m_failure;
};

} // namespace corvane::io
