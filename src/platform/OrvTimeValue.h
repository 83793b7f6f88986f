// A duration in seconds and microseconds.
#ifndef PELLAX_PLATFORM_ORV_TIME_VALUE_H
#define PELLAX_PLATFORM_ORV_TIME_VALUE_H

#include <cstdint>

class COrvTimeValue {
public:
    COrvTimeValue() = default;
    COrvTimeValue(int64_t seconds, int64_t microseconds) { Set(seconds, microseconds); }

    void Set(int64_t seconds, int64_t microseconds)
    {
        m_nSeconds = seconds;
        m_nMicroseconds = microseconds;
    }
    int64_t GetSec() const { return m_nSeconds; }
    int64_t GetUsec() const { return m_nMicroseconds; }
    int64_t GetTotalMicroseconds() const { return m_nSeconds * 1000000 + m_nMicroseconds; }
    int64_t GetTotalMilliseconds() const { return GetTotalMicroseconds() / 1000; }

private:
    int64_t m_nSeconds = 0;
    int64_t m_nMicroseconds = 0;
};

#endif
