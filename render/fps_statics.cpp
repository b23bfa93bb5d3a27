#include "fps_statics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "log.h"

FPSStatics::~FPSStatics()
{
    std::free(m_name);
}

int64_t FPSStatics::now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void FPSStatics::setName(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n >= 0) {
        char* name = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (name) {
            std::vsnprintf(name, static_cast<size_t>(n) + 1, format, args);
            std::free(m_name);
            m_name = name;
        }
    }
    va_end(args);
}

namespace {

struct Summary {
    double mean, max, min;
};

Summary summarize(const std::list<double>& values, size_t n)
{
    Summary s{0, 0, 0};
    bool first = true;
    double sum = 0;
    for (double v : values) {
        sum += v;
        if (first || v > s.max)
            s.max = v;
        if (first || v < s.min)
            s.min = v;
        first = false;
    }
    s.mean = n ? sum / static_cast<double>(n) : 0;
    return {s.mean / 1000, s.max / 1000, s.min / 1000};
}

} // namespace

void FPSStatics::addSample(bool enable)
{
    const int64_t t = now();
    if (!m_started) {
        m_periodStart = m_last = t;
        m_started = true;
        return;
    }
    m_intervals.push_back(static_cast<double>((t - m_last) / 1000));
    m_last = t;
    m_durations.push_back(static_cast<double>((t - m_begin) / 1000));
    const double elapsed = static_cast<double>((t - m_periodStart) / 1000000);
    if (elapsed > 10000.0) {
        const double seconds = elapsed / 1000;
        const size_t n = m_intervals.size();
        const Summary i = summarize(m_intervals, n);
        const Summary d = summarize(m_durations, n);
        KEL_LOG(enable, "[KMFR]I %10s: %d times in %6.2lf fps %6.2lf (%6.2lf %6.2lf %6.2lf) (%6.2lf %6.2lf %6.2lf)\n",
                m_name ? m_name : "???", static_cast<int>(n), seconds, static_cast<double>(n) / seconds, i.mean, i.max,
                i.min, d.mean, d.max, d.min);
        m_intervals.clear();
        m_durations.clear();
        m_periodStart = t;
    }
}
