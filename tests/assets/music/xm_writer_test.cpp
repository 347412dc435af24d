// The XM writer, read back by libxmp: delta-coded 8- and 16-bit sample data, loops, envelopes, tuning and pattern
// cells arrive as written; modules that break the format's limits are refused with a reason.
#include "assets/music/xm_writer.h"

#include <gtest/gtest.h>
#include <xmp.h>

#include <random>
#include <string>
#include <vector>

namespace {

namespace xm = zorbrix::xm;

xm::Module two_sample_module() {
    std::mt19937 rng(1234);
    xm::Module m;
    m.name = "round trip";
    m.channels = 4;
    m.speed = 5;
    m.bpm = 140;
    m.patterns.emplace_back(64, 4);
    m.patterns.emplace_back(16, 4);
    m.orders = {1, 0, 1};
    m.restart_position = 1;
    xm::Cell& c = m.patterns[0].at(3, 2);
    c = {xm::note(4, 9), 2, xm::vol(40), xm::FX_VOLUME_SLIDE, 0x0f};
    m.patterns[0].at(10, 0).note = xm::KEY_OFF;

    xm::Instrument eight;
    eight.name = "eight";
    xm::Sample s8;
    s8.sixteen_bit = false;
    for (int i = 0; i < 300; ++i) s8.data.push_back(static_cast<int16_t>(static_cast<int>(rng() % 256) - 128));
    s8.data[0] = -128;
    s8.data[1] = 127;  // the widest step wraps in the delta coding
    s8.loop = xm::Sample::Loop::PingPong;
    s8.loop_start = 100;
    s8.loop_length = 200;  // to the end: libxmp unrolls ping-pong loops past their end in memory
    s8.relative_note = -12;
    s8.finetune = -37;
    s8.volume = 48;
    eight.samples.push_back(s8);
    eight.volume_envelope = {{{0, 0}, {10, 64}, {30, 20}, {50, 0}}, 2, 1, 2};
    eight.fadeout = 1024;
    m.instruments.push_back(eight);

    xm::Instrument sixteen;
    sixteen.name = "sixteen";
    xm::Sample s16;
    for (int i = 0; i < 500; ++i) s16.data.push_back(static_cast<int16_t>(rng()));
    s16.data[0] = -32768;
    s16.data[1] = 32767;
    s16.loop = xm::Sample::Loop::Forward;
    s16.loop_start = 10;
    s16.loop_length = 490;
    s16.relative_note = 24;
    sixteen.samples.push_back(s16);
    m.instruments.push_back(sixteen);
    return m;
}

TEST(XmWriter, LibxmpReadsBackSamplesLoopsEnvelopesAndCells) {
    const xm::Module m = two_sample_module();
    std::string error;
    const auto bytes = xm::write_module(m, &error);
    ASSERT_FALSE(bytes.empty()) << error;

    xmp_context ctx = xmp_create_context();
    ASSERT_EQ(xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size())), 0);
    xmp_module_info info;
    xmp_get_module_info(ctx, &info);
    const xmp_module& mod = *info.mod;
    EXPECT_STREQ(mod.name, "round trip");
    EXPECT_EQ(mod.chn, 4);
    EXPECT_EQ(mod.spd, 5);
    EXPECT_EQ(mod.bpm, 140);
    EXPECT_EQ(mod.len, 3);
    EXPECT_EQ(mod.rst, 1);
    EXPECT_EQ(mod.xxo[0], 1);
    EXPECT_EQ(mod.xxp[0]->rows, 64);
    EXPECT_EQ(mod.xxp[1]->rows, 16);
    ASSERT_EQ(mod.ins, 2);
    ASSERT_EQ(mod.smp, 2);

    const xmp_event& e = mod.xxt[mod.xxp[0]->index[2]]->event[3];
    EXPECT_EQ(e.note, xm::note(4, 9) + 12);  // libxmp keeps XM notes an octave up
    EXPECT_EQ(e.ins, 2);
    EXPECT_EQ(e.fxt, xm::FX_VOLUME_SLIDE);
    EXPECT_EQ(e.fxp, 0x0f);
    EXPECT_EQ(mod.xxt[mod.xxp[0]->index[0]]->event[10].note, XMP_KEY_OFF);

    const xmp_sample& a = mod.xxs[0];
    EXPECT_FALSE(a.flg & XMP_SAMPLE_16BIT);
    ASSERT_EQ(a.len, 300);
    EXPECT_EQ(a.lps, 100);
    EXPECT_EQ(a.lpe, 300);
    EXPECT_TRUE(a.flg & XMP_SAMPLE_LOOP_BIDIR);
    const auto& want8 = m.instruments[0].samples[0].data;
    for (int i = 0; i < a.len; ++i) ASSERT_EQ(static_cast<int8_t>(a.data[i]), want8[static_cast<size_t>(i)]) << i;

    const xmp_sample& b = mod.xxs[1];
    EXPECT_TRUE(b.flg & XMP_SAMPLE_16BIT);
    ASSERT_EQ(b.len, 500);
    EXPECT_EQ(b.lps, 10);
    EXPECT_EQ(b.lpe, 500);
    const auto* data16 = reinterpret_cast<const int16_t*>(b.data);
    const auto& want16 = m.instruments[1].samples[0].data;
    for (int i = 0; i < b.len; ++i) ASSERT_EQ(data16[i], want16[static_cast<size_t>(i)]) << i;

    const xmp_instrument& ins = mod.xxi[0];
    EXPECT_STREQ(ins.name, "eight");
    EXPECT_EQ(ins.sub[0].xpo, -12);
    EXPECT_EQ(ins.sub[0].fin, -37);
    EXPECT_EQ(ins.sub[0].vol, 48);
    EXPECT_EQ(ins.aei.npt, 4);
    EXPECT_TRUE(ins.aei.flg & XMP_ENVELOPE_ON);
    EXPECT_TRUE(ins.aei.flg & XMP_ENVELOPE_SUS);
    EXPECT_TRUE(ins.aei.flg & XMP_ENVELOPE_LOOP);
    EXPECT_EQ(ins.aei.sus, 2);
    EXPECT_EQ(ins.aei.lps, 1);
    EXPECT_EQ(ins.aei.lpe, 2);
    EXPECT_EQ(ins.aei.data[2], 10);
    EXPECT_EQ(ins.aei.data[3], 64);
    EXPECT_EQ(mod.xxi[1].sub[0].xpo, 24);
    EXPECT_FALSE(mod.xxi[1].aei.flg & XMP_ENVELOPE_ON);

    xmp_release_module(ctx);
    xmp_free_context(ctx);
}

