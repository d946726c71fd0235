#pragma once

#include "error.h"

#include <cstdint>
#include <limits>

namespace corvane {

// A 16-bit signed counter whose arithmetic overflow raises run-time error 6.
class Counter16 {
public:
    constexpr Counter16() = default;
    constexpr Counter16(std::int16_t value) : m_value(value) {}

    constexpr std::int16_t value() const { return m_value; }
    constexpr operator std::int16_t() const { return m_value; }

    Counter16& operator+=(int delta) {
        m_value = checked(static_cast<long long>(m_value) + delta);
        return *this;
    }
    Counter16& operator-=(int delta) { return *this += -delta; }
    Counter16& operator++() { return *this += 1; }
    Counter16& operator--() { return *this += -1; }

    // Converts a wider value, raising error 6 when it does not fit.
    static Counter16 from(long long value) { return Counter16(checked(value)); }

private:
    static std::int16_t checked(long long value) {
        if (value < std::numeric_limits<std::int16_t>::min() ||
            value > std::numeric_limits<std::int16_t>::max())
            throw Error(kOverflow);
        return static_cast<std::int16_t>(value);
    }

    std::int16_t m_value = 0;
};

} // namespace corvane
