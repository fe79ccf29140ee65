// The plants behind the virtual boards, driven with raw packets.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "sim/plant/plant.h"

namespace {

using kelbsim::Plant;

struct PlantDeleter {
    void operator()(Plant *plant) const { kelbsim::PlantDestroy(plant); }
};
using PlantPtr = std::unique_ptr<Plant, PlantDeleter>;

struct Block {
    uint8_t b[kelbsim::kInputBlockSize];
    unsigned Word(int at) const { return b[at] | b[at + 1] << 8; }
    unsigned U24(int at) const { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }
    int S24(int at) const { int v = U24(at); return v >= 0x800000 ? v - 0x1000000 : v; }
    int S20(int k) const  // counters 1..6 as the library unpacks them
    {
        const uint8_t *p = b + 16 + 5 * ((k - 1) / 2);
        int v = (k % 2) ? p[0] | p[1] << 8 | (p[2] & 0x0F) << 16 : p[2] >> 4 | p[3] << 4 | p[4] << 12;
        return v >= 0x80000 ? v - 0x100000 : v;
    }
};

Block Next(Plant *plant)
{
    Block block;
    kelbsim::PlantBlock(plant, block.b);
    return block;
}

// A motor packet: DAC codes from volts as the boards take them.
std::vector<uint8_t> MotorPacket(uint8_t command, double dac1, double dac2, uint16_t watchdog,
                                 uint8_t digital = 0)
{
    auto code = [](double v) { return static_cast<uint16_t>(std::lround((v + 10) * 65535 / 20)); };
    const uint16_t c1 = code(dac1), c2 = code(dac2);
    return {command, uint8_t(c1), uint8_t(c1 >> 8), uint8_t(c2), uint8_t(c2 >> 8), digital,
            uint8_t(watchdog), uint8_t(watchdog >> 8)};
}

void Send(Plant *plant, const std::vector<uint8_t> &packet)
{
    kelbsim::PlantReceive(plant, packet.data(), static_cast<int>(packet.size()));
}

TEST(TirkPlant, PositiveDacTurnsForwardAndTheBlockSaysSo)
{
    PlantPtr tirk(kelbsim::PlantCreate(0));
    Send(tirk.get(), MotorPacket(0, 5, 0, 0, 0xA5));
    Block block{};
    for (int i = 0; i < 2000; i++) block = Next(tirk.get());  // 0.2 s

    EXPECT_GT(kelbsim::PlantSpeed(tirk.get(), 1), 0);
    EXPECT_GT(block.S24(18), 0);
    EXPECT_EQ(block.b[31] & 0x80, 0) << "forward speed has the direction bit clear";
    EXPECT_LT(block.U24(21), 0xFFFFFFu) << "a turning motor has a finite period";
    // Speed from the period agrees with the plant's own speed.
    EXPECT_NEAR(603185.7894892403 / block.U24(21), kelbsim::PlantSpeed(tirk.get(), 1), 0.5);
    EXPECT_EQ(block.Word(16), block.b[31]) << "elapsed time is the sample, S microseconds";
    EXPECT_EQ(block.b[24], 0xA5) << "digital outputs are looped back";
    // Armature voltage on the +-12.5 V converter.
    EXPECT_NEAR(block.Word(27) * 25.0 / 65535 - 12.5, 5, 0.01);
    // Current flows forward but below the stall current.
    const double amps = block.Word(25) * 6.0 / 65535 - 3;
    EXPECT_GT(amps, 0);
    EXPECT_LT(amps, 5.0 / 4);
}

TEST(TirkPlant, ReverseSetsTheDirectionBitAndTheSampleFollowsTheStatusByte)
{
    PlantPtr tirk(kelbsim::PlantCreate(0));
    Send(tirk.get(), MotorPacket(0, -8, 0, 0));
    Block previous = Next(tirk.get());
    Block block = Next(tirk.get());
    for (int i = 0; i < 500; i++) {
        previous = block;
        block = Next(tirk.get());
    }
    EXPECT_NE(block.b[31] & 0x80, 0);
    EXPECT_LT(block.S24(18), 0);
    // The host's average speed, delta x 2pi / (S x 2000 us), matches the plant.
    const int delta = block.S24(18) - previous.S24(18);
    const double average = delta * 6.283185307179586 / (block.b[31] * 2000 * 1e-6);
    EXPECT_NEAR(average, kelbsim::PlantSpeed(tirk.get(), 1), 2.0 * 6.283185307179586 / (block.b[31] * 2e-3));
    EXPECT_NEAR(kelbsim::PlantTime(tirk.get()), 502 * block.b[31] * 1e-6, 1e-3);
}

TEST(TirkPlant, ABlockAfterRealTimeCoversItAndSaysSoInTheElapsedField)
{
    // 200 blocks of 1 ms turn the shaft as 2000 samples of 100 us do.
    PlantPtr wall(kelbsim::PlantCreate(0)), samples(kelbsim::PlantCreate(0));
    Send(wall.get(), MotorPacket(0, 5, 0, 0));
    Send(samples.get(), MotorPacket(0, 5, 0, 0));
    Block block{};
    for (int i = 0; i < 200; i++) kelbsim::PlantBlockAfter(wall.get(), block.b, 1e-3);
    for (int i = 0; i < 2000; i++) Next(samples.get());
    EXPECT_EQ(block.Word(16), 1000u);
    EXPECT_EQ(block.b[31], 100) << "the status byte stays one sample";
    EXPECT_NEAR(kelbsim::PlantTime(wall.get()), 0.2, 1e-9);
    EXPECT_NEAR(kelbsim::PlantAngle(wall.get(), 1), kelbsim::PlantAngle(samples.get(), 1), 1e-9);
    kelbsim::PlantBlockAfter(wall.get(), block.b, 0.1);
    EXPECT_EQ(block.Word(16), 65535u) << "the field's limit";
}

TEST(TirkPlant, WatchdogStopsTheDriveUntilTheNextPacket)
{
    PlantPtr tirk(kelbsim::PlantCreate(0));
    Send(tirk.get(), MotorPacket(0, 10, 0, 40));  // 10 ms watchdog
    for (int i = 0; i < 100; i++) Next(tirk.get());  // within it: driven
    const double driven = kelbsim::PlantSpeed(tirk.get(), 1);
    EXPECT_GT(driven, 5);
    for (int i = 0; i < 20000; i++) Next(tirk.get());  // 2 s without a packet
    EXPECT_LT(kelbsim::PlantSpeed(tirk.get(), 1), 0.01 * driven);
    Block block = Next(tirk.get());
    EXPECT_EQ(block.U24(21), 0xFFFFFFu) << "a standing motor reports no period";
    EXPECT_NEAR(block.Word(27) * 25.0 / 65535 - 12.5, 0, 0.001);

    Send(tirk.get(), MotorPacket(0, 10, 0, 40));
    for (int i = 0; i < 100; i++) Next(tirk.get());
    EXPECT_GT(kelbsim::PlantSpeed(tirk.get(), 1), 5);
}

TEST(TirkPlant, NoDriveBeforeTheFirstPacketWatchdogZeroNeverExpiresAndBitZeroZeroesTheEncoder)
{
    PlantPtr tirk(kelbsim::PlantCreate(0));
    for (int i = 0; i < 100; i++) Next(tirk.get());
    EXPECT_EQ(kelbsim::PlantSpeed(tirk.get(), 1), 0);

    Send(tirk.get(), MotorPacket(0, 3, 0, 0));
    for (int i = 0; i < 30000; i++) Next(tirk.get());  // 3 s
    EXPECT_GT(kelbsim::PlantSpeed(tirk.get(), 1), 40);
    EXPECT_GT(Next(tirk.get()).S24(18), 1000);

    Send(tirk.get(), MotorPacket(1, 3, 0, 0));
    EXPECT_LT(std::abs(Next(tirk.get()).S24(18)), 20) << "encoder restarts from zero";
}

TEST(TwoAxisPlants, EachDacDrivesItsAxisAndPacketsOfTheWrongLengthAreIgnored)
{
    for (int model : {1, 2, 3}) {
        PlantPtr plant(kelbsim::PlantCreate(model));
        std::vector<uint8_t> packet = MotorPacket(0, 6, -6, 0);
        if (model == 2) packet.resize(16, 0);
        Send(plant.get(), std::vector<uint8_t>(packet.begin(), packet.end() - 1));  // short
        for (int i = 0; i < 100; i++) Next(plant.get());
        EXPECT_EQ(kelbsim::PlantSpeed(plant.get(), 1), 0) << "model " << model;

        Send(plant.get(), packet);
        Block block{};
        for (int i = 0; i < 1000; i++) block = Next(plant.get());
        EXPECT_GT(block.S24(18), 0) << "model " << model;
        EXPECT_LT(block.S24(21), 0) << "model " << model;
        EXPECT_EQ(block.b[31], 100) << "model " << model;
    }
}

TEST(FeldarPlant, KeepsSetpointWordsByAddressAndIgnoresEmptySlots)
{
    PlantPtr feldar(kelbsim::PlantCreate(2));
    std::vector<uint8_t> packet = MotorPacket(0, 0, 0, 0);
    const uint16_t words[4] = {3 * 1024 + 600, 0, 63 * 1024 + 1000, 0};
    for (uint16_t w : words) {
        packet.push_back(uint8_t(w));
        packet.push_back(uint8_t(w >> 8));
    }
    Send(feldar.get(), packet);
    EXPECT_EQ(kelbsim::PlantSetpoint(feldar.get(), 3), 3 * 1024 + 600);
    EXPECT_EQ(kelbsim::PlantSetpoint(feldar.get(), 63), 63 * 1024 + 1000);
    EXPECT_EQ(kelbsim::PlantSetpoint(feldar.get(), 0), 0);
}

std::vector<uint8_t> PulsePacket(uint8_t control, uint16_t period, const uint16_t pulse[3])
{
    std::vector<uint8_t> packet{control};
    for (int k = 0; k < 3; k++)
        for (uint16_t w : {period, pulse[k]}) {
            packet.push_back(uint8_t(w));
            packet.push_back(uint8_t(w >> 8));
        }
    return packet;
}

TEST(GaspilodenPlant, ServosFollowThePulseWidthAndCountersFourToSixCountPulses)
{
    PlantPtr plant(kelbsim::PlantCreate(4));
    const uint16_t servo[3] = {6720, 2880, 4800};  // +1, -1, 0 at 50 Hz
    Send(plant.get(), PulsePacket(0, 64000, servo));
    Block block{};
    for (int i = 0; i < 10000; i++) block = Next(plant.get());  // 1 s
    EXPECT_EQ(block.S20(1), 1000);
    EXPECT_EQ(block.S20(2), -1000);
    EXPECT_EQ(block.S20(3), 0);
    for (int k = 4; k <= 6; k++) EXPECT_NEAR(block.S20(k), 50, 1);
}

TEST(GaspilodenPlant, DutyDrivesCountersInTheDirectionBitsSenseAndBitZeroResetsCounterOne)
{
    PlantPtr plant(kelbsim::PlantCreate(4));
    const uint16_t duty[3] = {1600, 800, 0};  // 1000 Hz: half, quarter, none
    Send(plant.get(), PulsePacket(0x20, 3200, duty));
    Block block{};
    for (int i = 0; i < 1000; i++) block = Next(plant.get());  // 0.1 s
    EXPECT_NEAR(block.S20(1), 1000, 2);
    EXPECT_NEAR(block.S20(2), -500, 2);
    EXPECT_EQ(block.S20(3), 0);
    EXPECT_NEAR(block.S20(4), 100, 1);

    const uint16_t full[3] = {3200, 0, 0};
    Send(plant.get(), PulsePacket(0x01, 3200, full));
    EXPECT_LE(Next(plant.get()).S20(1), 2);
    // 27 s at 20000 counts/s: counter 1 runs past 2^19 and wraps.
    for (int i = 0; i < 270000; i++) block = Next(plant.get());
    EXPECT_LT(block.S20(1), 0);
    EXPECT_GT(block.S20(1), -524288);
}

}  // namespace
