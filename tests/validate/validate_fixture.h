// A temporary folder and panel-host validate run in it, for validate's tests.
#ifndef VALIDATE_FIXTURE_H
#define VALIDATE_FIXTURE_H

#include "shell_command.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

class Validate : public ::testing::Test {
  protected:
    ShellResult panelHost(const std::string& arguments, const std::string& environment = "") {
        return shell(environment + " " + PANEL_HOST + " " + arguments, folder + "/out.txt");
    }
    ShellResult validate(const std::string& arguments, const std::string& environment = "") {
        return panelHost("validate " + arguments + " --out " + folder + "/found", environment);
    }

    std::vector<std::string> savedScenarios() {
        std::vector<std::string> paths;
        if (DIR* dir = opendir((folder + "/found").c_str())) {
            while (dirent* entry = readdir(dir))
                if (std::string(entry->d_name).find(".scenario") != std::string::npos)
                    paths.push_back(folder + "/found/" + entry->d_name);
            closedir(dir);
        }
        return paths;
    }

    // Steps in a saved scenario: lines that are neither comments, start-up
    // settings nor expectations.
    static int actionCount(const std::string& path) {
        std::ifstream in(path);
        int actions = 0;
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#' && line.rfind("startup ", 0) != 0 &&
                line.rfind("expect ", 0) != 0)
                ++actions;
        return actions;
    }

    TemporaryFolder temporary;
    const std::string folder = temporary.path();
};

#endif
