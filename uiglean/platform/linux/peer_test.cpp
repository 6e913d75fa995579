#include "uiglean/platform/linux/peer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

TEST(PeerAddress, OnlyOneUnixSocketIsAccepted) {
  auto path = parsePeerAddress("unix:path=/run/user/1000/at-spi2-socket-42");
  ASSERT_TRUE(path);
  EXPECT_FALSE(path->abstract);
  EXPECT_EQ(path->name, "/run/user/1000/at-spi2-socket-42");

  auto abstract = parsePeerAddress("unix:abstract=/tmp/dbus-AbC,guid=0123456789abcdef");
  ASSERT_TRUE(abstract);
  EXPECT_TRUE(abstract->abstract);
  EXPECT_EQ(abstract->name, "/tmp/dbus-AbC");

  // Escapes are undone, in either case of hex digit.
  auto escaped = parsePeerAddress("unix:path=/tmp/a%20b%2c%2Cc");
  ASSERT_TRUE(escaped);
  EXPECT_EQ(escaped->name, "/tmp/a b,,c");
}

TEST(PeerAddress, ProgramsNetworksListsAndMalformedAddressesAreRefused) {
  for (const char* address : {
           "unixexec:path=/bin/sh,argv1=-c,argv2=touch%20/tmp/x",
           "tcp:host=127.0.0.1,port=4444",
           "nonce-tcp:host=localhost,port=1,noncefile=/tmp/n",
           "launchd:env=DBUS_LAUNCHD_SESSION_BUS_SOCKET",
           "systemd:",
           "autolaunch:",
           "unix:path=/tmp/a;unixexec:path=/bin/sh",  // a list: the second would be tried
           "unix:tmpdir=/tmp",                         // a place to listen, not to connect
           "unix:runtime=yes",
           "unix:path=/tmp/a,abstract=b",              // two sockets
           "unix:path=/tmp/a,path=/tmp/b",
           "unix:path=/tmp/a,guid=1,guid=2",
           "unix:path=/tmp/a,bogus=1",
           "unix:path=",
           "unix:path",
           "unix:",
           "",
           "UNIX:path=/tmp/a",
           "unix:path=/tmp/%zz",
           "unix:path=/tmp/%2",
           "unix:path=/tmp/a%00b",                     // a NUL would cut the path short
       }) {
    EXPECT_FALSE(parsePeerAddress(address)) << address;
  }
  // Longer than a socket address holds.
  std::string longest(sizeof(sockaddr_un{}.sun_path) - 1, 'a');
  EXPECT_TRUE(parsePeerAddress("unix:path=/" + longest.substr(1)));
  EXPECT_FALSE(parsePeerAddress("unix:path=/" + longest));
  EXPECT_TRUE(parsePeerAddress("unix:abstract=" + longest));
  EXPECT_FALSE(parsePeerAddress("unix:abstract=" + longest + "a"));
}

TEST(PeerAddress, ASocketOfAnotherProcessOrNoSocketGivesNoConnection) {
  // Our own listening socket: its owner is this process, so any other pid is refused, and a
  // socket nobody listens on is not reached.
  std::string path = "/tmp/uiglean-peer-test-" + std::to_string(::getpid());
  ::unlink(path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  path.copy(sa.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  std::uint64_t soon = monotonicUsec() + 200'000;
  EXPECT_EQ(connectPeerBus("unix:path=" + path, ::getpid() + 1, soon), nullptr);
  EXPECT_EQ(connectPeerBus("unix:path=" + path + "-none", ::getpid(), soon), nullptr);
  // Our own pid passes the owner check, but nothing answers the authentication: the deadline
  // ends the wait.
  std::uint64_t before = monotonicUsec();
  EXPECT_EQ(connectPeerBus("unix:path=" + path, ::getpid(), before + 200'000), nullptr);
  EXPECT_LT(monotonicUsec() - before, 2'000'000U);
  ::close(fd);
  ::unlink(path.c_str());
}

}  // namespace
}  // namespace uiglean::lx
