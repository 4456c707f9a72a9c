#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Paired timing: the library path and its baseline run in alternating batches
// within one process, so load from other processes on the machine falls on
// both sides alike. Each side's figure is the median over rounds of the mean
// time per call within a round. Time is the process's CPU time (every thread:
// the local server's and libcurl's too), which a busy shared machine disturbs
// far less than the wall clock; the wall clock is reported beside it.
namespace benchharness {

// Keeps the compiler from dropping a computation whose result is unused.
template <typename T> inline void KeepAlive(const T& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}

struct Comparison {
    double libraryNs = 0; // CPU time per call
    double baselineNs = 0;
    double libraryWallNs = 0;
    double baselineWallNs = 0;
    double Ratio() const { return baselineNs > 0 ? libraryNs / baselineNs : 0; }
    double WallRatio() const { return baselineWallNs > 0 ? libraryWallNs / baselineWallNs : 0; }
};

struct Sample {
    double cpuNs = 0;
    double wallNs = 0;
};

inline double CpuNowNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One warm-up round is run and dropped; then `rounds` rounds of `batch` calls
// per side, the side that goes first alternating from round to round.
// `untimed` runs after every batch, outside the clock: it frees what the
// calls handed to their caller, which is the caller's cost, not theirs.
template <typename Library, typename Baseline, typename Untimed>
Comparison Compare(int rounds, int batch, Library&& library, Baseline&& baseline,
                   Untimed&& untimed) {
    using Clock = std::chrono::steady_clock;
    auto timeBatch = [batch](auto& run) {
        const double cpuStart = CpuNowNs();
        const auto wallStart = Clock::now();
        for (int i = 0; i < batch; ++i) {
            run();
        }
        const std::chrono::duration<double, std::nano> wall = Clock::now() - wallStart;
        return Sample{(CpuNowNs() - cpuStart) / batch, wall.count() / batch};
    };
    std::vector<double> libraryCpu;
    std::vector<double> baselineCpu;
    std::vector<double> libraryWall;
    std::vector<double> baselineWall;
    for (int round = -1; round < rounds; ++round) {
        Sample librarySample;
        Sample baselineSample;
        if (round % 2 == 0) {
            librarySample = timeBatch(library);
            untimed();
            baselineSample = timeBatch(baseline);
            untimed();
        } else {
            baselineSample = timeBatch(baseline);
            untimed();
            librarySample = timeBatch(library);
            untimed();
        }
        if (round >= 0) {
            libraryCpu.push_back(librarySample.cpuNs);
            baselineCpu.push_back(baselineSample.cpuNs);
            libraryWall.push_back(librarySample.wallNs);
            baselineWall.push_back(baselineSample.wallNs);
        }
    }
    return {Median(libraryCpu), Median(baselineCpu), Median(libraryWall), Median(baselineWall)};
}

template <typename Library, typename Baseline>
Comparison Compare(int rounds, int batch, Library&& library, Baseline&& baseline) {
    return Compare(rounds, batch, library, baseline, [] {});
}

// Like Compare, but every batch runs in a child process forked for it, after
// one untimed call, and `untimed` runs after every call rather than every
// batch: each side is timed in its own steady state. Paired
// batches in one process let the side that ran second inherit the heap the
// first one left (freed chunks, a grown or trimmed top), which moved the
// figures of large parses by up to half. Not for work that needs threads of
// the parent, which a child does not have.
template <typename Library, typename Baseline, typename Untimed>
Comparison CompareInChildren(int rounds, int batch, Library&& library, Baseline&& baseline,
                             Untimed&& untimed) {
    using Clock = std::chrono::steady_clock;
    auto timeInChild = [batch, &untimed](auto& run) {
        int fds[2] = {-1, -1};
        Sample sample;
        if (pipe(fds) != 0) {
            return sample;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            // The first call also takes the copy-on-write faults of the
            // parent's pages; it is not timed.
            run();
            untimed();
            double cpuNs = 0;
            std::chrono::duration<double, std::nano> wall{0};
            for (int i = 0; i < batch; ++i) {
                const double cpuStart = CpuNowNs();
                const auto wallStart = Clock::now();
                run();
                wall += Clock::now() - wallStart;
                cpuNs += CpuNowNs() - cpuStart;
                untimed();
            }
            const Sample measured{cpuNs / batch, wall.count() / batch};
            const bool written = write(fds[1], &measured, sizeof measured) == sizeof measured;
            _exit(written ? 0 : 1);
        }
        close(fds[1]);
        if (child > 0 && read(fds[0], &sample, sizeof sample) != sizeof sample) {
            sample = Sample{};
        }
        close(fds[0]);
        if (child > 0) {
            waitpid(child, nullptr, 0);
        }
        return sample;
    };
    std::vector<double> libraryCpu;
    std::vector<double> baselineCpu;
    std::vector<double> libraryWall;
    std::vector<double> baselineWall;
    for (int round = 0; round < rounds; ++round) {
        Sample librarySample;
        Sample baselineSample;
        if (round % 2 == 0) {
            librarySample = timeInChild(library);
            baselineSample = timeInChild(baseline);
        } else {
            baselineSample = timeInChild(baseline);
            librarySample = timeInChild(library);
        }
        libraryCpu.push_back(librarySample.cpuNs);
        baselineCpu.push_back(baselineSample.cpuNs);
        libraryWall.push_back(librarySample.wallNs);
        baselineWall.push_back(baselineSample.wallNs);
    }
    return {Median(libraryCpu), Median(baselineCpu), Median(libraryWall), Median(baselineWall)};
}

inline std::string Milliseconds(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ns / 1e6);
    return text;
}

// One result line; returns whether the target was met.
inline bool Report(const char* name, const char* libraryLabel, const char* baselineLabel,
                   const Comparison& result, double target) {
    const bool met = result.Ratio() <= target;
    std::printf("%s\n  %s %s/call, %s %s/call (CPU)\n"
                "  ratio %.3f (target <= %.2f) %s; wall clock %s vs %s, ratio %.3f\n",
                name, libraryLabel, Milliseconds(result.libraryNs).c_str(), baselineLabel,
                Milliseconds(result.baselineNs).c_str(), result.Ratio(), target,
                met ? "met" : "MISSED", Milliseconds(result.libraryWallNs).c_str(),
                Milliseconds(result.baselineWallNs).c_str(), result.WallRatio());
    std::fflush(stdout);
    return met;
}

} // namespace benchharness