TEST(XmWriter, RefusesModulesOutsideTheFormatsLimits) {
    auto refused = [](xm::Module m, const std::string& why) {
        std::string error;
        EXPECT_TRUE(xm::write_module(m, &error).empty()) << why;
        EXPECT_FALSE(error.empty()) << why;
    };
    const xm::Module good = two_sample_module();
    ASSERT_FALSE(xm::write_module(good).empty());

    xm::Module m = good;
    m.orders.clear();
    refused(m, "no orders");
    m = good;
    m.orders.push_back(7);
    refused(m, "order names a missing pattern");
    m = good;
    m.restart_position = 3;
    refused(m, "restart beyond the orders");
    m = good;
    m.patterns.emplace_back(300, 4);
    refused(m, "too many rows");
    m = good;
    m.patterns.emplace_back(16, 5);
    refused(m, "wrong channel count");
    m = good;
    m.patterns[0].at(0, 0).instrument = 3;
    refused(m, "missing instrument");
    m = good;
    m.instruments[0].samples[0].data[5] = 200;
    refused(m, "8-bit value out of range");
    m = good;
    m.instruments[0].samples[0].loop_length = 1000;
    refused(m, "loop past the end");
    m = good;
    for (uint16_t t = 60; t < 80; ++t) m.instruments[0].volume_envelope.points.push_back({t, 10});
    refused(m, "too many envelope points");
    m = good;
    m.instruments[0].volume_envelope.points[2].tick = 5;
    refused(m, "envelope ticks going back");
    m = good;
    m.instruments[0].volume_envelope.sustain = 9;
    refused(m, "sustain point past the last point");
}

}  // namespace
