#pragma once

// The manifests of the sample corpora in tests/data: tab-separated text, one
// file per line, below a line of column names.

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace zx::test {

// The cells of every line after the first. A manifest that cannot be read is
// a failure of the calling test, not an empty corpus.
inline std::vector<std::vector<std::string>> ReadManifestCells(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return rows;
    }
    std::string line;
    std::getline(in, line); // column names
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        rows.push_back(std::move(cells));
    }
    return rows;
}

} // namespace zx::test
