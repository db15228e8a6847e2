// A command file over TCP/IP against kelvo-instsim: one connection serves the
// whole file, and each message reaches the instrument in one piece.
#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"
#include "e2e_support.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::e2e {
namespace {

TEST(TcpCommandFile, OneConnectionForTheFileAndEachMessageInOnePiece) {
    const ScratchDir dir;
    const std::string trace = dir.Path("trace.txt");
    const std::string cmd = dir.Write("idn.txt", "ENTER ; *IDN?\nIF MID 6 WID 4 STR DMM6\nTRUE\n;model\nCONT\nE ;*IDN?\n");
    {
        InstrumentServer sim({"--trace", trace});
        ASSERT_GT(sim.Port(), 0);
        const CliResult r =
            RunCli({"--attrs", "--tcpip", "--port", std::to_string(sim.Port())}, "RUN " + cmd + "\n");
        EXPECT_NE(r.out.find("{5}IF MID 6 WID 4 STR DMM6\n{5}TRUE\n{5};{3}model\n{5}CONT\n"), std::string::npos)
            << r.out;
        EXPECT_TRUE(r.out.ends_with("{5}* No Errors Detected *\n{5}**********************\n")) << r.out;
    }
    const std::string log = dir.Read("trace.txt");
    // The string and its end message arrive together: " *IDN?" and LF.
    EXPECT_NE(log.find("\nRX 20 2a 49 44 4e 3f 0a\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nRX 2a 49 44 4e 3f 0a\n"), std::string::npos) << log;
    std::size_t connects = 0;
    for (std::size_t at = log.find("CONNECT"); at != std::string::npos; at = log.find("CONNECT", at + 1)) ++connects;
    EXPECT_EQ(connects, 1u) << log;
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
