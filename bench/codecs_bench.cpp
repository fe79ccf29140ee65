// Cost of a control-loop step: Write then Read through mexFunction, in the
// stand-in MATLAB, against a virtual board and its plant.  The plant alone
// is measured too, so its share can be taken off.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "mexhost.h"
#include "sim/plant/plant.h"
#include "sim/usb/kelbsim.h"

namespace {

const char *kPortNames[] = {"TIRK1", "SORVANDEL1", "FELDAR1", "MORSIVAN1", "GASPILODEN1"};

// The host keeps every array and the bus every log entry until reset, so
// both are emptied now and then outside the timing.
constexpr int kResetEvery = 4096;

struct Session {
    kelbhost::Module mex;
    const mxArray *port = nullptr;

    explicit Session(int model)
    {
        kelbhost::Reset();
        kelbsim::Reset();
        if (!mex.Load()) {
            std::fprintf(stderr, "%s\n", mex.LastError().c_str());
            return;
        }
        kelbsim::AddBoard(model);
        auto r = mex.Call(1, {kelbhost::Char("Open"), kelbhost::Char(kPortNames[model])});
        if (!r.failed) port = r.out[0];
    }
    ~Session()
    {
        mex.Exit();  // the ports close while their boards are still on the bus
        kelbsim::Reset();
    }

    // Frees what the calls so far have left and fetches the port object anew.
    void Tidy(int model)
    {
        kelbhost::Reset();
        kelbsim::ClearLog();
        port = mex.Call(1, {kelbhost::Char("GetParams"), kelbhost::Char(kPortNames[model])}).out[0];
    }
};

void Cycle(benchmark::State &state, int model, std::vector<const mxArray *> (*values)())
{
    Session s(model);
    if (!s.port) {
        state.SkipWithError("cannot open the virtual board");
        return;
    }
    std::vector<const mxArray *> write = values(), read;
    int n = 0;
    for (auto _ : state) {
        if (++n % kResetEvery == 0) {
            state.PauseTiming();
            s.Tidy(model);
            write = values();
            state.ResumeTiming();
        }
        write[1] = s.port;
        auto w = s.mex.Call(1, write);
        auto r = s.mex.Call(2, {kelbhost::Char("Read"), s.port});
        benchmark::DoNotOptimize(r.out[0]);
        if (w.failed || r.failed) {
            state.SkipWithError("call failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

std::vector<const mxArray *> MotorValues()
{
    return {kelbhost::Char("Write"), nullptr, kelbhost::Double(0), kelbhost::Double(0),
            kelbhost::Double(2.5)};
}

std::vector<const mxArray *> FeldarValues()
{
    return {kelbhost::Char("Write"), nullptr, kelbhost::Double(0), kelbhost::Double(0),
            kelbhost::Doubles(1, 2, {1, -1}),
            kelbhost::Doubles(8, 2, {1, 2, 3, 4, 5, 6, 7, 8, 10, 20, 30, 40, 50, 60, 70, 80})};
}

std::vector<const mxArray *> GaspilodenValues()
{
    return {kelbhost::Char("Write"), nullptr, kelbhost::Double(0), kelbhost::Double(1000),
            kelbhost::Double(0.5), kelbhost::Double(-0.25), kelbhost::Double(0)};
}

void BM_TirkWriteRead(benchmark::State &state) { Cycle(state, 0, MotorValues); }
void BM_FeldarEightSetpointsWriteRead(benchmark::State &state) { Cycle(state, 2, FeldarValues); }
void BM_GaspilodenWriteRead(benchmark::State &state) { Cycle(state, 4, GaspilodenValues); }

void BM_TirkPlantBlock(benchmark::State &state)
{
    kelbsim::Plant *plant = kelbsim::PlantCreate(0);
    const uint8_t packet[8] = {0, 0, 0xC0, 0, 0x80, 0, 0, 0};
    kelbsim::PlantReceive(plant, packet, 8);
    uint8_t block[kelbsim::kInputBlockSize];
    for (auto _ : state) {
        kelbsim::PlantBlock(plant, block);
        benchmark::DoNotOptimize(block);
    }
    kelbsim::PlantDestroy(plant);
}

BENCHMARK(BM_TirkWriteRead);
BENCHMARK(BM_FeldarEightSetpointsWriteRead);
BENCHMARK(BM_GaspilodenWriteRead);
BENCHMARK(BM_TirkPlantBlock);

}  // namespace

BENCHMARK_MAIN();
