// kelsys commands that work on systems and backups through the component.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace kelsys {

// Adds the system and backup commands; the returned function runs the one
// that was chosen (after parsing) and gives the exit code, or -1 when none was.
std::function<int(bool trace)> AddSystemCommands(CLI::App& app);

// Checks a system's files against each other; one line per finding, exit 0 only when clean.
int Verify(const std::string& system, bool trace);

// The systems of a pool folder and what is not one, without opening them.
int List(const std::string& pool, bool json);

// What sets two systems apart: programs, keys, chosen options, home and parameter files.
int Diff(const std::string& first, const std::string& second, bool json, bool trace);

}  // namespace kelsys
