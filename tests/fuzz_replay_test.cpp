// Every fuzz target on hostile inputs and on each input a fuzzer once found
// failing (fuzz/regressions/<target>/): none may crash, here or under ASan.
#include <gtest/gtest.h>

#include <string>

#include "platform/os.h"
#include "support/test_support.h"
#include "targets.h"

namespace kel {
namespace {

TEST(FuzzReplay, TargetsSurviveHostileAndRecordedInputs) {
    const std::string deep = std::string(20000, '<') + "a";
    std::string nested = "<OptionSelection><ZD><ProgramNr>Zendara</ProgramNr><MainGroups><Group><Category>c</Category>"
                         "<GroupItem><Selected>1</Selected><LineSelectionDescription>o</LineSelectionDescription>"
                         "<RefSubGUID>g</RefSubGUID></GroupItem></Group></MainGroups><SubGroups><Group><SubGUID>g</SubGUID>"
                         "<GroupItem><Selected>1</Selected><LineSelectionDescription>s</LineSelectionDescription>"
                         "<RefSubGUID>g</RefSubGUID></GroupItem></Group></SubGroups></ZD></OptionSelection>";
    const std::string hostile[] = {"", "\xFE", "\xFDKSF1\x01\x02\x03\x04", std::string(5000, '\n'), deep, nested,
                                   "KEL1:R:1:7:Zendara:::00000000", "grp1 \"A\"\ngrp1 1,1 \"o\" void &S\n\n&S\ngrp2 \"S\"\n"
                                   "grp2 1,1 \"p\" void &S\n\n"};
    for (const fuzz::NamedTarget& target : fuzz::kTargets) {
        for (const std::string& input : hostile) target.run(input);
        std::vector<os::DirEntry> recorded;
        const WString folder = test::SourceDir() + u"\\fuzz\\regressions\\" + FromUtf8(target.name);
        os::ListDirectory(folder, recorded);
        for (const os::DirEntry& entry : recorded) {
            if (entry.isDirectory || entry.name.starts_with(u".")) continue;
            SCOPED_TRACE(std::string(target.name) + " " + test::N(entry.name));
            target.run(test::ReadAll(folder + u"\\" + entry.name));
        }
    }
}

}  // namespace
}  // namespace kel
