#include "app/command_line.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/program_options.hpp>

#include <algorithm>
#include <stdexcept>

namespace tallowick::app {

namespace po = boost::program_options;

namespace {
po::options_description option_table() {
    const unsigned line_length = po::options_description::m_default_line_length;
    po::options_description table("Allowed options", line_length, line_length / 2);
    table.add_options()("help", "produce help message")("path", po::value<std::vector<std::string>>(),
                                                        "set path to monitor")(
        "excludeproc", po::value<std::vector<std::string>>(), "set process to exclude");
    return table;
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
    const po::parsed_options parsed =
        po::command_line_parser(argc, argv).options(table).allow_unregistered().run();
    po::store(parsed, values);
    po::notify(values);

    command_line result;
    result.ignored = po::collect_unrecognized(parsed.options, po::include_positional);
    if (values.count("help") != 0) {
        result.help = true;
        return result;
    }
    for (const std::string& path : values_of(values, "path"))
        result.paths.push_back(strip_drive_prefix(path));
    result.excluded_processes = values_of(values, "excludeproc");
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

} // namespace tallowick::app
