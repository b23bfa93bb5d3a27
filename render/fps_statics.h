// Frame-rate statistic: intervals between samples and durations, reported every 10 s.
#pragma once

#include <cstdint>
#include <list>

class FPSStatics {
public:
    FPSStatics() = default;
    ~FPSStatics();
    FPSStatics(const FPSStatics&) = delete;
    FPSStatics& operator=(const FPSStatics&) = delete;

    void setName(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* name() const { return m_name; }
    // The owner marks when the measured work starts.
    void begin() { m_begin = now(); }
    // Counts one event; reports through KEL_LOG(enable, ...) when a period of 10 s is over.
    void addSample(bool enable);

    static int64_t now();

private:
    bool m_started = false;
    char* m_name = nullptr;
    int64_t m_periodStart = 0;
    int64_t m_begin = 0;
    int64_t m_last = 0;
    std::list<double> m_intervals;
    std::list<double> m_durations;
};
