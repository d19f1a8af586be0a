// Runs a fuzz target over files and folders (recursively) where libFuzzer is
// not available, so that the seeds and every recorded crash stay covered by
// CTest. Usage: Fuzz<Thing> [--ext=bmp,gif] path...; --ext filters the files
// of the folders that follow it by extension (case-insensitive). A folder that
// does not exist is skipped; running no input at all is an error, since such a
// test could never fail.

#include "FuzzTarget.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Wanted(const std::filesystem::path& path, const std::set<std::string>& extensions)
{
    if (extensions.empty())
        return true;
    std::string ext = Lower(path.extension().string());
    if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    return extensions.count(ext) != 0;
}

void RunFile(const std::filesystem::path& path, std::size_t& count)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes(
        (std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Say which input runs, so that a crash names it.
    std::cerr << "replay " << path.string() << " (" << bytes.size() << " bytes)\n";
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
}

} // namespace

int main(int argc, char** argv)
{
    std::set<std::string> extensions;
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--ext=", 0) == 0) {
            extensions.clear();
            std::string list = Lower(arg.substr(6));
            std::size_t at = 0;
            while (at <= list.size()) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                if (comma > at)
                    extensions.insert(list.substr(at, comma - at));
                at = comma + 1;
            }
            continue;
        }
        const std::filesystem::path path(arg);
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) {
            RunFile(path, count);
        } else if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file() && Wanted(entry.path(), extensions))
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& file : files)
                RunFile(file, count);
        }
    }
    std::cout << "replayed " << count << " inputs\n";
    return count == 0 ? 1 : 0;
}
