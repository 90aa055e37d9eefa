// What every command of korvex shares: its exit status, how it reports a
// failure, and how it joins the command line. Each command's folder
// registers its own subcommands and options and keeps them; main.cpp only
// parses and runs the one chosen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/library.h"

// The parser's types are only named here: a file that registers options
// includes <CLI/CLI.hpp> itself, and no other pays for parsing it.
namespace CLI {
class App;
}  // namespace CLI

namespace korvex::host {

// 0: all well; 1: some input failed, or the output could not be written;
// 2: the command line was wrong.
enum ExitStatus : int { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

// A registered subcommand: what the parser fills, and what runs it once the
// library is loaded.
struct Command {
    CLI::App* parsed;
    std::function<int(const Library&)> run;
};
using Commands = std::vector<Command>;

// Each folder's registration (inspect/, deps/, snapshot/, system/).
void add_inspect_command(CLI::App& app, Commands& commands);
void add_deps_command(CLI::App& app, Commands& commands);
void add_snapshot_commands(CLI::App& app, Commands& commands);  // snapshot, show
void add_diff_command(CLI::App& app, Commands& commands);
void add_system_commands(CLI::App& app, Commands& commands);

// Prints "korvex: " and the sentence to stderr, after the results printed
// so far.
void report_error(const std::string& sentence);

// Reports a usage error as usage_sentence (core/text.h) words it, pointing to
// the help of `command` (empty: korvex's own), and answers exit_usage.
int report_usage_error(std::string_view what, std::string_view command);

}  // namespace korvex::host
