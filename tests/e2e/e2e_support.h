// What the end-to-end tests against the simulators share: a scratch folder for
// bench, data and trace files, transcripts with their times masked, and the
// simulators' trace files read back as lines.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace kelvo::e2e {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-e2e-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path(const std::string& name) const { return (path_ / name).string(); }

    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream file(Path(name), std::ios::binary);
        file << bytes;
        return Path(name);
    }

    std::string Read(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    std::vector<std::string> Lines(const std::string& name) const {
        std::vector<std::string> lines;
        std::ifstream file(Path(name));
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path path_;
};

// The transcript with every elapsed time ("0.02" before " seconds") shown as "T".
inline std::string MaskTimes(const std::string& text) {
    static const std::regex seconds(R"(\d+\.\d\d(\{\d+\} seconds))");
    return std::regex_replace(text, seconds, "T$1");
}

// The simulated bus's trace cut into what each command line did: every line
// sets the board up ("IFC", "REN 1") and takes it off line ("ONL 0") at its end;
// each part holds the events in between.
inline std::vector<std::vector<std::string>> PerCommandLine(const std::vector<std::string>& trace) {
    std::vector<std::vector<std::string>> parts(1);
    for (const std::string& event : trace) {
        if (event == "ONL 0") {
            std::vector<std::string>& part = parts.back();
            const std::size_t setUp = part.size() >= 2 && part[0] == "IFC" && part[1] == "REN 1" ? 2 : 0;
            part.erase(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(setUp));
            parts.emplace_back();
        } else {
            parts.back().push_back(event);
        }
    }
    parts.pop_back();  // events after the last "ONL 0": none in a finished run
    return parts;
}

}  // namespace kelvo::e2e
