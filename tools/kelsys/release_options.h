// kelsys release --options and key make --choose: a release's option
// definition files read as a tree, and selection texts made from option names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component.h"

namespace kelsys {

// Prints the option tree of the release's file for signature, or with
// signature 0 of every option definition file in its syskey folder.
int ShowReleaseOptions(const std::string& release, int32_t signature);

// The selection text that chooses these options, one-choice groups left
// without a name taking their first option. 0, or the exit code of a refusal.
int MakeSelection(const std::string& release, int32_t signature, const std::vector<std::string>& names, WString& selection);

}  // namespace kelsys
