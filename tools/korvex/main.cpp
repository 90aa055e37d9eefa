// korvex: command-line host of the korvex32 library. Each command's folder
// registers its subcommand and options; this file parses the command line,
// answers help and --version, loads the library and runs the command chosen.
#include <CLI/CLI.hpp>

#include <string>

#include "core/command.h"
#include "core/console.h"
#include "core/host_os.h"

using namespace korvex::host;

namespace {

// Help as the peers print it: "--rows N" and the default in the description,
// without CLI11's type names, "..." on repeatable options and the
// "Excludes:" lists (the descriptions say what goes together).
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter() { column_width(26); }

    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_type_size() == 0) return {};
        if (!option->nonpositional()) return option->get_items_expected_max() > 1 ? " ..." : "";
        // The value's name alone: CLI11 appends its checks ("N:INT in [1 -
        // 1000000]"), which the description words for people.
        const std::string type = option->get_type_name();
        return " " + type.substr(0, type.find(':'));
    }

    std::string make_option_desc(const CLI::Option* option) const override {
        const std::string& fallback = option->get_default_str();
        if (option->get_type_size() == 0 || fallback.empty()) return option->get_description();
        return option->get_description() + " (default: " + fallback + ")";
    }
};

// The subcommand the parser was in when it stopped, for pointing to its help.
std::string command_chosen(const CLI::App& app) {
    const auto chosen = app.get_subcommands();
    return chosen.empty() ? std::string() : chosen.back()->get_name();
}

// The help of `command` alone. CLI::App::help would print the help of the
// subcommand chosen on the command line instead (for "korvex help", that of
// the help command).
std::string help_of(const CLI::App& command) {
    const CLI::App* parent = command.get_parent();
    const std::string name =
        parent == nullptr ? command.get_name() : parent->get_name() + " " + command.get_name();
    return command.get_formatter()->make_help(&command, name, CLI::AppFormatMode::Normal);
}

// The machine korvex was built for, named as korvex names a PE image's: the
// 64-bit build lists the modules of every process, the 32-bit one of 32-bit
// processes only.
constexpr const char* built_for =
#if defined(__x86_64__) || defined(_M_X64)
    "x86-64";
#elif defined(__i386__) || defined(_M_IX86)
    "i386";
#elif defined(__aarch64__)
    "ARM64";
#else
    "unknown machine";
#endif

int run(int argc, char** argv) {
    CLI::App app{"korvex: inspect executables and snapshot running processes with korvex32",
                 "korvex"};
    app.formatter(std::make_shared<HelpFormatter>());
    // Windows-style "/option" parsing would take every absolute path under
    // Wine ("/tmp/x.dll") for an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    app.footer(
        "Exit status: 0 all well, 1 some input failed or the output could not be written, "
        "2 the command line was wrong.\nkorvex help COMMAND shows the options of one command.");
    bool show_version = false;
    app.add_flag("--version", show_version, "Print the versions of korvex and of the library");

    std::string help_topic;
    auto* help_command =
        app.add_subcommand("help", "Show the commands, or the options of one command");
    help_command->add_option("COMMAND", help_topic, "Command to explain");

    Commands commands;
    add_inspect_command(app, commands);
    add_deps_command(app, commands);
    add_snapshot_commands(app, commands);
    add_diff_command(app, commands);
    add_system_commands(app, commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const auto chosen = app.get_subcommands();
        print_text(help_of(chosen.empty() ? app : *chosen.back()));
        return exit_ok;
    } catch (const CLI::ParseError& error) {
        return report_usage_error(error.what(), command_chosen(app));
    }

    if (*help_command) {
        const CLI::App* topic = &app;
        if (help_topic == "help") {
            topic = help_command;
        } else if (!help_topic.empty()) {
            topic = nullptr;
            for (const auto& command : commands)
                if (command.parsed->get_name() == help_topic) topic = command.parsed;
        }
        if (topic == nullptr) return report_usage_error("there is no command " + help_topic, {});
        print_text(help_of(*topic));
        return exit_ok;
    }
    if (!show_version && app.get_subcommands().empty())
        return report_usage_error("a command is required", {});

    Library library;
    std::string error;
    if (!load_library(library, error)) {
        report_error(error);
        return exit_failure;
    }
    if (show_version) {
        print("korvex %s (%s)\nlibrary %s%s%s\n", KORVEX_HOST_VERSION, built_for,
              library.path.c_str(), library.version.empty() ? "" : " version ",
              library.version.c_str());
        return exit_ok;
    }
    for (const auto& command : commands)
        if (*command.parsed) return command.run(library);
    return exit_usage;
}

}  // namespace

int korvex::host::run_korvex(int argc, char** argv) {
    prepare_output();
    return finish_output(run(argc, argv));
}
