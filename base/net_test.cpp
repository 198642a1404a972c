#include <gtest/gtest.h>

#include <thread>

#include "base/net.h"

namespace zel::net {
namespace {

struct NetFixture : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(startup()); }
    void TearDown() override { cleanup(); }

    // A connected loopback TCP pair on an ephemeral port.
    void connectPair(Socket& client, Socket& server) {
        Socket listener = tcp_socket();
        ASSERT_TRUE(bind(listener, {kLoopbackAddress, 0}));
        ASSERT_TRUE(listen(listener, 2));
        Ipv4Endpoint at;
        ASSERT_TRUE(local_endpoint(listener, at));
        client = tcp_socket();
        ASSERT_TRUE(connect(client, at, 2000));
        server = accept(listener);
        ASSERT_TRUE(server.valid());
    }
};

TEST(NetAddress, ParseAndFormat) {
    uint32_t a = 0;
    EXPECT_TRUE(parse_ipv4("192.168.1.20", a));
    EXPECT_EQ(a, 0xC0A80114u);
    EXPECT_EQ(format_ipv4(a), "192.168.1.20");
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ",
                            "1.2.3.0004"}) {
        EXPECT_FALSE(parse_ipv4(bad, a)) << bad;
    }
}

TEST_F(NetFixture, TcpTransfersAndReportsOrderlyClose) {
    Socket client, server;
    connectPair(client, server);
    ASSERT_TRUE(set_tcp_nodelay(client, true));
    ASSERT_TRUE(set_send_buffer(server, 65536));
    EXPECT_GT(send_buffer_size(server), 0);
    const std::string message(100000, 'z');
    std::thread sender([&] { EXPECT_TRUE(send_all(client, message.data(), message.size())); });
    std::string got(message.size(), '\0');
    size_t received = 0;
    EXPECT_EQ(receive_exact(server, got.data(), got.size(), received), IoStatus::Ok);
    sender.join();
    EXPECT_EQ(got, message);
    client.close();
    char byte;
    EXPECT_EQ(receive_some(server, &byte, 1, received), IoStatus::Closed);
}

TEST_F(NetFixture, WouldBlockAndTimeoutAreNotErrors) {
    Socket client, server;
    connectPair(client, server);
    char byte;
    size_t received = 0;
    ASSERT_TRUE(set_nonblocking(server, true));
    EXPECT_EQ(receive_some(server, &byte, 1, received), IoStatus::WouldBlock);
    ASSERT_TRUE(set_nonblocking(server, false));
    ASSERT_TRUE(set_receive_timeout(server, 50));
    const IoStatus st = receive_some(server, &byte, 1, received);
    EXPECT_TRUE(st == IoStatus::Timeout || st == IoStatus::WouldBlock);
    EXPECT_EQ(wait_readable(server, 0), 0);
}

TEST_F(NetFixture, UdpDatagramsCarrySourceAndTruncation) {
    Socket receiver = udp_socket();
    ASSERT_TRUE(bind(receiver, {kLoopbackAddress, 0}));
    Ipv4Endpoint at;
    ASSERT_TRUE(local_endpoint(receiver, at));
    Socket sender = udp_socket();
    ASSERT_TRUE(set_ip_tos(sender, 0xB8));
    ASSERT_TRUE(set_nonblocking(sender, true));
    const std::string payload(300, 'p');
    ASSERT_EQ(send_to(sender, payload.data(), payload.size(), at), IoStatus::Ok);
    ASSERT_EQ(send_to(sender, "hi", 2, at), IoStatus::Ok);
    Ipv4Endpoint senderAt;
    ASSERT_TRUE(local_endpoint(sender, senderAt));  // bound implicitly by the send

    ASSERT_EQ(wait_readable(receiver, 2000), 1);
    char buffer[64];
    size_t got = 0;
    bool truncated = false;
    Ipv4Endpoint from;
    ASSERT_EQ(receive_from(receiver, buffer, sizeof buffer, got, from, &truncated), IoStatus::Ok);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(got, sizeof buffer);
    EXPECT_EQ(from.port, senderAt.port);
    ASSERT_EQ(wait_readable(receiver, 2000), 1);
    ASSERT_EQ(receive_from(receiver, buffer, sizeof buffer, got, from, &truncated), IoStatus::Ok);
    EXPECT_FALSE(truncated);
    EXPECT_EQ(std::string(buffer, got), "hi");
    ASSERT_TRUE(set_nonblocking(receiver, true));
    EXPECT_EQ(receive_from(receiver, buffer, sizeof buffer, got, from), IoStatus::WouldBlock);
}

TEST_F(NetFixture, SecondListenerOnTheSamePortIsRefused) {
    Socket first = tcp_socket();
    ASSERT_TRUE(bind(first, {kAnyAddress, 0}));
    ASSERT_TRUE(listen(first, 2));
    Ipv4Endpoint at;
    ASSERT_TRUE(local_endpoint(first, at));
    Socket second = tcp_socket();
    EXPECT_FALSE(bind(second, {kAnyAddress, at.port}) && listen(second, 2));
}

}  // namespace
}  // namespace zel::net
