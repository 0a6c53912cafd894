// TlsTunnel_test.cpp: the README's TLS tunnel works as written: the two example stunnel configurations
// (gateway/tls/) with their ports and certificate paths changed to this test's, a throwaway self-signed
// certificate, and a client of the wire protocol talking to the gateway through both ends.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/gateway/GatewayTestKit.h"

namespace {

const std::string kTlsFolder = std::string(VANTREL_SOURCE_DIR) + "/gateway/tls/";

// An example configuration with the values of some keys replaced.
std::string configured(const std::string& example, const std::map<std::string, std::string>& values) {
    std::ifstream in(kTlsFolder + example);
    std::string out, line;
    while (std::getline(in, line)) {
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos && values.count(line.substr(0, eq))) line = line.substr(0, eq) + " = " + values.at(line.substr(0, eq));
        out += line + "\n";
    }
    return out;
}

// One stunnel process on a configuration file, its log in `log`; stopped with SIGTERM (by its pid) when
// the test ends.
class Stunnel {
public:
    Stunnel(const std::string& program, const std::string& config, const std::string& log) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execl(program.c_str(), program.c_str(), config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Stunnel() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

std::string find_program(std::initializer_list<const char*> names) {
    for (const char* name : names)
        for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/"})
            if (::access((std::string(dir) + name).c_str(), X_OK) == 0) return std::string(dir) + name;
    return "";
}

bool accepts(uint16_t port) {
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

}  // namespace

TEST_F(GatewayTest, ClientTalksThroughTheExampleTlsTunnel) {
    const std::string stunnel = find_program({"stunnel4", "stunnel"});
    const std::string openssl = find_program({"openssl"});
    if (stunnel.empty() || openssl.empty()) GTEST_SKIP() << "stunnel4 or openssl is not installed (apt-get install stunnel4)";
    const std::string cert = folder_ + "/cert.pem", key = folder_ + "/key.pem";
    const std::string make_cert = openssl + " req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
                                            " -subj /CN=localhost -keyout " + key + " -out " + cert + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make_cert.c_str()), 0);
    const uint16_t tls_port = free_port(), plain_port = free_port();
    std::ofstream(folder_ + "/server.conf") << configured(
        "stunnel-server.conf", {{"accept", "127.0.0.1:" + std::to_string(tls_port)},
                                {"connect", "127.0.0.1:" + std::to_string(port())}, {"cert", cert}, {"key", key}});
    std::ofstream(folder_ + "/client.conf") << configured(
        "stunnel-client.conf", {{"accept", "127.0.0.1:" + std::to_string(plain_port)},
                                {"connect", "127.0.0.1:" + std::to_string(tls_port)}, {"CAfile", cert},
                                {"checkHost", "localhost"}});
    const Stunnel server(stunnel, folder_ + "/server.conf", folder_ + "/stunnel.log");
    const Stunnel client_end(stunnel, folder_ + "/client.conf", folder_ + "/stunnel.log");
    ASSERT_TRUE(pump_until([&] { return accepts(tls_port) && accepts(plain_port); }, std::chrono::seconds(10)));

    TestClient client(plain_port);
    client.send_first(join({"open", "SELECT name FROM people ORDER BY id", "3", "1"}));
    EXPECT_EQ(client.reply(std::chrono::seconds(10)), "ok");
    client.send(join({"all", "name"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), join({"Ann", "Bo", "Cy"}));
}
