/* A C program written against the Linux GPIB library's own headers, linked with
 * the simulated libgpib.so.0: it calls every function the library exports and
 * checks what a program would rely on. Bench: tests/sim/data/c_api_bench.yaml
 * (a meter at 6 with a status byte of 0x50, a counter at 5). Prints one line per
 * failed check and ends with "N passed, N failed". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <gpib/ib.h>

static int passed, failed;

#define CHECK(cond)                                                                          \
    do {                                                                                     \
        if (cond) {                                                                          \
            ++passed;                                                                        \
        } else {                                                                             \
            ++failed;                                                                        \
            printf("line %d: %s (ibsta %x iberr %d ibcntl %ld)\n", __LINE__, #cond, ibsta, iberr, \
                   ibcntl);                                                                  \
        }                                                                                    \
    } while (0)

#define OK(call) CHECK(((call) & ERR) == 0)
#define FAILS(call, error) CHECK(((call) & ERR) != 0 && iberr == (error))

static void check_ok(int line) {
    if (ibsta & ERR) {
        ++failed;
        printf("line %d: ERR (iberr %d %s)\n", line, iberr, gpib_error_string(iberr));
    } else {
        ++passed;
    }
}
#define OK_VOID() check_ok(__LINE__)

int main(int argc, char** argv) {
    const char* dir = argc > 1 ? argv[1] : ".";
    char path[4096];
    char buffer[256];
    char byte = 0;
    short s = 0;
    int value = -1;

    int board = ibfind("gpib0");
    CHECK(board >= 0);
    OK(ibsic(board));
    OK(ibsre(board, 1));
    OK(ibtmo(board, T1s));
    OK(ibeot(board, 1));
    OK(ibeos(board, 0));
    OK(ibrsc(board, 1));
    OK(ibdma(board, 0));
    OK(ibpad(board, 0));
    OK(ibsad(board, 0));
    OK(ibconfig(board, IbcAUTOPOLL, 0));
    OK(ibask(board, IbaTMO, &value));
    CHECK(value == T1s);
    OK(ibask(board, IbaSC, &value));
    CHECK(value == 1);
    OK(ibask(board, IbaEOT, &value));
    CHECK(value == 1);
    FAILS(ibask(board, IbaSPollTime, &value), EARG); /* a device option */

    /* Device descriptors: write, read, clear, trigger, poll, local. */
    int dev = ibdev(0, 6, 0, T1s, 1, 0);
    CHECK(dev >= 0);
    OK(ibask(dev, IbaPAD, &value));
    CHECK(value == 6);
    OK(ibwrt(dev, "*IDN?\n", 6));
    CHECK(ibcntl == 6);
    memset(buffer, 0, sizeof buffer);
    OK(ibrd(dev, buffer, sizeof buffer - 1));
    CHECK(strcmp(buffer, "KELVO,CT-1\n") == 0);
    CHECK((ibsta & END) != 0);
    CHECK(ThreadIbcnt() == ibcnt && ThreadIbcntl() == ibcntl && ThreadIbsta() == ibsta && ThreadIberr() == iberr);
    OK(ibrsp(dev, &byte));
    CHECK(byte == 0x50);
    OK(ibrsp(dev, &byte));
    CHECK(byte == 0x10); /* RQS goes with the first poll */
    OK(ibclr(dev));
    OK(ibtrg(dev));
    OK(ibloc(dev));
    OK(ibppc(dev, 0x60 | 0x08 | 2));
    OK(ibspb(dev, &s));
    CHECK(s == 0);
    OK(ibbna(dev, "gpib0"));
    FAILS(ibbna(dev, "gpib7"), EARG);

    /* Asynchronous transfers and their own status copies. */
    OK(ibwrta(dev, "*IDN?\n", 6));
    ibwait(dev, CMPL);
    CHECK((ibsta & CMPL) != 0 && ibcntl == 6);
    CHECK((AsyncIbsta() & CMPL) != 0 && AsyncIbcnt() == 6 && AsyncIbcntl() == 6 && AsyncIberr() == 0);
    OK(ibrda(dev, buffer, sizeof buffer - 1));
    ibwait(dev, CMPL | TIMO);
    CHECK(ibcntl == 11 && AsyncIbcntl() == 11);
    OK(ibstop(dev));

    /* Files. */
    snprintf(path, sizeof path, "%s/query.txt", dir);
    FILE* f = fopen(path, "w");
    fputs("*IDN?\n", f);
    fclose(f);
    OK(ibwrtf(dev, path));
    CHECK(ibcntl == 6);
    snprintf(path, sizeof path, "%s/reply.txt", dir);
    OK(ibrdf(dev, path));
    CHECK(ibcntl == 11);
    FAILS(ibwrtf(dev, "/nonexistent/dir/file"), EFSO);

    /* Board calls. */
    OK(ibcmd(board, "\x3f\x5f", 2));
    OK(ibcmda(board, "\x3f\x5f", 2));
    ibwait(board, CMPL);
    OK(ibgts(board, 0));
    OK(ibcac(board, 0));
    OK(iblines(board, &s));
    CHECK((s & ValidREN) && (s & BusREN));
    OK(ibln(board, 6, NO_SAD, &s));
    CHECK(s == 1);
    OK(ibln(board, 9, NO_SAD, &s));
    CHECK(s == 0);
    OK(ibln(board, 6, 0x7E, &s)); /* the last secondary address; instruments have none */
    CHECK(s == 0);
    FAILS(ibln(board, 6, 0x7F, &s), EARG);
    FAILS(ibln(board, 6, 0x5F, &s), EARG);
    OK(ibist(board, 1));
    OK(ibask(board, IbaIst, &value));
    CHECK(value == 1);
    OK(ibrsv(board, 0x41));
    OK(ibrsv2(board, 0x01, 1));
    OK(ibask(board, IbaRsv, &value));
    CHECK(value == 0x41);
    OK(ibppc(board, 0));
    OK(ibevent(board, &s));
    CHECK(s == 0);
    OK(ibrpp(board, &byte));
    CHECK(byte == 0x04); /* the meter answers on line 3 with sense 1 (ist true) */
    FAILS(ibbna(board, "gpib0"), EARG);
    FAILS(ibpct(board), EARG);
    char* version = NULL;
    ibvers(&version);
    CHECK(version != NULL && strcmp(version, "4.3.7") == 0);
    CHECK(strcmp(gpib_error_string(EARG), "EARG 4: Bad argument") == 0);
    CHECK(strcmp(gpib_error_string(99), "libgpib: Unknown error code") == 0);

    /* The multi-device calls. */
    Addr4882_t meter[] = {6, NOADDR};
    Addr4882_t both[] = {5, 6, NOADDR};
    Addr4882_t all[32];
    for (int i = 0; i < 31; ++i) all[i] = (Addr4882_t)i;
    all[31] = NOADDR;
    Addr4882_t found[31];
    short results[4];

    FindLstn(board, all, found, 31);
    OK_VOID();
    CHECK(ibcntl == 2 && found[0] == 5 && found[1] == 6);
    FindLstn(board, all, found, 1);
    CHECK((ibsta & ERR) && iberr == ETAB);
    SendCmds(board, "\x3f\x5f", 2);
    OK_VOID();
    SendSetup(board, meter);
    OK_VOID();
    SendDataBytes(board, "*IDN?", 5, NLend);
    OK_VOID();
    ReceiveSetup(board, 6);
    OK_VOID();
    memset(buffer, 0, sizeof buffer);
    RcvRespMsg(board, buffer, sizeof buffer - 1, STOPend);
    OK_VOID();
    CHECK(strcmp(buffer, "KELVO,CT-1\n") == 0);
    Send(board, 5, "*IDN?", 5, NLend);
    OK_VOID();
    memset(buffer, 0, sizeof buffer);
    Receive(board, 5, buffer, sizeof buffer - 1, STOPend);
    OK_VOID();
    CHECK(strcmp(buffer, "KELVO,FC-2\n") == 0);
    Send(board, 5, "*IDN?", 5, NLend); /* a termination byte ends the read early */
    memset(buffer, 0, sizeof buffer);
    Receive(board, 5, buffer, sizeof buffer - 1, ',');
    CHECK(strcmp(buffer, "KELVO,") == 0 && ibcntl == 6);
    Receive(board, 5, buffer, sizeof buffer - 1, STOPend);
    CHECK(ibcntl == 5 && strncmp(buffer, "FC-2\n", 5) == 0 && (ibsta & END));
    SendList(board, both, "*CLS", 4, NLend);
    OK_VOID();
    DevClear(board, 6);
    OK_VOID();
    DevClear(board, NOADDR);
    OK_VOID();
    DevClearList(board, both);
    OK_VOID();
    Trigger(board, 5);
    OK_VOID();
    TriggerList(board, both);
    OK_VOID();
    EnableRemote(board, both);
    OK_VOID();
    SetRWLS(board, meter);
    OK_VOID();
    SendLLO(board);
    OK_VOID();
    EnableLocal(board, meter);
    OK_VOID();
    EnableLocal(board, NULL);
    OK_VOID();
    EnableRemote(board, NULL);
    OK_VOID();
    ReadStatusByte(board, 5, &s);
    OK_VOID();
    CHECK(s == 0x42);
    AllSPoll(board, both, results);
    OK_VOID();
    CHECK(results[0] == 0x02 && results[1] == 0x10);
    AllSpoll(board, both, results);
    OK_VOID();
    FindRQS(board, both, &s);
    CHECK((ibsta & ERR) && iberr == ETAB);
    TestSRQ(board, &s);
    OK_VOID();
    CHECK(s == 0);
    WaitSRQ(board, &s);
    CHECK(s == 0 && (ibsta & TIMO));
    PPollConfig(board, 5, 2, 1);
    OK_VOID();
    PPoll(board, &s);
    OK_VOID();
    CHECK(s == 0x06);
    PPollUnconfig(board, meter);
    OK_VOID();
    PPollUnconfig(board, NULL);
    OK_VOID();
    TestSys(board, both, results);
    OK_VOID();
    CHECK(ibcntl == 1 && results[0] == 1 && results[1] == 0); /* the counter fails its self-test */
    ResetSys(board, both);
    OK_VOID();
    SendIFC(board);
    OK_VOID();
    PassControl(board, 5);
    OK_VOID();
    FAILS(ibcmd(board, "\x3f", 1), ECIC); /* control went to the counter */
    SendIFC(board);
    OK(ibcmd(board, "\x3f", 1));
    OK(ibpct(dev));
    SendIFC(board);

    /* Bad descriptors and addresses. */
    FAILS(ibwrt(99, "x", 1), EARG);
    Send(board, 31, "x", 1, NLend);
    CHECK((ibsta & ERR) && iberr == EARG);

    OK(ibonl(dev, 0));
    OK(ibonl(board, 0));
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
