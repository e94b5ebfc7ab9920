#include "app/command_line.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/program_options.hpp>

#include "output/datagram_fit.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

namespace tallowick::app {

namespace po = boost::program_options;

namespace {
po::options_description option_table() {
    const unsigned line_length = po::options_description::m_default_line_length;
    po::options_description table("Allowed options", line_length, line_length / 2);
    table.add_options()("help", "produce help message")("path", po::value<std::vector<std::string>>(),
                                                        "set path to monitor")(
        "excludeproc", po::value<std::vector<std::string>>(), "set process to exclude")(
        "envelope", "add time, host, run and sequence to every message, and send the agent's own")(
        "max-datagram", po::value<std::string>(), "the largest datagram to send, 1024 to 65507 bytes");
    // Not in the banner, which stays as users know it.
    table.add_options()("version", "print the program's name and version")(
        "install-service", "register the agent as a Windows service with these options")(
        "uninstall-service", "stop and remove the service")(
        "service", "run as the service (the service control manager starts it so)");
    return table;
}

static_assert(largest_max_datagram == output::max_datagram_payload);

// Digits only: "+2048", " 2048" or "2048x" are not a size someone meant.
std::size_t max_datagram_of(const std::string& text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value < smallest_max_datagram || value > largest_max_datagram)
        throw std::invalid_argument("--max-datagram needs a number of bytes from " +
                                    std::to_string(smallest_max_datagram) + " to " +
                                    std::to_string(largest_max_datagram) + ", not \"" + text + "\"");
    return value;
}

bool spelt_out_only(const std::string& key) {
    return key == "version" || key == "install-service" || key == "uninstall-service" || key == "service";
}

// The first of the actions asked for, in the order of their weight: the banner
// before everything, as ever; the manager's run before what a user asks for;
// removing before installing.
program_action action_of(const po::variables_map& values) {
    constexpr std::pair<const char*, program_action> actions[] = {
        {"help", program_action::help},
        {"version", program_action::version},
        {"service", program_action::run_as_service},
        {"uninstall-service", program_action::uninstall_service},
        {"install-service", program_action::install_service},
    };
    for (const auto& [option, action] : actions) {
        if (values.count(option) != 0)
            return action;
    }
    return program_action::run;
}

// An empty value (often an unset shell variable) would match every path or
// exclude every process: the command line is malformed instead.
std::vector<std::string> values_of(const po::variables_map& values, const char* option) {
    if (values.count(option) == 0)
        return {};
    std::vector<std::string> list = values[option].as<std::vector<std::string>>();
    if (std::find(list.begin(), list.end(), std::string()) != list.end())
        throw std::invalid_argument(std::string("--") + option + " needs a value that is not empty");
    return list;
}
} // namespace

std::string strip_drive_prefix(const std::string& path) {
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, path, boost::algorithm::is_any_of(":"));
    return pieces.size() >= 2 ? pieces[1] : path;
}

command_line parse_command_line(int argc, const char* const* argv) {
    const po::options_description table = option_table();
    po::variables_map values;
    po::parsed_options parsed = po::command_line_parser(argc, argv).options(table).allow_unregistered().run();
    // The parser takes a prefix for the whole name ("--in" for --install-service):
    // the switches that act count only when spelt out, so that a slip never
    // installs a service. Unspelt, they are ignored as any unknown option is.
    const auto unspelt = [](const po::option& option) {
        return spelt_out_only(option.string_key) &&
               (option.original_tokens.empty() || option.original_tokens.front() != "--" + option.string_key);
    };
    // What is not taken, in the order typed: unknown options, values no option
    // took, and those switches.
    std::vector<std::string> ignored;
    for (const po::option& option : parsed.options) {
        if (option.unregistered || option.position_key != -1 || unspelt(option))
            ignored.insert(ignored.end(), option.original_tokens.begin(), option.original_tokens.end());
    }
    std::erase_if(parsed.options, unspelt);
    po::store(parsed, values);
    po::notify(values);

    command_line result;
    result.ignored = std::move(ignored);
    result.action = action_of(values);
    if (result.action == program_action::help) {
        result.help = true;
        return result;
    }
    if (result.action == program_action::version || result.action == program_action::uninstall_service)
        return result;
    for (const std::string& path : values_of(values, "path"))
        result.paths.push_back(strip_drive_prefix(path));
    result.excluded_processes = values_of(values, "excludeproc");
    result.envelope = values.count("envelope") != 0;
    if (values.count("max-datagram") != 0)
        result.max_datagram = max_datagram_of(values["max-datagram"].as<std::string>());
    return result;
}

std::string ignored_argument_line(const std::string& argument) {
    if (argument.starts_with('-'))
        return "tallowick: unknown option \"" + argument + "\" ignored";
    return "tallowick: argument \"" + argument + "\" ignored: no option takes it";
}

const char* help_banner() {
    return "\n"
           "=================\n"
           "Velmar Tallowick\n"
           "=================\n"
           "   --path  <path to monitor for file changes>\n"
           "   --excludeproc  <exclude process from monitoring file changes>\n"
           "\n"
           "!!! IMPORTANT: please be sure to use double dashes (--) in front of arguments \n"
           "    (e.g. --path, not -path)\n"
           "\n";
}

std::string version_line() {
    return std::string("Tallowick ") + TALLOWICK_VERSION;
}

} // namespace tallowick::app
