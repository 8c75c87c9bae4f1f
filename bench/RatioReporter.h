#pragma once

// Prints, after the usual output, each case's time as a multiple of a baseline measured
// in the same run (memcpy or memset of the same bytes), and of further baselines if asked.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    RatioReporter(std::string baselineName, std::string baselineLabel)
        : baseline(std::move(baselineName))
        , label(std::move(baselineLabel))
    {
    }

    // One more column: the times as multiples of that case's.
    void alsoAgainst(std::string baselineName, std::string baselineLabel)
    {
        more.emplace_back(std::move(baselineName), std::move(baselineLabel));
    }

    // Keeps the fastest iteration mean of each case.
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            const double time = run.GetAdjustedRealTime();
            auto it = times.find(name);
            if (it == times.end()) {
                order.push_back(name);
                times[name] = time;
            } else {
                it->second = std::min(it->second, time);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const
    {
        const auto base = times.find(baseline);
        if (base == times.end() || base->second <= 0)
            return;
        std::printf("\n%-36s %12s %10s", "case", "time (us)", ("x " + label).c_str());
        for (const auto& column : more)
            std::printf(" %14s", ("x " + column.second).c_str());
        std::printf("\n");
        for (const std::string& name : order) {
            const double t = times.at(name);
            std::printf("%-36s %12.1f %10.2f", name.c_str(), t, t / base->second);
            for (const auto& column : more) {
                const auto other = times.find(column.first);
                if (other != times.end() && other->second > 0)
                    std::printf(" %14.2f", t / other->second);
                else
                    std::printf(" %14s", "-");
            }
            std::printf("\n");
        }
    }

private:
    std::string baseline;
    std::string label;
    std::vector<std::pair<std::string, std::string>> more;
    std::vector<std::string> order;
    std::map<std::string, double> times;
};
