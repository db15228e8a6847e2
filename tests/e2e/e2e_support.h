// What the end-to-end tests against the simulators share: a scratch folder for
// bench, data and trace files, transcripts with their times masked, and
// kelvo-instsim as a child.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <iterator>
#include <string>
#include <vector>

#include "cli_process.h"
#ifdef KELVO_INSTSIM_PATH
#include "instsim_process.h"
#endif

namespace kelvo::e2e {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-e2e-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
        path_ = pattern;
    }
    ~ScratchDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path(const std::string& name) const { return (path_ / name).string(); }

    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }

    std::string Read(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path path_;
};

// The transcript with every elapsed time ("0.02" before " seconds") shown as "T".
inline std::string MaskTimes(const std::string& text) {
    static const std::regex seconds(R"(\d+\.\d\d(\{\d+\} seconds))");
    return std::regex_replace(text, seconds, "T$1");
}

#ifdef KELVO_INSTSIM_PATH
// kelvo-instsim on a free port of the loopback address, stopped with SIGTERM,
// which it must obey.
class InstrumentServer {
public:
    // `options` are kelvo-instsim's, less --listen.
    explicit InstrumentServer(const std::vector<std::string>& options) : process_(Arguments(options), "\n", kGenerousTimeout) {
        // "listening on 127.0.0.1:PORT" once the socket is ready.
        if (Port() == 0) ADD_FAILURE() << "kelvo-instsim did not start: '" << process_.Output() << "'";
    }
    ~InstrumentServer() { EXPECT_TRUE(process_.Stop()) << "kelvo-instsim did not stop cleanly on SIGTERM"; }
    InstrumentServer(const InstrumentServer&) = delete;
    InstrumentServer& operator=(const InstrumentServer&) = delete;

    int Port() const { return process_.Port(""); }

private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& options) {
        std::vector<std::string> args{"--listen", "127.0.0.1:0"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    testsupport::InstsimProcess process_;
};
#endif  // KELVO_INSTSIM_PATH

}  // namespace kelvo::e2e
