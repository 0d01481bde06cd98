// Cost of the loop-control channel: a one-shot reelctl run against loopstub (process
// start to exit: connect, command, quit) next to a bare spawn of /bin/true, and one
// request/reply round trip through the channel operations inside one process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "mess.hpp"
#include "mqueue.hpp"

extern char** environ;

namespace {

const std::string kReelctl = QAZ_BIN_DIR "/reelctl";
const std::string kLoopstub = QAZ_BIN_DIR "/loopstub";

int bench_key(int n) { return 0x53000000 + (static_cast<int>(getpid()) & 0xffff) * 16 + n; }

// Spawns a program with its output sent to /dev/null; its exit status or -1.
int spawn_wait(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A loopstub child for the whole run.
class StubProcess {
public:
    explicit StubProcess(int key) : key_(key)
    {
        int out[2];
        if (pipe(out) < 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::string wn = std::to_string(key);
            execl(kLoopstub.c_str(), "loopstub", "-wn", wn.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char line[32];
        ready_ = read(out[0], line, sizeof line) > 0;
        close(out[0]);
    }
    ~StubProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        int id = msgget(key_, 0);
        if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    }
    bool ready() const { return ready_; }

private:
    int key_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

std::vector<std::string> one_shot_args(int key)
{
    return {kReelctl, "-wn=" + std::to_string(key), "frame"};
}

void BM_BareSpawn(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(spawn_wait({"/bin/true"}));
}
BENCHMARK(BM_BareSpawn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneShotReelctl(benchmark::State& state)
{
    StubProcess stub(bench_key(0));
    if (!stub.ready()) {
        state.SkipWithError("loopstub did not start");
        return;
    }
    for (auto _ : state) {
        if (spawn_wait(one_shot_args(bench_key(0))) != 0) {
            state.SkipWithError("reelctl failed");
            break;
        }
    }
}
BENCHMARK(BM_OneShotReelctl)->Unit(benchmark::kMillisecond)->UseRealTime();

// Client and server operations in one process over one queue: request, sget, sput, get.
void BM_RoundTripInProcess(benchmark::State& state)
{
    MQ_offset(0);
    MQ_settype(0);
    int key = bench_key(1);
    int stale = msgget(key, 0);
    if (stale >= 0) msgctl(stale, IPC_RMID, nullptr);
    int qid = MQ_create(key);
    if (qid < 0) {
        state.SkipWithError("no queue");
        return;
    }
    MQ_put(qid, -1, "%d", 0);
    int conn_id = -1;
    char item[MQ_ITEM_SIZE];
    MQ_sget(qid, &conn_id, item);
    MQ_get(qid, MQ_TYPE_CONNECT, item);
    for (auto _ : state) {
        MQ_put(qid, conn_id, "%s", "frame");
        int from = -1;
        MQ_sget(qid, &from, item);
        MQ_sput(qid, from, 0, "frame=%d\n", 1);
        benchmark::DoNotOptimize(MQ_get(qid, conn_id, item));
    }
    MQ_sput(qid, conn_id, -1, "bye");
    MQ_del(qid);
}
BENCHMARK(BM_RoundTripInProcess)->Unit(benchmark::kMicrosecond);

// The same exchange with a loopstub child serving: two processes, two wake-ups.
void BM_RoundTripThroughLoopstub(benchmark::State& state)
{
    MQ_offset(0);
    MQ_settype(0);
    StubProcess stub(bench_key(3));
    int qid = stub.ready() ? MQ_open(bench_key(3)) : -1;
    int conn_id = qid >= 0 ? MQ_connect(qid) : -1;
    if (conn_id < 0) {
        state.SkipWithError("loopstub did not answer");
        return;
    }
    char item[MQ_ITEM_SIZE];
    for (auto _ : state) {
        MQ_put(qid, conn_id, "%s", "frame");
        benchmark::DoNotOptimize(MQ_get(qid, conn_id, item));
    }
    MQ_put(qid, conn_id, "%s", "quit");
    MQ_get(qid, conn_id, item);
}
BENCHMARK(BM_RoundTripThroughLoopstub)->Unit(benchmark::kMicrosecond)->UseRealTime();

double elapsed_ms(const std::vector<std::string>& args)
{
    auto start = std::chrono::steady_clock::now();
    spawn_wait(args);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Medians of the two process runs, alternated so that both see the same machine load,
// and their ratio.
void compare_one_shot_with_spawn()
{
    StubProcess stub(bench_key(2));
    if (!stub.ready()) {
        std::printf("loopstub did not start\n");
        return;
    }
    constexpr int kRuns = 201;
    std::vector<double> bare, one_shot;
    for (int i = 0; i < kRuns; ++i) {
        bare.push_back(elapsed_ms({"/bin/true"}));
        one_shot.push_back(elapsed_ms(one_shot_args(bench_key(2))));
    }
    double bare_ms = median(bare), one_shot_ms = median(one_shot);
    std::printf("median bare spawn: %.3f ms\nmedian one-shot reelctl: %.3f ms\nratio: %.2f (target <= 3)\n",
                bare_ms, one_shot_ms, one_shot_ms / bare_ms);
}

// Concurrent one-shot clients on one window: requests per second and the 99th-percentile
// latency of a whole reelctl run, for 1, 4 and 12 clients each running requests in a row.
void concurrent_one_shots()
{
    const int key = bench_key(4);   // the workers are other processes: their pid is not ours
    StubProcess stub(key);
    if (!stub.ready()) {
        std::printf("loopstub did not start\n");
        return;
    }
    constexpr int kPerClient = 60;
    for (int clients : {1, 4, 12}) {
        const std::size_t total = static_cast<std::size_t>(clients) * kPerClient;
        void* shared = mmap(nullptr, total * sizeof(double), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) return;
        double* latency = static_cast<double*>(shared);
        const auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> workers;
        for (int c = 0; c < clients; ++c) {
            pid_t pid = fork();
            if (pid == 0) {
                for (int i = 0; i < kPerClient; ++i) {
                    const auto t0 = std::chrono::steady_clock::now();
                    const int status = spawn_wait(one_shot_args(key));
                    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                    latency[c * kPerClient + i] = status == 0 ? ms : -ms;
                }
                _exit(0);
            }
            workers.push_back(pid);
        }
        for (pid_t pid : workers) waitpid(pid, nullptr, 0);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::vector<double> ms(latency, latency + total);
        const long failed = std::count_if(ms.begin(), ms.end(), [](double v) { return v < 0; });
        for (double& v : ms) v = std::abs(v);
        std::sort(ms.begin(), ms.end());
        std::printf("%2d concurrent clients: %zu requests, %.0f requests/s, p99 %.1f ms, max %.1f ms, failed %ld\n",
                    clients, total, static_cast<double>(total) / secs, ms[(total * 99) / 100 - 1], ms.back(), failed);
        munmap(shared, total * sizeof(double));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    MESS_set(0, M_warn);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compare_one_shot_with_spawn();
    concurrent_one_shots();
    return 0;
}
