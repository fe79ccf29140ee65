// The plug-in exports one function, mexFunction, under symbol version MEX.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "mexhost.h"

TEST(Exports, MexFunctionIsTheOnlyDefinedFunction) {
    std::string command = "readelf --dyn-syms -W '" + kelbhost::DefaultModulePath() + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    ASSERT_EQ(pclose(pipe), 0) << output;

    // Num: Value Size Type Bind Vis Ndx Name
    std::vector<std::string> defined;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(f >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
        if (type == "FUNC" && ndx != "UND") defined.push_back(name);
    }
    EXPECT_EQ(defined, std::vector<std::string>{"mexFunction@@MEX"}) << output;
}
