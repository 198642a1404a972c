#include <gtest/gtest.h>

#include "base/bytes.h"
#include "tools/receiver/access_code.h"
#include "tools/receiver/input_script.h"
#include "tools/receiver/media_files.h"
#include "tools/receiver/reassembler.h"
#include "tools/receiver/summary.h"
#include "tools/receiver/tcp_stream.h"

namespace zel::receiver {
namespace {

using Bytes = std::vector<uint8_t>;
using protocol::MediaHeader;

TEST(AccessCode, NormalisesAndDerivesTheToken) {
    EXPECT_EQ(normalize_access_code("ab-cd"), "ABCD");
    EXPECT_EQ(normalize_access_code("A1BO0CD"), "ABCD");  // 1, O and 0 are not in the alphabet
    EXPECT_EQ(derive_session_token("abcd"), 0xE12E115ACF4552B2ull);
    EXPECT_EQ(derive_session_token(" 2345 "), 0x38083C7EE9121E17ull);
    EXPECT_EQ(derive_session_token("ZZ99"), 0x366F1BC98C95BC89ull);
    EXPECT_EQ(derive_session_token("AB1D"), 0u);  // only three usable characters
    EXPECT_EQ(derive_session_token("ABCDE"), 0u);
}

MediaHeader fragment(uint32_t frame, uint16_t index, uint16_t count, uint16_t length) {
    MediaHeader h;
    h.frameSequence = frame;
    h.fragmentIndex = index;
    h.fragmentCount = count;
    h.payloadLength = length;
    h.timestampUs = frame * 1000ull;
    return h;
}

// maxDatagram 100 gives 60-byte chunks.
constexpr uint16_t kMax = 100;

Bytes chunk_of(uint32_t frame, uint16_t index, uint16_t length) {
    return Bytes(length, uint8_t(frame * 16 + index));
}

TEST(Reassembler, OutOfOrderAndDuplicateFragments) {
    Reassembler r(kMax);
    EXPECT_FALSE(r.add(fragment(1, 2, 3, 10), chunk_of(1, 2, 10)));
    EXPECT_FALSE(r.add(fragment(1, 0, 3, 60), chunk_of(1, 0, 60)));
    EXPECT_FALSE(r.add(fragment(1, 0, 3, 60), chunk_of(1, 0, 60)));
    const auto done = r.add(fragment(1, 1, 3, 60), chunk_of(1, 1, 60));
    ASSERT_TRUE(done);
    Bytes expected = chunk_of(1, 0, 60);
    for (auto part : {chunk_of(1, 1, 60), chunk_of(1, 2, 10)}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(done->data, expected);
    EXPECT_EQ(done->timestampUs, 1000u);
    EXPECT_EQ(r.duplicates(), 1u);
    // A late copy of the finished frame is not delivered again.
    EXPECT_FALSE(r.add(fragment(1, 1, 3, 60), chunk_of(1, 1, 60)));
    EXPECT_EQ(r.late(), 1u);
}

TEST(Reassembler, NewerFrameSupersedesAnIncompleteOne) {
    Reassembler r(kMax);
    EXPECT_FALSE(r.add(fragment(5, 0, 2, 60), chunk_of(5, 0, 60)));
    EXPECT_TRUE(r.add(fragment(6, 0, 1, 20), chunk_of(6, 0, 20)));
    EXPECT_EQ(r.superseded(), 1u);
    EXPECT_EQ(r.pending(), 0u);
    // The rest of frame 5 comes too late to be useful.
    EXPECT_FALSE(r.add(fragment(5, 1, 2, 5), chunk_of(5, 1, 5)));
    // Serial order: 0xFFFFFFFF is older than 6.
    EXPECT_FALSE(r.add(fragment(0xFFFFFFFF, 0, 1, 1), chunk_of(0, 0, 1)));
    EXPECT_EQ(r.late(), 2u);
}

TEST(Reassembler, MalformedFragmentsAreRefused) {
    Reassembler r(kMax);
    EXPECT_FALSE(r.add(fragment(1, 0, 2, 59), chunk_of(1, 0, 59)));  // short middle fragment
    EXPECT_FALSE(r.add(fragment(1, 1, 2, 61), chunk_of(1, 1, 61)));  // longer than a chunk
    EXPECT_FALSE(r.add(fragment(1, 0, 2, 60), chunk_of(1, 0, 10)));  // length mismatch
    EXPECT_EQ(r.malformed(), 3u);
    EXPECT_FALSE(r.add(fragment(2, 0, 2, 60), chunk_of(2, 0, 60)));
    EXPECT_FALSE(r.add(fragment(2, 1, 3, 60), chunk_of(2, 1, 60)));  // count changed
    EXPECT_EQ(r.malformed(), 4u);
}

TEST(Reassembler, PendingFramesStayBounded) {
    Reassembler r(kMax);
    for (uint32_t f = 1; f <= 100; ++f) r.add(fragment(f, 0, 65535, 60), chunk_of(f, 0, 60));
    EXPECT_EQ(r.pending(), Reassembler::kMaxPending);
}

TEST(LossCounter, GapsReorderingAndDuplicates) {
    LossCounter c;
    for (uint32_t s : {10u, 11u, 13u, 12u, 12u, 16u}) c.add(s);
    EXPECT_EQ(c.received(), 5u);
    EXPECT_EQ(c.lost(), 2u);  // 14 and 15
    EXPECT_EQ(c.duplicates(), 1u);
    LossCounter wrap;
    for (uint32_t s : {0xFFFFFFFEu, 0xFFFFFFFFu, 1u}) wrap.add(s);
    EXPECT_EQ(wrap.lost(), 1u);
}

TEST(TcpStream, SplitsPacketsAcrossAnyReadBoundary) {
    Bytes stream;
    auto add = [&](auto bytes) { stream.insert(stream.end(), bytes.begin(), bytes.end()); };
    add(protocol::build_metadata({true, 64, 48, 30, 2, 2}));
    add(protocol::build_frame_v2_header(1, 99, 3));
    add(Bytes{7, 8, 9});
    add(protocol::build_audio_header(4, 5, 480, 2));
    add(Bytes{1, 2});
    add(protocol::build_frame_v1_header(2, 0));
    for (size_t split = 0; split <= stream.size(); ++split) {
        TcpStreamParser p;
        std::vector<TcpStreamParser::Packet> packets;
        p.append(std::span(stream.data(), split));
        while (auto packet = p.next()) packets.push_back(*packet);
        p.append(std::span(stream.data() + split, stream.size() - split));
        while (auto packet = p.next()) packets.push_back(*packet);
        ASSERT_FALSE(p.failed());
        ASSERT_EQ(packets.size(), 4u) << split;
        EXPECT_EQ(packets[0].metadata.width, 64);
        EXPECT_EQ(packets[1].payload, (Bytes{7, 8, 9}));
        EXPECT_EQ(packets[1].timestampUs, 99u);
        EXPECT_EQ(packets[2].samples, 480);
        EXPECT_EQ(packets[3].kind, TcpStreamParser::Kind::VideoV1);
        EXPECT_EQ(p.buffered(), 0u);
    }
}

TEST(TcpStream, UnknownTagsAndHugeLengthsFail) {
    TcpStreamParser junk;
    junk.append(Bytes{'N', 'O', 'P', 'E'});
    EXPECT_FALSE(junk.next());
    EXPECT_TRUE(junk.failed());
    TcpStreamParser huge;
    auto header = protocol::build_frame_v1_header(1, TcpStreamParser::kMaxPayload + 1);
    huge.append(header);
    EXPECT_FALSE(huge.next());
    EXPECT_TRUE(huge.failed());
}

TEST(InputScript, ParsesEventsAndNamesBadLines) {
    std::vector<ScriptedInput> events;
    std::string error;
    ASSERT_TRUE(
        parse_input_script("# comment\n\n100 key 1 0 65 0 0\r\n"
                           "150 5 1 2 1 -300 0  # pad axis\n200 touch 1 0 1 1000 2000",
                           events, error));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, (RemoteInputEvent{1, 1, 0, 65, 0, 0}));
    EXPECT_EQ(events[1].atMs, 150u);
    EXPECT_EQ(events[1].event.x, -300);
    EXPECT_EQ(events[1].event.player, 2);
    EXPECT_EQ(events[2].event.kind, 7);
    for (const char* bad : {"1 key 1 0 65 0", "x key 1 0 65 0 0", "1 nokind 1 0 65 0 0",
                            "5 key 1 0 65 0 0\n4 key 0 0 65 0 0", "1 key 256 0 1 0 0"}) {
        EXPECT_FALSE(parse_input_script(bad, events, error)) << bad;
        EXPECT_NE(error.find("input script line"), std::string::npos);
    }
}

TEST(MediaFiles, PngStructureAndChecksums) {
    EXPECT_EQ(crc32(Bytes{'I', 'E', 'N', 'D'}), 0xAE426082u);
    const Bytes rgb = {255, 0, 0, 0, 255, 0};
    const std::string png = encode_png_rgb(2, 1, rgb);
    ASSERT_GT(png.size(), 8u + 25 + 12);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    const auto* p = reinterpret_cast<const uint8_t*>(png.data());
    EXPECT_EQ(get_u32_be(p + 16), 2u);
    EXPECT_EQ(get_u32_be(p + 20), 1u);
    EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
    // Stored deflate block: zlib header, final block of 7 bytes, raw row.
    const size_t idat = png.find("IDAT");
    EXPECT_EQ(png.substr(idat + 4, 7), std::string("\x78\x01\x01\x07\x00\xF8\xFF", 7));
    EXPECT_EQ(png.substr(idat + 11, 7), std::string("\0\xFF\0\0\0\xFF\0", 7));
}

TEST(MediaFiles, WavHeader) {
    const std::vector<int16_t> samples = {1, -1, 2, -2};
    const std::string wav = encode_wav(48000, 2, samples);
    ASSERT_EQ(wav.size(), 44u + 8);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(wav.substr(44), std::string("\x01\x00\xFF\xFF\x02\x00\xFE\xFF", 8));
}

TEST(Summary, PercentilesAndJson) {
    EXPECT_FALSE(percentile({}, 50));
    std::vector<double> v;
    for (int i = 100; i >= 1; --i) v.push_back(i);
    EXPECT_EQ(percentile(v, 50), 50);
    EXPECT_EQ(percentile(v, 95), 95);
    EXPECT_EQ(percentile(v, 99), 99);
    EXPECT_EQ(percentile({7}, 99), 7);
    ReceiverSummary s;
    s.ok = true;
    s.error = "a \"quoted\" text";
    s.arrivalLatencyMs = {1, 2, 3};
    const std::string json = summary_json(s);
    EXPECT_NE(json.find("\"error\":\"a \\\"quoted\\\" text\""), std::string::npos);
    EXPECT_NE(json.find("\"arrivalLatencyMs\":{\"samples\":3,\"p50\":2,\"p95\":3,\"p99\":3}"),
              std::string::npos);
    EXPECT_NE(json.find("\"decodeLatencyMs\":null"), std::string::npos);
}

}  // namespace
}  // namespace zel::receiver
