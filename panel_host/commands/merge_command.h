// panel-host merge-reports: the reports of a validate run split with --shard
// over several machines, merged into the report of the whole run.
#ifndef MERGE_COMMAND_H
#define MERGE_COMMAND_H

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct MergeOptions {
    std::vector<std::string> parts;
    std::string jsonFile;
};

CLI::App* addMergeCommand(CLI::App& app, MergeOptions& options);
// 0 when the whole run has no failure, 1 when it has, 2 for parts that do not make a whole.
int mergeReportFiles(const MergeOptions& options);

#endif
